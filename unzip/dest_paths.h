#pragma once
// The destination rules of the extraction driver: the folder an entry goes to below
// DestDir, and the stored paths that must not be written anywhere. Pure, so that
// the Win32 spelling is tested on any host.

#include <string>

#include "platform/path.h"

namespace kestrel {

/// The folder an entry goes to, ending with rules.Separator. storedFolder is the
/// entry's folder part as the archive stores it (backslash separators, a trailing
/// backslash); with recreateDirs it is joined below destDir: a leading rootDir
/// (compared without regard to case) is removed first, and a stored root or drive
/// ("\x\", "C:\x\", "C:x\") is dropped, so the folder always lies below
/// destDir with one separator between. An empty destDir stands for the current
/// folder (".").
std::string EntryDestFolder(const std::string& destDir, const std::string& rootDir, const std::string& storedFolder,
                            bool recreateDirs, const platform::TPathRules& rules);
/// True when a stored path (backslash separators) must not be written anywhere:
/// it has a ".." component (one of dots and blanks only, with two dots or more,
/// under rules with drives, which fold such names to ".."), or a NUL byte.
bool StoredPathClimbs(const std::string& storedPath, const platform::TPathRules& rules);

}  // namespace kestrel
