#include "chmtopic/default_topic.h"

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <vector>

namespace tessaly {
namespace {

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

/// The bytes before the first NUL, or nothing when the bytes hold no NUL.
std::optional<std::string> TerminatedText(std::span<const std::uint8_t> bytes) {
  const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  if (nul == bytes.end()) return std::nullopt;
  return std::string(bytes.begin(), nul);
}

/// The object's bytes from its start, as far as the container yields them and at
/// most limit. Read in pieces so that a directory entry claiming an enormous length
/// costs only the bytes that really come; the first short piece marks the end of
/// what can be read, as one read of the whole object would.
std::vector<std::uint8_t> ReadObjectBytes(TChmObject& object, std::size_t limit) {
  constexpr std::size_t pieceSize = 64 * 1024;
  const std::uint64_t wanted = std::min<std::uint64_t>(object.Length(), limit);
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < wanted) {
    const std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - bytes.size(), pieceSize));
    const std::size_t had = bytes.size();
    bytes.resize(had + ask);
    const std::size_t got = std::min(object.Retrieve(had, std::span(bytes).subspan(had, ask)), ask);
    bytes.resize(had + got);
    if (got < ask) break;
  }
  return bytes;
}

}  // namespace

std::optional<std::string> FindWindowDefaultFile(TChmObjectReader& chm) {
  const std::unique_ptr<TChmObject> windows = chm.ResolveObject("/#WINDOWS");
  if (!windows) return std::nullopt;
  std::array<std::uint8_t, WindowNameReadSize> buffer{};
  // A window entry cut short before its default-file field names no file.
  if (windows->Retrieve(WindowDefaultFileField, std::span(buffer).first(4)) < 4) return std::nullopt;
  const std::uint32_t nameOffset = ReadLittleEndian32(buffer.data());

  const std::unique_ptr<TChmObject> strings = chm.ResolveObject("/#STRINGS");
  if (!strings) return std::nullopt;
  const std::size_t count = std::min(strings->Retrieve(nameOffset, buffer), buffer.size());
  // An offset past the strings, or a name that does not end within them or within
  // 254 bytes, would give a wrong file name; the compiler's own record is better.
  return TerminatedText(std::span(buffer).first(count));
}

namespace {

// Walks the records of "/#SYSTEM" in their order, handing each code and its data
// to visit until it returns true. Each record: 16-bit code, 16-bit data length,
// data. A record cut off by the end of the bytes read leaves nothing trustworthy
// after it, so the walk ends there.
template <typename TVisit>
void WalkSystemRecords(TChmObjectReader& chm, TVisit visit) {
  const std::unique_ptr<TChmObject> system = chm.ResolveObject("/#SYSTEM");
  if (!system) return;
  const std::vector<std::uint8_t> bytes = ReadObjectBytes(*system, SystemReadLimit);
  const std::span<const std::uint8_t> all(bytes);
  std::size_t offset = SystemRecordsStart;
  while (offset < all.size()) {
    if (all.size() - offset < 4) break;
    const std::uint16_t code = ReadLittleEndian16(&all[offset]);
    const std::size_t length = ReadLittleEndian16(&all[offset + 2]);
    if (all.size() - offset - 4 < length) break;
    if (visit(code, all.subspan(offset + 4, length))) return;
    offset += 4 + length;
  }
}

}  // namespace

std::optional<std::string> FindSystemDefaultTopic(TChmObjectReader& chm) {
  std::optional<std::string> topic;
  WalkSystemRecords(chm, [&](std::uint16_t code, std::span<const std::uint8_t> data) {
    // An empty value (no data, or a NUL first) is passed over for a later record,
    // as is a value whose NUL is missing from its own data.
    if (code != SystemDefaultTopicCode || data.empty() || data[0] == 0) return false;
    topic = TerminatedText(data);
    return topic.has_value();
  });
  return topic;
}

std::optional<std::uint32_t> FindSystemLanguage(TChmObjectReader& chm) {
  std::optional<std::uint32_t> language;
  WalkSystemRecords(chm, [&](std::uint16_t code, std::span<const std::uint8_t> data) {
    if (code != SystemLanguageCode) return false;
    if (data.size() >= 4) language = ReadLittleEndian32(data.data());
    return true;
  });
  return language;
}

