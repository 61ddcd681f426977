#pragma once
// Paths as byte strings: taken apart and put together under one system's spelling.
// Nothing here asks the system anything, so every routine takes the rules of the
// spelling as a parameter, and the Win32 spelling is tested on any host.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// How one operating system spells paths.
struct TPathRules {
  std::string_view Separators;  ///< bytes that end a folder part
  char Separator;               ///< the separator written when joining parts
  bool HasDrives;               ///< a letter and ":" start a drive path
  bool CaseInsensitive;         ///< file names compare without regard to case
};

inline constexpr TPathRules PosixPathRules{"/", '/', false, false};
inline constexpr TPathRules Win32PathRules{"\\:", '\\', true, true};

/// The rules of the system this build runs on (the backend's).
const TPathRules& HostPathRules();

/// True when the byte ends a folder part under the rules.
inline bool IsPathSeparator(char c, const TPathRules& rules) {
  return rules.Separators.find(c) != std::string_view::npos;
}

/// A drive alone: a letter and ":" ("C:"), under rules that have drives.
bool IsBareDrive(const std::string& path, const TPathRules& rules);

/// The leading part of a path up to and including its last separator; empty when
/// there is none. A NUL byte ends the scan, as it ends a C string.
std::string PathFolderPart(const std::string& path, const TPathRules& rules = HostPathRules());
/// What follows the folder part; the whole path when there is no separator.
std::string PathNamePart(const std::string& path, const TPathRules& rules = HostPathRules());
/// The folder part without its separator; empty for a bare name. A drive's colon
/// stays ("C:" is a folder, "C" is not).
std::string PathFolder(const std::string& path, const TPathRules& rules = HostPathRules());

struct TSplitName {
  std::string Folder;     ///< up to and including the last separator
  std::string Name;       ///< the file name without its extension
  std::string Extension;  ///< from the name's last dot on, the dot included
};
/// Takes a path apart into folder, base name and extension. A dot that occurs only
/// in a folder name gives no extension.
TSplitName SplitFileName(const std::string& path, const TPathRules& rules = HostPathRules());

/// Where the extension of a path's name starts (its last dot), or npos when the
/// name has none.
std::size_t ExtensionStart(const std::string& path, const TPathRules& rules = HostPathRules());
/// The path with its name's extension replaced (or, without one, appended).
std::string ChangeExtension(const std::string& path, const std::string& extension,
                            const TPathRules& rules = HostPathRules());

/// The path ending in a separator; an empty path stays empty, and a single drive
/// letter becomes that drive's root.
std::string WithTrailingSeparator(const std::string& path, const TPathRules& rules = HostPathRules());

/// An absolute path with its "." and ".." steps and doubled separators folded away,
/// as text: links are not followed. ".." above the root stays at the root. For a
/// spelling without drives (the POSIX full path; Win32 folds its own).
std::string FoldDotSteps(const std::string& absolutePath, const TPathRules& rules = HostPathRules());

}  // namespace platform
