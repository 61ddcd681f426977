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

std::optional<std::string> FindSystemDefaultTopic(TChmObjectReader& chm) {
  const std::unique_ptr<TChmObject> system = chm.ResolveObject("/#SYSTEM");
  if (!system) return std::nullopt;
  const std::vector<std::uint8_t> bytes = ReadObjectBytes(*system, SystemReadLimit);
  const std::span<const std::uint8_t> all(bytes);

  // Each record: 16-bit code, 16-bit data length, data. A record cut off by the end
  // of the bytes read leaves nothing trustworthy after it, so the walk ends there.
  std::size_t offset = SystemRecordsStart;
  while (offset < all.size()) {
    if (all.size() - offset < 4) break;
    const std::uint16_t code = ReadLittleEndian16(&all[offset]);
    const std::size_t length = ReadLittleEndian16(&all[offset + 2]);
    if (all.size() - offset - 4 < length) break;
    const std::span<const std::uint8_t> data = all.subspan(offset + 4, length);
    // An empty value (no data, or a NUL first) is passed over for a later record, as
    // is a value whose NUL is missing from its own data.
    if (code == SystemDefaultTopicCode && !data.empty() && data[0] != 0) {
      if (std::optional<std::string> topic = TerminatedText(data)) return topic;
    }
    offset += 4 + length;
  }
  return std::nullopt;
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
