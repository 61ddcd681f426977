// Where the extraction driver puts an entry, and which stored paths it refuses.

#include "unzip/dest_paths.h"

#include <algorithm>
#include <string_view>

#include "platform/code_page.h"

namespace kestrel {

std::string EntryDestFolder(const std::string& destDir, const std::string& rootDir, const std::string& storedFolder,
                            bool recreateDirs, const platform::TPathRules& rules) {
  // An empty DestDir is the current folder, never the root of the file system.
  std::string result = destDir.empty() ? std::string(".") : destDir;
  if (!platform::IsPathSeparator(result.back(), rules)) result += rules.Separator;
  if (!recreateDirs || storedFolder.empty()) return result;

  std::string folder = storedFolder;
  if (!rootDir.empty()) {
    // RootDir is kept with a trailing backslash; a caller on a "/" host may have
    // spelled it with slashes.
    std::string root = rootDir;
    std::replace(root.begin(), root.end(), '/', '\\');
    while (root.size() > 1 && root.back() == '\\' && root[root.size() - 2] == '\\') root.pop_back();
    if (folder.size() >= root.size() && platform::AnsiCompareText(folder.substr(0, root.size()), root) == 0)
      folder.erase(0, root.size());
  }
  // A stored drive ("C:\x\" or the drive-relative "C:x\") and any stored root
  // ("\x\", "\\server\share\") are dropped: what follows goes below DestDir.
  if (folder.size() >= 2 && folder[0] != '\\' && folder[1] == ':') folder.erase(0, 2);
  folder.erase(0, std::min(folder.find_first_not_of('\\'), folder.size()));
  if (folder.empty()) return result;
  if (rules.Separator != '\\') std::replace(folder.begin(), folder.end(), '\\', rules.Separator);
  if (folder.back() != rules.Separator) folder += rules.Separator;
  return result + folder;
}

bool StoredPathClimbs(const std::string& storedPath, const platform::TPathRules& rules) {
  if (storedPath.find('\0') != std::string::npos) return true;
  std::size_t start = 0;
  while (start <= storedPath.size()) {
    std::size_t end = storedPath.find_first_of("\\/:", start);
    if (end == std::string::npos) end = storedPath.size();
    const std::string_view part(storedPath.data() + start, end - start);
    if (part == "..") return true;
    // Win32 drops trailing dots and blanks from a name, so ". ." or "..." would
    // reach the parent there too.
    if (rules.HasDrives && part.find_first_not_of(". ") == std::string_view::npos &&
        std::count(part.begin(), part.end(), '.') >= 2)
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace kestrel
