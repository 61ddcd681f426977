// Win32 backend of the code-page services. The programs declare UTF-8 as their
// ANSI code page in their manifest; where the system honours it (Windows 10 1903
// and later), every name is representable. On older systems the ANSI code page
// is a legacy one, and a character it cannot hold becomes "?" instead of a
// best-fit look-alike, so a name never turns silently into another file's name.

#include "platform/code_page.h"

#include <windows.h>
// The system headers define OemToAnsi as a macro for OemToCharA.
#undef OemToAnsi

#include <cstdlib>

#include "platform/utf8.h"

namespace platform {
namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToAnsi(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  // UTF-8 holds everything and takes no replacement options.
  const bool utf8 = AnsiIsUtf8();
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* replacement = utf8 ? nullptr : "?";
  const int length = ::WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, replacement, nullptr);
  if (length <= 0) return {};
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, wide.data(), size, ansi.data(), length, replacement, nullptr);
  return ansi;
}

// The OEM code page of names in archives. A process whose ANSI code page is UTF-8
// reports UTF-8 as its OEM code page too, but archive names in the OEM code page
// are never UTF-8 (those carry their own flag): take the system locale's OEM code
// page then, and code page 437, the archive format's own, when even that says UTF-8.
UINT OemCodePage() {
  const UINT reported = ::GetOEMCP();
  if (reported != CP_UTF8) return reported;
  char digits[8] = {};
  if (::GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTCODEPAGE, digits, sizeof digits) > 0) {
    const UINT fromLocale = static_cast<UINT>(std::strtoul(digits, nullptr, 10));
    if (fromLocale != 0 && fromLocale != CP_UTF8 && ::IsValidCodePage(fromLocale)) return fromLocale;
  }
  return 437;
}

bool AnsiIsSingleByte() {
  static const bool singleByte = [] {
    CPINFO info{};
    return ::GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
  }();
  return singleByte;
}

}  // namespace

bool AnsiIsUtf8() { return ::GetACP() == CP_UTF8; }

std::u16string AnsiToUtf16(std::string_view ansi) {
  // Bytes that are not valid in the code page come back as U+FFFD.
  const std::wstring wide = ToWide(CP_ACP, ansi);
  return std::u16string(wide.begin(), wide.end());
}

std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view text) {
  if (text.empty()) return std::string();
  if (!::IsValidCodePage(codePage)) return std::nullopt;
  // Every byte sequence must be a character of the code page: no replacement.
  const int size = static_cast<int>(text.size());
  const int units = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), units);
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::nullopt;
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::string OemToAnsi(std::string_view oem) {
  // A name of plain ASCII is the same in every code page.
  bool ascii = true;
  for (const char c : oem) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(oem);
  return WideToAnsi(ToWide(OemCodePage(), oem));
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (AnsiIsUtf8()) return std::string(utf8);
  return WideToAnsi(ToWide(CP_UTF8, utf8));
}

char AnsiLowerChar(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c + ('a' - 'A'));
  // In a multi-byte code page (UTF-8 among them) a byte from 0x80 on is part of a
  // character, not one: only a single-byte code page lowers it alone.
  if (static_cast<unsigned char>(c) < 0x80 || !AnsiIsSingleByte()) return c;
  char one[1] = {c};
  ::CharLowerBuffA(one, 1);
  return one[0];
}

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AnsiLowerChar(c);
  return out;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  // The user's case rules, on the texts as the ANSI code page reads them.
  // CompareStringA would read them in the user locale's own code page, which is
  // not UTF-8 even where the manifest made the process's one UTF-8.
  const std::wstring x = ToWide(CP_ACP, a), y = ToWide(CP_ACP, b);
  const int result = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, x.data(), static_cast<int>(x.size()),
                                      y.data(), static_cast<int>(y.size()));
  if (result != 0) return result - CSTR_EQUAL;
  // The comparison itself failed: fall back to the byte-wise case rule.
  const std::string lowerA = AnsiLowerCase(a), lowerB = AnsiLowerCase(b);
  return lowerA.compare(lowerB) < 0 ? -1 : (lowerA == lowerB ? 0 : 1);
}