std::uint32_t AnsiCodePageOfLanguage(std::uint32_t lcid) {
  // Languages written in more than one script: their code page goes by the whole
  // identifier (the sublanguage names the script).
  struct TLocale {
    std::uint16_t Lcid;
    std::uint16_t CodePage;
  };
  static constexpr TLocale Locales[] = {
      {0x0004, 936},  {0x0804, 936},  {0x1004, 936},                                   // Chinese, simplified
      {0x0404, 950},  {0x0C04, 950},  {0x1404, 950},  {0x7C04, 950},                   // Chinese, traditional
      {0x0C1A, 1251}, {0x1C1A, 1251}, {0x201A, 1251}, {0x281A, 1251}, {0x301A, 1251},  // Serbian, Bosnian: Cyrillic
      {0x082C, 1251}, {0x0843, 1251},                                                  // Azerbaijani, Uzbek: Cyrillic
      {0x042C, 1254}, {0x0443, 1254},                                                  // Azerbaijani, Uzbek: Latin
  };
  for (const TLocale& locale : Locales) {
    if (locale.Lcid == (lcid & 0xFFFF)) return locale.CodePage;
  }
  // Otherwise the primary language (the low ten bits) decides.
  struct TLanguage {
    std::uint16_t Primary;
    std::uint16_t CodePage;
  };
  static constexpr TLanguage Languages[] = {
      {0x1E, 874},  // Thai
      {0x11, 932},  // Japanese
      {0x12, 949},  // Korean
      // Central European: Czech, Hungarian, Polish, Romanian, Croatian (and Latin
      // Serbian and Bosnian), Slovak, Albanian, Slovenian, Turkmen.
      {0x05, 1250},
      {0x0E, 1250},
      {0x15, 1250},
      {0x18, 1250},
      {0x1A, 1250},
      {0x1B, 1250},
      {0x1C, 1250},
      {0x24, 1250},
      {0x42, 1250},
      // Cyrillic: Bulgarian, Russian, Ukrainian, Belarusian, Tajik, Macedonian,
      // Kazakh, Kyrgyz, Tatar, Mongolian, Bashkir, Sakha.
      {0x02, 1251},
      {0x19, 1251},
      {0x22, 1251},
      {0x23, 1251},
      {0x28, 1251},
      {0x2F, 1251},
      {0x3F, 1251},
      {0x40, 1251},
      {0x44, 1251},
      {0x50, 1251},
      {0x6D, 1251},
      {0x85, 1251},
      {0x08, 1253},  // Greek
      {0x1F, 1254},  // Turkish
      {0x0D, 1255},  // Hebrew
      {0x01, 1256},
      {0x20, 1256},
      {0x29, 1256},  // Arabic, Urdu, Persian
      {0x25, 1257},
      {0x26, 1257},
      {0x27, 1257},  // Estonian, Latvian, Lithuanian
      {0x2A, 1258},  // Vietnamese
      // Written in Unicode only: Armenian, Georgian, the languages of India,
      // Nepali, Tibetan, Khmer, Lao, Amharic, Syriac, Divehi.
      {0x2B, 0},
      {0x37, 0},
      {0x39, 0},
      {0x45, 0},
      {0x46, 0},
      {0x47, 0},
      {0x48, 0},
      {0x49, 0},
      {0x4A, 0},
      {0x4B, 0},
      {0x4C, 0},
      {0x4D, 0},
      {0x4E, 0},
      {0x4F, 0},
      {0x51, 0},
      {0x53, 0},
      {0x54, 0},
      {0x57, 0},
      {0x5A, 0},
      {0x5E, 0},
      {0x61, 0},
      {0x65, 0},
      {0x00, 0},  // neutral: no language at all
  };
  const std::uint32_t primary = lcid & 0x3FF;
  for (const TLanguage& language : Languages) {
    if (language.Primary == primary) return language.CodePage;
  }
  // The languages of Western Europe and the Americas, and the rest that Windows
  // writes in its Latin code page.
  return 1252;
}

std::string LookUpDefaultTopic(TChmObjectReader& chm) {
  if (std::optional<std::string> windowFile = FindWindowDefaultFile(chm)) return *windowFile;
  return FindSystemDefaultTopic(chm).value_or(std::string());
}

std::string TopicAddress(const std::string& chmPath, const std::string& topic) {
  std::string address;
  address.reserve(AddressPrefix.size() + chmPath.size() + AddressTopicSeparator.size() + topic.size());
  address.append(AddressPrefix).append(chmPath).append(AddressTopicSeparator).append(topic);
  return address;
}

}  // namespace tessaly
