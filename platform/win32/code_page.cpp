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

}  // namespace platform
