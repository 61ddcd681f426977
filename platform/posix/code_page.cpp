// POSIX backend of the code-page services: the ANSI code page is UTF-8, the OEM
// code page of names stored in archives is code page 437, and the case rules touch
// ASCII letters only.

#include "platform/code_page.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <string>

#include "platform/utf8.h"

namespace platform {
namespace {

// Code page 437, bytes 0x80 to 0xFF, as Unicode code points, eight to a row.
// clang-format off
constexpr std::array<char16_t, 128> Cp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// clang-format on
static_assert(Cp437High[0] == 0x00C7 && Cp437High[0x7F] == 0x00A0);

}  // namespace

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (std::size_t at = 0; at < ansi.size();) {
    const TUtf8Character character = DecodeUtf8(ansi, at);
    at += character.Length;
    if (!character.WellFormed) {
      // One replacement character for the lead byte and the continuation bytes
      // that fitted it so far.
      out += u'\uFFFD';
    } else if (character.CodePoint >= 0x10000) {
      const std::uint32_t above = character.CodePoint - 0x10000;
      out += static_cast<char16_t>(0xD800 + (above >> 10));
      out += static_cast<char16_t>(0xDC00 + (above & 0x3FF));
    } else {
      out += static_cast<char16_t>(character.CodePoint);
    }
  }
  return out;
}

bool AnsiIsUtf8() { return true; }

std::string Utf8ToAnsi(std::string_view utf8) { return std::string(utf8); }

std::string OemToAnsi(std::string_view oem) {
  std::string out;
  out.reserve(oem.size());
  for (const char c : oem) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80)
      out += c;
    else
      AppendUtf8(out, Cp437High[byte - 0x80]);
  }
  return out;
}

namespace {

// The name iconv knows a character set by: a bare number is a Windows code page,
// which the C library calls "CP" and the number.
std::string IconvName(std::string_view charset) {
  const bool number =
      !charset.empty() && charset.find_first_not_of("0123456789") == std::string_view::npos && charset.size() < 8;
  return number ? "CP" + std::string(charset) : std::string(charset);
}

std::optional<std::string> IconvToUtf8(const std::string& from, std::string_view text) {
  const iconv_t converter = ::iconv_open("UTF-8", from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(text.size() * 4 + 4, '\0');  // a character of these sets takes at most 4 bytes of UTF-8
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* next = out.data();
  std::size_t outLeft = out.size();
  const std::size_t failed = static_cast<std::size_t>(-1);
  // The converters of Hebrew and Vietnamese hold each character back until the
  // next one shows whether a combining mark joins it: the closing call with no
  // input hands over the last one.
  const bool whole = ::iconv(converter, &in, &inLeft, &next, &outLeft) != failed && inLeft == 0 &&
                     ::iconv(converter, nullptr, nullptr, &next, &outLeft) != failed;
  ::iconv_close(converter);
  if (!whole) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view text) {
  return IconvToUtf8("CP" + std::to_string(codePage), text);
}

bool CharsetKnown(std::string_view charset) {
  if (charset.empty()) return false;
  const iconv_t converter = ::iconv_open("UTF-8", IconvName(charset).c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  ::iconv_close(converter);
  return true;
}

std::optional<std::string> CharsetToAnsi(std::string_view charset, std::string_view text) {
  if (charset.empty()) return std::nullopt;
  return IconvToUtf8(IconvName(charset), text);
}

char AnsiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AnsiLowerChar(c);
  return out;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AnsiLowerChar(a[i]));
    const auto y = static_cast<unsigned char>(AnsiLowerChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The C library's iconv converts every encoding the XML libraries meet.
std::vector<TSystemEncoding> SystemEncodings() { return {}; }

TConversionResult ConvertToUtf8(std::uint32_t, std::string_view, std::size_t& consumed, char*, std::size_t,
                                std::size_t& produced) {
  consumed = produced = 0;
  return TConversionResult::Invalid;
}

TConversionResult ConvertFromUtf8(std::uint32_t, std::string_view, std::size_t& consumed, char*, std::size_t,
                                  std::size_t& produced) {
  consumed = produced = 0;
  return TConversionResult::Invalid;
}

}  // namespace platform