// ---- Document encodings ----------------------------------------------------------------

namespace {

// The legacy encodings that documents (FictionBook books above all) are written in,
// under the names the IANA registry and the browsers give them, each with the code
// page that converts it. libxml2 holds 50 encodings at most and fills 22 places
// with its own, so the list stays at two dozen code pages; other names of them are
// aliases and take no place.
// clang-format off
constexpr TSystemEncoding KnownEncodings[] = {
    {"windows-1250", 1250}, {"cp1250", 1250}, {"x-cp1250", 1250},
    {"windows-1251", 1251}, {"cp1251", 1251}, {"x-cp1251", 1251},
    {"windows-1252", 1252}, {"cp1252", 1252}, {"x-cp1252", 1252},
    {"windows-1253", 1253}, {"cp1253", 1253},
    {"windows-1254", 1254}, {"cp1254", 1254},
    {"windows-1255", 1255}, {"cp1255", 1255},
    {"windows-1256", 1256}, {"cp1256", 1256},
    {"windows-1257", 1257}, {"cp1257", 1257},
    {"windows-1258", 1258}, {"cp1258", 1258},
    {"windows-874", 874},   {"cp874", 874},       {"tis-620", 874},
    {"ibm866", 866},        {"cp866", 866},       {"866", 866},
    {"koi8-r", 20866},      {"koi8r", 20866},
    {"koi8-u", 21866},
    {"ibm437", 437},        {"cp437", 437},
    {"ibm850", 850},        {"cp850", 850},
    {"ibm852", 852},        {"cp852", 852},
    {"ibm855", 855},        {"cp855", 855},
    {"macintosh", 10000},   {"x-mac-roman", 10000},
    {"x-mac-cyrillic", 10007},
    {"shift_jis", 932},     {"sjis", 932},        {"windows-31j", 932}, {"cp932", 932},
    {"euc-jp", 20932},
    {"gbk", 936},           {"gb2312", 936},      {"cp936", 936},
    {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"cp949", 949},
    {"big5", 950},          {"cp950", 950},
};
// clang-format on

// Which bytes begin a two-byte character of a code page (none in a single-byte one).
struct TLeadBytes {
  bool Lead[256] = {};
};

TLeadBytes LeadBytesOf(UINT codePage) {
  TLeadBytes lead;
  CPINFO info{};
  if (::GetCPInfo(codePage, &info) && info.MaxCharSize > 1) {
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1] && b < 256; ++b) lead.Lead[b] = true;
    }
  }
  return lead;
}

// Converts bytes of one code page into another through UTF-16; every character
// must convert exactly (no replacement, no best fit). The number of bytes written,
// or -1.
int ConvertExactly(UINT from, UINT to, const char* in, std::size_t length, char* out, std::size_t capacity) {
  if (length == 0) return 0;
  wchar_t wide[8192];
  const int units = ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(length), wide, 8192);
  if (units <= 0) return -1;
  BOOL usedDefault = FALSE;
  const bool toUtf8 = to == CP_UTF8;
  const int written = ::WideCharToMultiByte(to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, out,
                                            static_cast<int>(capacity), nullptr, toUtf8 ? nullptr : &usedDefault);
  return written <= 0 || usedDefault ? -1 : written;
}

