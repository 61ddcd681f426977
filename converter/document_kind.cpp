#include "converter/document_kind.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvane {
namespace {

struct TSignature {
  std::string_view Bytes;
  const char* What;
  const char* Hint = "";
};

// A zip archive that starts so was looked at as a package before; one that comes
// here was read from a pipe, or is a part of another package.
constexpr const char* ZipHint = "; a package is read from a file, or from standard input given as \"-\"";

// The first bytes of the files that are most often taken for documents by mistake.
constexpr std::array<TSignature, 9> Signatures = {{
    {"%PDF-", "a PDF document"},
    {"\x89PNG\r\n\x1A\n", "a PNG image"},
    {"GIF87a", "a GIF image"},
    {"GIF89a", "a GIF image"},
    {"\xFF\xD8\xFF", "a JPEG image"},
    // A password-protected Office Open XML document is no zip package but a
    // compound file around the encrypted package; so is an old binary .doc or .xls.
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1",
     "an office compound file (a password-protected .docx or .xlsx, or an old binary .doc or .xls)"},
    {"PK\x03\x04", "a zip archive", ZipHint},
    {"PK\x05\x06", "a zip archive", ZipHint},
    {"PK\x07\x08", "a zip archive", ZipHint},
}};

bool IsXmlSpace(std::uint32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A byte that no text holds before its markup: a control character other than
// white space (form feed and vertical tab pass as such). Bytes beyond ASCII are
// letters in one code page or another.
bool IsBinaryByte(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') || c == 0x7F;
}

// Whether the text starts with white space and a "<" in code units of width
// bytes in the byte order given: UTF-16 or UTF-32 without a byte-order mark.
bool WideMarkupFirst(std::string_view text, std::size_t width, bool bigEndian) {
  for (std::size_t at = 0; at + width <= text.size(); at += width) {
    std::uint32_t unit = 0;
    for (std::size_t i = 0; i < width; ++i) {
      unit = (unit << 8) | static_cast<unsigned char>(text[at + (bigEndian ? i : width - 1 - i)]);
    }
    if (unit == '<') return true;
    if (!IsXmlSpace(unit)) return false;
  }
  return false;
}

char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

}  // namespace

std::optional<std::string> NotXmlReason(std::string_view text) {
  // A byte-order mark of UTF-16 (either order) or of UTF-32 big-endian; UTF-32
  // little-endian starts like UTF-16 little-endian.
  if (text.starts_with("\xFE\xFF") || text.starts_with("\xFF\xFE") ||
      text.starts_with(std::string_view("\0\0\xFE\xFF", 4))) {
    return std::nullopt;
  }
  for (const TSignature& signature : Signatures) {
    if (text.starts_with(signature.Bytes)) {
      return "the file is " + std::string(signature.What) + ", not XML" + signature.Hint;
    }
  }
  std::size_t start = 0;
  if (text.starts_with("\xEF\xBB\xBF")) start = 3;
  const std::size_t open = text.find('<', start);
  const std::string_view head = text.substr(start, open == std::string_view::npos ? text.size() : open - start);
  for (std::size_t i = 0; i < head.size(); ++i) {
    const auto c = static_cast<unsigned char>(head[i]);
    if (!IsBinaryByte(c)) continue;
    // A NUL before the markup is the high byte of a wide encoding's character.
    if (c == 0 && start == 0 && open != std::string_view::npos &&
        (WideMarkupFirst(text, 2, true) || WideMarkupFirst(text, 2, false) || WideMarkupFirst(text, 4, true) ||
         WideMarkupFirst(text, 4, false))) {
      return std::nullopt;
    }
    std::string reason = "the file is not XML: a binary byte (0x";
    reason += HexDigit(c >> 4);
    reason += HexDigit(c);
    reason += " at offset " + std::to_string(start + i) + ") comes before any markup";
    return reason;
  }
  return std::nullopt;
}

}  // namespace corvane
