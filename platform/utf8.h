#pragma once
// Well-formed UTF-8, as every part of the system reads and writes it: names in
// archives, topics of help files, text for the terminal, paths in references.
// Pure logic, the same on every system.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// The length of the UTF-8 sequence that a byte begins: 1 for ASCII, 2 to 4 for
/// a lead byte, 0 for a byte that begins no well-formed sequence (a continuation
/// byte, C0 and C1, which could only begin a longer form than needed, and F5 to
/// FF, which could only begin one past U+10FFFF). The bytes that follow are not
/// looked at.
std::size_t Utf8SequenceLength(unsigned char lead);

/// One character as read from a position of a text.
struct TUtf8Character {
  std::uint32_t CodePoint = 0;  ///< the character; 0 when !WellFormed
  std::size_t Length = 0;       ///< the bytes it takes, 1 to 4; never 0 for a character inside the text
  bool WellFormed = false;
};

/// Reads the character that starts at text[at] (at < text.size()). A
/// well-formed sequence gives its code point and its length. Anything else gives
/// WellFormed false, and as Length the bytes of the broken sequence: the lead
/// byte and those continuation bytes that could still have made a character
/// with it. So a byte that might begin the next character is never taken, and
/// each run of bad bytes counts as one fault:
/// - a stray continuation byte or a byte that begins nothing (Utf8SequenceLength 0): 1;
/// - a longer form than needed (E0 80..9F, F0 80..8F): 1, the lead byte alone;
/// - a surrogate (ED A0..BF): 1;
/// - a code point past U+10FFFF (F4 90..BF): 1;
/// - a sequence cut short, by a byte that does not continue it or by the end of
///   the text: the lead byte and the continuation bytes before the cut.
TUtf8Character DecodeUtf8(std::string_view text, std::size_t at);

/// Appends the UTF-8 form of codePoint (1 to 4 bytes). A surrogate or a value
/// past U+10FFFF has no UTF-8 form: U+FFFD takes its place.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

/// True when the bytes are well-formed UTF-8 from start to end.
bool IsUtf8(std::string_view text);

}  // namespace platform