// Converts whole characters, given by their lengths, as far as they go: the fast
// way for a run of them, and one by one to find the character that stops it.
// step(position) gives the length of the character at position, 0 for an invalid
// one, or npos for one that is incomplete at the end of the input.
template <typename TStep>
TConversionResult ConvertCharacters(UINT from, UINT to, std::string_view in, std::size_t& consumed, char* out,
                                    std::size_t capacity, std::size_t& produced, std::size_t maxOutPerChar,
                                    TStep step) {
  consumed = produced = 0;
  constexpr std::size_t RunLength = 4096;  // input bytes per system call, within the UTF-16 buffer
  while (consumed < in.size()) {
    // A run of whole characters that fits the output room.
    std::size_t end = consumed, characters = 0;
    TConversionResult stop = TConversionResult::Done;
    bool stopped = false;
    while (end < in.size() && end - consumed < RunLength) {
      const std::size_t length = step(end);
      if (length == std::string_view::npos) {
        stopped = true;  // incomplete at the end: left for the next call
        break;
      }
      if (length == 0) {
        stop = TConversionResult::Invalid;
        stopped = true;
        break;
      }
      if (produced + (characters + 1) * maxOutPerChar > capacity) {
        stop = TConversionResult::OutputFull;
        stopped = true;
        break;
      }
      end += length;
      ++characters;
    }
    const int written =
        ConvertExactly(from, to, in.data() + consumed, end - consumed, out + produced, capacity - produced);
    if (written >= 0) {
      consumed = end;
      produced += static_cast<std::size_t>(written);
    } else {
      // A character in the run does not convert: take the ones before it.
      while (consumed < end) {
        const std::size_t length = step(consumed);
        const int one = ConvertExactly(from, to, in.data() + consumed, length, out + produced, capacity - produced);
        if (one < 0) return TConversionResult::Invalid;
        consumed += length;
        produced += static_cast<std::size_t>(one);
      }
    }
    if (stopped) return stop;
  }
  return TConversionResult::Done;
}

}  // namespace

namespace {

// The Windows code page a user names: a number ("866"), "CP" or "IBM" and a
// number, "windows-" and a number, "utf-8", or a name of the encodings table
// ("shift_jis", "koi8-r", "gbk"), without regard to case; 0 when none.
UINT CodePageNamed(std::string_view charset) {
  std::string name;
  for (const char c : charset) name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  if (name == "utf-8" || name == "utf8") return CP_UTF8;
  for (const std::string_view prefix : {"windows-", "cp", "ibm", ""}) {
    if (!name.starts_with(prefix)) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    return static_cast<UINT>(std::stoul(digits));
  }
  for (const auto& encoding : KnownEncodings)
    if (name == encoding.Name) return encoding.CodePage;
  return 0;
}

}  // namespace

bool CharsetKnown(std::string_view charset) {
  const UINT codePage = CodePageNamed(charset);
  return codePage != 0 && ::IsValidCodePage(codePage);
}

std::optional<std::string> CharsetToAnsi(std::string_view charset, std::string_view text) {
  if (!CharsetKnown(charset)) return std::nullopt;
  const std::optional<std::string> utf8 = CodePageToUtf8(CodePageNamed(charset), text);
  if (!utf8) return std::nullopt;
  return Utf8ToAnsi(*utf8);
}

std::vector<TSystemEncoding> SystemEncodings() {
  std::vector<TSystemEncoding> encodings;
  for (const auto& encoding : KnownEncodings) {
    if (::IsValidCodePage(encoding.CodePage)) encodings.push_back(encoding);
  }
  return encodings;
}

TConversionResult ConvertToUtf8(std::uint32_t codePage, std::string_view in, std::size_t& consumed, char* out,
                                std::size_t capacity, std::size_t& produced) {
  const TLeadBytes lead = LeadBytesOf(codePage);
  // A character of these code pages is one or two bytes and one UTF-16 unit, so
  // at most three bytes of UTF-8.
  return ConvertCharacters(codePage, CP_UTF8, in, consumed, out, capacity, produced, 3, [&](std::size_t at) {
    if (!lead.Lead[static_cast<unsigned char>(in[at])]) return std::size_t{1};
    return at + 1 < in.size() ? std::size_t{2} : std::string_view::npos;
  });
}

TConversionResult ConvertFromUtf8(std::uint32_t codePage, std::string_view in, std::size_t& consumed, char* out,
                                  std::size_t capacity, std::size_t& produced) {
  // A character these code pages can hold takes at most two bytes there.
  return ConvertCharacters(CP_UTF8, codePage, in, consumed, out, capacity, produced, 2, [&](std::size_t at) {
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(in[at]));
    if (length == 0) return std::size_t{0};
    return at + length <= in.size() ? length : std::string_view::npos;
  });
}

}  // namespace platform
