#pragma once
// Well-formed UTF-8, as every part of the system judges it: names in archives,
// topics of help files, text for the terminal. Pure logic, the same on every system.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

/// The length of the UTF-8 character that starts at text[at], with its code point
/// in codePoint; 0 when no well-formed character starts there (a stray
/// continuation byte, a sequence cut short, a longer form than needed, a
/// surrogate, a code point past U+10FFFF).
std::size_t Utf8CharacterAt(std::string_view text, std::size_t at, std::uint32_t& codePoint);

/// True when the bytes are well-formed UTF-8 from start to end.
bool IsUtf8(std::string_view text);

}  // namespace platform
