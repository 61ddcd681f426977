#include "tools/json_listing.h"

#include <chrono>
#include <cstdio>

#include "platform/utf8.h"
#include "unzip/decode/methods.h"

namespace kestrel::tool {
namespace {

/// A character below U+0100 as a JSON escape, "\u001b".
std::string Escaped(unsigned code) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", code);
  return text;
}

/// The escape of an ASCII character, or nothing when it passes as it is.
std::optional<std::string> AsciiEscape(unsigned char c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    default:
      if (c < 0x20 || c == 0x7F) return Escaped(c);
      return std::nullopt;
  }
}

/// One JSON object, built field by field on one line.
class TJsonObject {
 public:
  void String(std::string_view key, std::string_view text) { Raw(key, JsonString(text)); }
  /// A text, and its bytes beside it as KEY_bytes when they are not valid UTF-8
  /// or not those the text was read from (stored).
  void Text(std::string_view key, std::string_view text, std::string_view stored) {
    String(key, text);
    if (!platform::IsUtf8(text) || text != stored) String(std::string(key) + "_bytes", HexBytes(stored));
  }
  void Number(std::string_view key, std::uint64_t value) { Raw(key, std::to_string(value)); }
  void Raw(std::string_view key, std::string_view json) {
    text_ += text_.empty() ? "{" : ",";
    text_.append(JsonString(key)).append(":").append(json);
  }
  std::string Line() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

/// The path as listings show it: "/" between folders.
std::string SlashPath(const TZipHeaderInfo& entry) {
  std::string path = entry.StoredPath();
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

const char* Kind(const TZipHeaderInfo& entry) {
  // As extraction decides: a name that ends in a folder makes a folder, whatever its mode says.
  if (entry.FileName().empty()) return "directory";
  return entry.IsSymbolicLink() ? "symlink" : "file";
}

/// The encryption as JSON: false, or its name.
std::string Encryption(const TZipHeaderInfo& entry) {
  if (!entry.Encrypted()) return "false";
  if ((entry.Flags & FlagStrongEncryption) != 0) return "\"strong\"";
  if (entry.AesEncrypted()) return "\"aes-" + std::to_string(64 + 64 * entry.Aes.Strength) + "\"";
  // Method 99 without a valid 0x9901 field: AES of a strength nobody said.
  if (entry.CompressionMethod == AesMethod) return "\"aes\"";
  return "\"traditional\"";
}

/// The Unix mode's permission bits as an octal string, or null.
std::string Mode(const TZipHeaderInfo& entry) {
  if (!entry.HasUnixMode()) return "null";
  char text[16];
  std::snprintf(text, sizeof text, "\"%04o\"", static_cast<unsigned>((entry.ExternalAttributes >> 16) & 07777));
  return text;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const platform::TUtf8Character character = platform::DecodeUtf8(text, at);
    if (!character.WellFormed) {
      // Each byte of a broken sequence stands for a character of its own.
      json += "\\ufffd";
      ++at;
      continue;
    }
    if (character.CodePoint < 0x80) {
      const std::optional<std::string> escape = AsciiEscape(static_cast<unsigned char>(character.CodePoint));
      if (escape)
        json += *escape;
      else
        json += static_cast<char>(character.CodePoint);
    } else if (character.CodePoint < 0xA0) {
      // U+0080 to U+009F: controls, which some terminals act on.
      json += Escaped(character.CodePoint);
    } else {
      json.append(text.substr(at, character.Length));
    }
    at += character.Length;
  }
  return json + "\"";
}

std::string HexBytes(std::string_view bytes) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char b : bytes) {
    const auto value = static_cast<unsigned char>(b);
    hex += Digits[value >> 4];
    hex += Digits[value & 0x0F];
  }
  return hex;
}

std::optional<std::string> IsoUtcTime(platform::TFileTime time) {
  // 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in seconds from 1970.
  constexpr std::int64_t First = -62135596800, Last = 253402300799;
  if (time.Seconds < First || time.Seconds > Last || time.Nanoseconds < 0 || time.Nanoseconds > 999999999)
    return std::nullopt;
  constexpr std::int64_t Day = 86400;
  // Whole days from 1970, rounded down, and the seconds into the last.
  const std::int64_t days = time.Seconds / Day - (time.Seconds % Day < 0 ? 1 : 0);
  const std::int64_t second = time.Seconds - days * Day;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(second / 3600),
                static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  std::string iso = text;
  if (time.Nanoseconds != 0) {
    std::snprintf(text, sizeof text, ".%09d", static_cast<int>(time.Nanoseconds));
    std::string fraction = text;
    while (fraction.back() == '0') fraction.pop_back();
    iso += fraction;
  }
  return iso + "Z";
}

std::string IsoDosTime(std::uint32_t dos) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", 1980 + (dos >> 25), (dos >> 21) & 0x0F,
                (dos >> 16) & 0x1F, (dos >> 11) & 0x1F, (dos >> 5) & 0x3F, 2 * (dos & 0x1F));
  return text;
}

std::string JsonEntryLine(const TZipHeaderInfo& entry, const TJsonEntryFacts& facts) {
  TJsonObject object;
  const std::string name = SlashPath(entry);
  object.Text("name", name, entry.RawName());
  object.String("kind", Kind(entry));
  object.Number("size", entry.UncompressedSize);
  object.Number("compressed_size", entry.CompressedSize);
  const std::uint16_t method = entry.DataMethod();
  object.Number("method", method);
  const TCompressionMethod* known = FindMethod(method);
  object.Raw("method_name", known != nullptr ? JsonString(known->Name) : "null");
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(entry.CRC32));
  object.String("crc32", crc);
  std::optional<std::string> when;
  if (entry.ModifiedTime) when = IsoUtcTime(*entry.ModifiedTime);
  object.String("time", when ? *when : IsoDosTime(entry.DateTime));
  object.Raw("mode", Mode(entry));
  object.Raw("encrypted", Encryption(entry));
  if (entry.IsSymbolicLink() && !entry.FileName().empty()) {
    if (facts.LinkTarget)
      object.Text("link_target", *facts.LinkTarget, *facts.LinkTarget);
    else
      object.Raw("link_target", "null");
  }
  object.Text("comment", facts.Comment, facts.Comment);
  object.Text("archive", facts.Archive, facts.Archive);
  return object.Line();
}

}  // namespace kestrel::tool
