#pragma once
// The destination rules of the extraction driver: the folder an entry goes to below
// DestDir, and the stored paths that must not be written anywhere. Pure, so that
// the Win32 spelling is tested on any host.

#include <string>
#include <string_view>

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

/// The name Windows can create for one component of a stored path: each character
/// it forbids (<>:"|?* and the controls) becomes "_", so does a trailing dot or
/// blank, and the name of a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, COM and
/// LPT with a superscript digit, CONIN$, CONOUT$; in any case, alone or before a
/// dot: "aux.txt", "Nul.tar.gz") gets a leading "_". "." and ".." and every other
/// name come back unchanged.
std::string WindowsSafeName(std::string_view component);
/// The stored path (backslash separators) with each component made one Windows can
/// create (WindowsSafeName). A leading drive ("C:") stays, for EntryDestFolder to
/// drop; any later ":" is a character of a name, and becomes "_".
std::string WindowsSafeStoredPath(const std::string& storedPath);

}  // namespace kestrel
