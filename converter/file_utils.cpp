#include "converter/file_utils.h"

#include <cctype>
#include <vector>

namespace corvane {
namespace {

bool IsSeparator(char c, const TPathRules& rules) { return rules.Separators.find(c) != std::string_view::npos; }

// Index of the byte that ends the folder part, or npos. A NUL byte ends the scan
// too, as it ends a C string.
std::size_t FolderEnd(const std::string& path, const TPathRules& rules) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (IsSeparator(path[i], rules) || path[i] == '\0') return i;
  }
  return std::string::npos;
}

bool IsBareDrive(const std::string& path, const TPathRules& rules) {
  return rules.HasDrives && path.size() == 2 && path[1] == ':' &&
         std::isalpha(static_cast<unsigned char>(path[0])) != 0;
}

}  // namespace

std::string ExpandPath(const std::string& path) { return platform::FullPath(path); }

bool FileReadable(const std::string& path) {
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  return file.IsOpen() && file.Close();
}

bool FolderExists(const std::string& path) {
  const auto attributes = platform::ReadAttributes(path);
  return attributes && (*attributes & platform::faDirectory) != 0;
}

std::string WithTrailingSeparator(const std::string& path, const TPathRules& rules) {
  if (path.empty() || IsSeparator(path.back(), rules)) return path;
  if (rules.HasDrives && path.size() == 1 && std::isalpha(static_cast<unsigned char>(path[0])) != 0) {
    return path + ":" + rules.Separator;
  }
  return path + rules.Separator;
}

std::string PathFolderPart(const std::string& path, const TPathRules& rules) {
  const std::size_t end = FolderEnd(path, rules);
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::string PathNamePart(const std::string& path, const TPathRules& rules) {
  const std::size_t end = FolderEnd(path, rules);
  return end == std::string::npos ? path : path.substr(end + 1);
}

TSplitName SplitFileName(const std::string& path, const TPathRules& rules) {
  // One scan from the last byte to the first: the extension runs back to the
  // name's last dot, the name back to the last separator, the rest is the folder.
  TSplitName parts;
  std::size_t i = path.size();
  if (path.find('.') != std::string::npos) {
    while (i > 0) {
      const char c = path[i - 1];
      if (IsSeparator(c, rules)) {
        // A dot in a folder name only: no extension after all.
        parts.Name = path.substr(i, std::string::npos);
        parts.Folder = path.substr(0, i);
        return parts;
      }
      --i;
      if (c == '.') break;
    }
    parts.Extension = path.substr(i);
  }
  std::size_t nameEnd = i;
  while (i > 0 && !IsSeparator(path[i - 1], rules)) --i;
  parts.Name = path.substr(i, nameEnd - i);
  parts.Folder = path.substr(0, i);
  return parts;
}

void ForceFolders(const std::string& path, const TPathRules& rules) {
  // Every spelling the system takes for a folder works: doubled and trailing
  // separators ("out//"), "." steps. The folders missing from the innermost
  // outwards are gathered first, then made outermost first; a path of thousands
  // of steps costs no deeper stack than one of two.
  std::vector<std::string> missing;
  std::string folder = path;
  for (;;) {
    while (!folder.empty() && folder.back() != ':' && IsSeparator(folder.back(), rules)) folder.pop_back();
    // A root or a bare drive always exists.
    if (folder.empty() || IsBareDrive(folder, rules) || FolderExists(folder)) break;
    missing.push_back(folder);
    const std::size_t end = FolderEnd(folder, rules);
    // No parent, or one that ends where the folder does ("X:" of a name "X:").
    if (end == std::string::npos || end + 1 >= folder.size()) break;
    folder.resize(end + 1);
  }
  for (auto step = missing.rbegin(); step != missing.rend(); ++step) platform::MakeFolder(*step);
}

bool ClearFolderTree(const std::string& path, bool removeFolder) {
  const TPathRules& rules = platform::HostPathRules();
  if (!FolderExists(path)) return false;
  const std::string folder = WithTrailingSeparator(path, rules);
  const auto entries = platform::ListFolder(folder);
  if (!entries) return false;
  bool result = true;
  for (const auto& entry : *entries) {
    // Only the folder's own entries are passed over; dot-named files such as
    // _rels/.rels are removed like any other.
    if (entry.Name == "." || entry.Name == "..") continue;
    if (entry.Attributes == platform::faVolumeId) continue;
    const std::string child = folder + entry.Name;
    if ((entry.Attributes & platform::faDirectory) != 0) {
      // A folder without write permission keeps its entries; open it up first.
      if ((entry.Attributes & platform::faReadOnly) != 0) platform::WriteAttributes(child, platform::faDirectory);
      result = ClearFolderTree(child, removeFolder) && result;
      continue;
    }
    if ((entry.Attributes & platform::faVolumeId) != 0) continue;
    if ((entry.Attributes & platform::faReadOnly) != 0) platform::WriteAttributes(child, platform::faArchive);
    result = platform::RemoveFile(child) && result;
  }
  if (removeFolder && result && !IsBareDrive(path, rules)) result = platform::RemoveFolder(path);
  return result;
}

}  // namespace corvane
