#include "legacy_support.h"

#include <array>

#include "unzip/decode/entry_decoding.h"

namespace legacytest {

TLegacyDecoder::TLegacyDecoder() : state(std::make_unique<kestrel::TDecodeState>(host)) {}

TDecoded TLegacyDecoder::Decode(const std::string& data, std::uint16_t method, std::uint16_t flags,
                                std::uint32_t size) {
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = method;
  entry.Flags = flags;
  entry.CompressedSize = static_cast<std::uint32_t>(data.size());
  entry.UncompressedSize = size;
  return Decode(std::string(30, '\0') + data, entry, 30);
}

TDecoded TLegacyDecoder::Decode(const std::string& archive, const kestrel::TDecodeEntry& entry,
                                std::uint64_t dataOffset) {
  host.archive = TMemoryStream(archive);
  host.archive.Seek(static_cast<std::int64_t>(dataOffset), kestrel::soFromBeginning);
  TMemoryStream output;
  TDecoded result;
  result.sizeGuard = kestrel::DecodeEntryData(*state, entry, output) == kestrel::drTooLarge;
  result.output = output.data;
  result.crc = state->Crc();
  return result;
}

TDecoded DecodeEntry(const std::string& data, std::uint16_t method, std::uint32_t size, std::uint16_t flags) {
  TLegacyDecoder decoder;
  return decoder.Decode(data, method, flags, size);
}

std::uint32_t Crc32(const std::string& data) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

namespace {
void Put16(std::string& s, std::uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
}  // namespace

void TZipWriter::Add(const std::string& name, std::uint16_t method, std::uint16_t flags, const std::string& compressed,
                     const std::string& original) {
  const std::uint32_t crc = Crc32(original);
  const auto offset = static_cast<std::uint32_t>(local_.size());
  const std::uint32_t dosTime = 0x52CF6470;  // 2021-06-15 12:35:32
  auto common = [&](std::string& s) {
    Put16(s, 10);  // version needed: 1.0
    Put16(s, flags);
    Put16(s, method);
    Put32(s, dosTime);
    Put32(s, crc);
    Put32(s, static_cast<std::uint32_t>(compressed.size()));
    Put32(s, static_cast<std::uint32_t>(original.size()));
    Put16(s, static_cast<std::uint32_t>(name.size()));
    Put16(s, 0);
  };
  Put32(local_, 0x04034b50);
  common(local_);
  local_ += name;
  local_ += compressed;
  Put32(central_, 0x02014b50);
  Put16(central_, 10);  // made by: MS-DOS, 1.0
  common(central_);
  Put16(central_, 0);  // comment
  Put16(central_, 0);  // disk
  Put16(central_, 0);  // internal attributes
  Put32(central_, 0);  // external attributes
  Put32(central_, offset);
  central_ += name;
  ++count_;
}

std::string TZipWriter::Bytes() const {
  std::string out = local_ + central_;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, count_);
  Put16(out, count_);
  Put32(out, static_cast<std::uint32_t>(central_.size()));
  Put32(out, static_cast<std::uint32_t>(local_.size()));
  Put16(out, 0);
  return out;
}

namespace {
std::uint32_t NextRandom(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}
}  // namespace

std::string TextData(std::size_t size, std::uint32_t seed) {
  static const char* const words[] = {"the ",   "shrink ", "of ", "and ",    "window ", "a ",      "reduce ",
                                      "tree ",  "code ",   "to ", "follow ", "DLE ",    "in ",     "archive ",
                                      "entry ", "byte ",   "is ", "match ",  "with ",   "length ", "\r\n"};
  std::uint32_t r = seed * 2654435761u + 1;
  std::string out;
  while (out.size() < size) {
    const std::uint32_t x = NextRandom(r);
    out += words[x % 21];
    if (x % 97 == 0) out += std::to_string(x % 10000) + ". ";
  }
  out.resize(size);
  return out;
}

std::string RandomData(std::size_t size, std::uint32_t seed) {
  std::uint32_t r = seed * 2654435761u + 7;
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(NextRandom(r) >> 11);
  return out;
}

std::string BinaryData(std::size_t size, std::uint32_t seed) {
  // Records of little-endian counters and flags, with a random byte here and there.
  std::uint32_t r = seed * 2654435761u + 3;
  std::string out;
  for (std::uint32_t i = 0; out.size() < size; ++i) {
    const std::uint32_t fields[4] = {i, i * 3 + 0x900, 0x90909090u, NextRandom(r) & 0x00FF00FFu};
    out.append(reinterpret_cast<const char*>(fields), sizeof fields);
  }
  out.resize(size);
  return out;
}

}  // namespace legacytest
