#pragma once
// File and path routines of the converter. They work on byte strings in the
// system's ANSI code page, print nothing and never throw: failures show only in
// their results. The pure routines take the path rules as a parameter, so the
// Win32 spelling is tested on any host.

#include <string>

#include "platform/file_system.h"

namespace corvane {

using platform::TPathRules;

/// Absolute form of a path, "." and ".." folded; empty when the system call fails.
std::string ExpandPath(const std::string& path);
/// True when the file can be opened for reading (a folder cannot).
bool FileReadable(const std::string& path);
/// True when the path names an existing folder.
bool FolderExists(const std::string& path);

/// The path ending in a separator; an empty path stays empty, and a single drive
/// letter becomes that drive's root.
std::string WithTrailingSeparator(const std::string& path, const TPathRules& rules = platform::HostPathRules());
/// The leading part of a path up to and including its last separator; empty when
/// there is none.
std::string PathFolderPart(const std::string& path, const TPathRules& rules = platform::HostPathRules());
/// What follows the folder part; the whole path when there is no separator.
std::string PathNamePart(const std::string& path, const TPathRules& rules = platform::HostPathRules());

struct TSplitName {
  std::string Folder;     ///< up to and including the last separator
  std::string Name;       ///< the file name without its extension
  std::string Extension;  ///< from the name's last dot on, the dot included
};
/// Takes a path apart into folder, base name and extension. A dot that occurs
/// only in a folder name gives no extension.
TSplitName SplitFileName(const std::string& path, const TPathRules& rules = platform::HostPathRules());

/// Creates a folder and its missing parents, however the path spells it (doubled
/// or trailing separators, "." steps). An empty path, a root and a bare drive are
/// left alone; failures are not reported.
void ForceFolders(const std::string& path, const TPathRules& rules = platform::HostPathRules());

/// Deletes everything inside a folder (read-only files included), and with
/// removeFolder the folder itself. Every entry is tried even after a failure;
/// returns true when everything went. Links are deleted, never followed.
bool ClearFolderTree(const std::string& path, bool removeFolder);

}  // namespace corvane
