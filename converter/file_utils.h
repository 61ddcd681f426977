#pragma once
// File and path routines of the converter. They work on byte strings in the
// system's ANSI code page, print nothing and never throw: failures show only in
// their results. The pure path routines are the platform's (platform/path.h).

#include <string>

#include "platform/file_system.h"

namespace corvane {

using platform::TPathRules;

/// Absolute form of a path, "." and ".." folded; empty when the system call fails.
std::string ExpandPath(const std::string& path);
/// True when the file can be opened for reading (a folder cannot).
bool FileReadable(const std::string& path);
// The path vocabulary of the platform, under the names the converter uses.
using platform::FolderExists;
using platform::ForceFolders;
using platform::PathFolderPart;
using platform::PathNamePart;
using platform::SplitFileName;
using platform::TSplitName;
using platform::WithTrailingSeparator;

/// Deletes everything inside a folder (read-only files included), and with
/// removeFolder the folder itself. Every entry is tried even after a failure;
/// returns true when everything went. Links are deleted, never followed.
bool ClearFolderTree(const std::string& path, bool removeFolder);

}  // namespace corvane
