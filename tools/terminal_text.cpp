#include "tools/terminal_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/utf8.h"

namespace kestrel::tool {
namespace {

std::string Hex(std::uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(value));
  return text;
}

int CharacterWidth(std::uint32_t c) {
  // Combining marks take no column of their own.
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                    (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

}  // namespace

std::string TerminalText(std::string_view text, bool keepLineEnds) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (keepLineEnds && (c == '\n' || (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n'))) {
      shown += text[at++];
    } else if (c < 0x20 || c == 0x7F) {
      shown += '^';
      shown += static_cast<char>(c ^ 0x40);
      ++at;
    } else if (c < 0x80) {
      shown += text[at++];
    } else {
      const platform::TUtf8Character character = platform::DecodeUtf8(text, at);
      if (!character.WellFormed) {
        // Not UTF-8: a byte of another code page, which a terminal may still take
        // for a C1 control. Only the one byte is shown so: the next may begin a
        // character.
        shown += c <= 0x9F ? Hex(c) : std::string(1, text[at]);
        ++at;
      } else {
        shown +=
            character.CodePoint <= 0x9F ? Hex(character.CodePoint) : std::string(text.substr(at, character.Length));
        at += character.Length;
      }
    }
  }
  return shown;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t at = 0; at < text.size();) {
    // A byte that is not part of a character takes a column of its own.
    const platform::TUtf8Character character = platform::DecodeUtf8(text, at);
    width += character.WellFormed ? static_cast<std::size_t>(CharacterWidth(character.CodePoint)) : 1;
    at += character.WellFormed ? character.Length : 1;
  }
  return width;
}

std::string FitToWidth(std::string_view text, std::size_t columns) {
  if (DisplayWidth(text) <= columns) return std::string(text);
  if (columns < 3) return std::string(columns, '.');
  // The longest end of the text that fits beside "...", taken character by character.
  std::size_t start = text.size();
  std::size_t width = 0;
  while (start > 0) {
    std::size_t from = start - 1;
    while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80 && start - from < 4) --from;
    // Bytes that do not end in a whole character are taken one by one.
    const platform::TUtf8Character character = platform::DecodeUtf8(text, from);
    const bool whole = character.WellFormed && character.Length == start - from;
    if (!whole) from = start - 1;
    const std::size_t add = whole ? static_cast<std::size_t>(CharacterWidth(character.CodePoint)) : 1;
    if (width + add > columns - 3) break;
    width += add;
    start = from;
  }
  return "..." + std::string(text.substr(start));
}

}  // namespace kestrel::tool
