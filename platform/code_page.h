#pragma once
// Code-page services: the system's ANSI code page (UTF-8 on POSIX), the OEM code
// page of names stored in zip archives, and the ANSI case rules.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

/// UTF-8 form of text in a Windows code page (1251, 932 ...). Nothing when the
/// system does not know the code page, or the text holds a byte sequence that is
/// no character of it.
std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view text);

/// True when the system converts text from the character set a user names:
/// what iconv knows on POSIX ("CP866", "SHIFT_JIS", "GBK" ...), the Windows code
/// pages on Windows ("CP866", "866", "windows-1251", "shift_jis" ...). A bare
/// number names a Windows code page on both.
bool CharsetKnown(std::string_view charset);
/// ANSI form of text in a named character set, as CharsetKnown takes the name.
/// Nothing when the set is unknown or the text holds a byte sequence that is no
/// character of it; characters the ANSI code page cannot hold become "?".
std::optional<std::string> CharsetToAnsi(std::string_view charset, std::string_view text);

/// Lower case of one ANSI byte; on POSIX only ASCII letters change.
char AnsiLowerChar(char c);
/// Lower case of an ANSI string, byte by byte as AnsiLowerChar.
std::string AnsiLowerCase(std::string_view text);
/// Compares without regard to case: negative, 0 or positive.
int AnsiCompareText(std::string_view a, std::string_view b);

// ---- Document encodings that the system converts ---------------------------------------

/// One name under which documents name a character encoding that the system
/// converts itself. Names of one encoding share its code page.
struct TSystemEncoding {
  std::string_view Name;  ///< as documents write it, e.g. "windows-1251"
  std::uint32_t CodePage;
};

/// The encodings that XML libraries of this system cannot read without the
/// system's help, names of one encoding next to each other: on Windows the legacy
/// code pages (windows-1251, koi8-r, ibm866, shift_jis ...); none on POSIX, whose C
/// library converts every encoding.
std::vector<TSystemEncoding> SystemEncodings();

enum class TConversionResult {
  Done,        ///< everything consumed, but an incomplete character left at the end
  OutputFull,  ///< stopped for lack of room in the output
  Invalid,     ///< stopped at a character that cannot be converted
};

/// Converts text of one of the SystemEncodings into UTF-8, whole characters only.
/// consumed and produced tell how far it came; crInvalid stops before the first
/// byte sequence that is no character of the encoding.
TConversionResult ConvertToUtf8(std::uint32_t codePage, std::string_view in, std::size_t& consumed, char* out,
                                std::size_t capacity, std::size_t& produced);
/// Converts UTF-8 text into one of the SystemEncodings, whole characters only.
/// crInvalid stops before the first character that the encoding cannot hold (or
/// that is not valid UTF-8), so the caller can write it otherwise.
TConversionResult ConvertFromUtf8(std::uint32_t codePage, std::string_view in, std::size_t& consumed, char* out,
                                  std::size_t capacity, std::size_t& produced);

}  // namespace platform
