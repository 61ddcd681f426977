#pragma once
// Code-page services: the system's ANSI code page (UTF-8 on POSIX), the OEM code
// page of names stored in zip archives, and the ANSI case rules.

#include <string>
#include <string_view>

namespace platform {

/// UTF-16 form of an ANSI string. Bytes that are not valid in the ANSI code page
/// become U+FFFD, so the result is always well-formed.
std::u16string AnsiToUtf16(std::string_view ansi);

/// True when the system's ANSI code page is UTF-8 (always on POSIX; on Windows
/// when the program's manifest could make it so).
bool AnsiIsUtf8();

/// ANSI form of a name stored in the OEM code page (code page 437 on POSIX).
/// A character that the ANSI code page cannot hold becomes "?", which no file
/// name may contain: such a name fails to be created rather than turning into
/// a different one.
std::string OemToAnsi(std::string_view oem);
/// ANSI form of a UTF-8 name (a name flagged as UTF-8 in an archive). Unchanged
/// when the ANSI code page is UTF-8; otherwise characters it cannot hold become "?".
std::string Utf8ToAnsi(std::string_view utf8);

/// Lower case of one ANSI byte; on POSIX only ASCII letters change.
char AnsiLowerChar(char c);
/// Lower case of an ANSI string, byte by byte as AnsiLowerChar.
std::string AnsiLowerCase(std::string_view text);
/// Compares without regard to case: negative, 0 or positive.
int AnsiCompareText(std::string_view a, std::string_view b);

}  // namespace platform
