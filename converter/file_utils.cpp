#include "converter/file_utils.h"

namespace corvane {

std::string ExpandPath(const std::string& path) { return platform::FullPath(path); }

bool FileReadable(const std::string& path) {
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  return file.IsOpen() && file.Close();
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
  if (removeFolder && result && !platform::IsBareDrive(path, rules)) result = platform::RemoveFolder(path);
  return result;
}

}  // namespace corvane
