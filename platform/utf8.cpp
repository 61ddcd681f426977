#include "platform/utf8.h"

namespace platform {

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

TUtf8Character DecodeUtf8(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = Utf8SequenceLength(lead);
  if (length == 1) return {lead, 1, true};
  if (length == 0) return {0, 1, false};
  // The second byte alone rules out the longer forms (after E0 and F0), the
  // surrogates (after ED) and the code points past U+10FFFF (after F4); every
  // other continuation byte is 80 to BF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  std::uint32_t codePoint = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (std::size_t taken = 1; taken < length; ++taken) {
    if (at + taken >= text.size()) return {0, taken, false};
    const unsigned char next = byte(at + taken);
    if (next < (taken == 1 ? low : 0x80) || next > (taken == 1 ? high : 0xBF)) return {0, taken, false};
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  return {codePoint, length, true};
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) codePoint = 0xFFFD;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const TUtf8Character character = DecodeUtf8(text, at);
    if (!character.WellFormed) return false;
    at += character.Length;
  }
  return true;
}

}  // namespace platform
