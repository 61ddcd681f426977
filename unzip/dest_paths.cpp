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

namespace {

/// True when the name, up to its first dot and without the blanks before it, is a
/// device's: Windows opens the device for it whatever the folder.
bool NamesDevice(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper(base);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" || upper == "CONOUT$")
    return true;
  if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
  const std::string_view number = std::string_view(upper).substr(3);
  // A digit, or a superscript one, two or three: in UTF-8 or in the ANSI code page.
  constexpr std::string_view superscripts[] = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3", "\xB9", "\xB2", "\xB3"};
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  for (std::string_view superscript : superscripts)
    if (number == superscript) return true;
  return false;
}

}  // namespace

std::string WindowsSafeName(std::string_view component) {
  std::string safe(component);
  if (safe.empty() || safe == "." || safe == "..") return safe;
  for (char& c : safe)
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) c = '_';
  if (safe.back() == '.' || safe.back() == ' ') safe.back() = '_';
  if (NamesDevice(safe)) safe.insert(0, 1, '_');
  return safe;
}

std::string WindowsSafeStoredPath(const std::string& storedPath) {
  // A leading drive ("C:\x", or the drive-relative "C:x") is EntryDestFolder's to
  // drop; any later colon is part of a name.
  const bool drive = storedPath.size() >= 2 && storedPath[0] != '\\' && storedPath[1] == ':';
  std::string safe = drive ? storedPath.substr(0, 2) : std::string();
  for (std::size_t start = drive ? 2 : 0; start <= storedPath.size();) {
    std::size_t end = storedPath.find('\\', start);
    if (end == std::string::npos) end = storedPath.size();
    safe += WindowsSafeName(std::string_view(storedPath).substr(start, end - start));
    if (end < storedPath.size()) safe += '\\';
    start = end + 1;
  }
  return safe;
}

}  // namespace kestrel
