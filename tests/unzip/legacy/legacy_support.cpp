#include "legacy_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "unzip/decode/explode.h"
#include "unzip/decode/unreduce.h"
#include "unzip/decode/unshrink.h"

namespace legacytest {

TLegacyDecoder::TLegacyDecoder() : state(std::make_unique<kestrel::TDecodeState>(host)) {}

TDecoded TLegacyDecoder::Decode(const std::string& data, std::uint16_t method, std::uint16_t flags,
                                std::uint32_t size) {
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = method;
  entry.Flags = flags;
  entry.CompressedSize = static_cast<std::uint32_t>(data.size());
  entry.UncompressedSize = size;
  return Decode(std::string(30, '\0') + data, entry);
}

TDecoded TLegacyDecoder::Decode(const std::string& archive, const kestrel::TDecodeEntry& entry) {
  host.archive = TMemoryStream(archive);
  TMemoryStream output;
  TDecoded result;
  const std::size_t errorsBefore = host.errors.size();
  result.sizeGuard = !state->DecodeEntryData(entry, output);
  const bool unknown = host.errors.size() > errorsBefore && host.errors.back().find("Unknown Compression") != std::string::npos;
  if (unknown && entry.CompressionMethod >= 1 && entry.CompressionMethod <= 6) {
    // The frame does not dispatch these methods yet: run the same per-entry
    // sequence here, straight into the decoder.
    host.errors.pop_back();
    output = TMemoryStream();
    kestrel::TDecodeState& s = *state;
    kestrel::TDecodeEntry nothing = entry;
    nothing.CompressionMethod = 0xFFFF;  // resets the counters and seeks, decodes nothing
    nothing.CompressedSize = 0;
    s.DecodeEntryData(nothing, output);
    host.errors.pop_back();
    s.Entry = entry;
    s.CompressedSize = entry.CompressedSize;
    s.CompressedLeft = entry.CompressedSize;
    s.EntrySize = entry.UncompressedSize;
    try {
      if (entry.CompressionMethod == 1)
        kestrel::Unshrink(s);
      else if (entry.CompressionMethod == 6)
        kestrel::Explode(s);
      else
        kestrel::Unreduce(s);
      result.sizeGuard = false;
    } catch (const kestrel::EBiggerThanUncompressed&) {
      result.sizeGuard = true;
    }
  }
  result.output = output.data;
  result.crc = ~state->CrcRegister;
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

std::string Sha256Hex(const std::string& data) {
  static constexpr std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
      0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
      0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
      0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
      0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
      0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
      0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string msg = data;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  msg.push_back(static_cast<char>(0x80));
  while (msg.size() % 64 != 56) msg.push_back('\0');
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<char>(bits >> (i * 8)));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t off = 0; off < msg.size(); off += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const unsigned char*>(msg.data() + off + 4 * i);
      w[i] = static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
             static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  char hex[65];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
  return std::string(hex, 64);
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
std::uint32_t Get16(const std::string& s, std::size_t at) {
  if (at + 2 > s.size()) throw std::runtime_error("zip record cut short");
  return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8;
}
std::uint32_t Get32(const std::string& s, std::size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }
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

std::vector<TZipEntry> ReadZipEntries(const std::string& archive) {
  std::size_t end = std::string::npos;
  for (std::size_t i = archive.size() >= 22 ? archive.size() - 22 : 0;; --i) {
    if (Get32(archive, i) == 0x06054b50) {
      end = i;
      break;
    }
    if (i == 0) break;
  }
  if (end == std::string::npos) throw std::runtime_error("no end of central directory");
  const std::uint32_t count = Get16(archive, end + 10);
  std::size_t at = Get32(archive, end + 16);
  std::vector<TZipEntry> entries;
  for (std::uint32_t n = 0; n < count; ++n) {
    if (Get32(archive, at) != 0x02014b50) throw std::runtime_error("bad central header");
    TZipEntry e;
    e.entry.Flags = static_cast<std::uint16_t>(Get16(archive, at + 8));
    e.entry.CompressionMethod = static_cast<std::uint16_t>(Get16(archive, at + 10));
    e.crc = Get32(archive, at + 16);
    e.entry.CompressedSize = Get32(archive, at + 20);
    e.entry.UncompressedSize = Get32(archive, at + 24);
    const std::uint32_t nameLength = Get16(archive, at + 28);
    const std::uint32_t extraLength = Get16(archive, at + 30);
    const std::uint32_t commentLength = Get16(archive, at + 32);
    e.entry.LocalHeaderOffset = Get32(archive, at + 42);
    e.name = archive.substr(at + 46, nameLength);
    const std::size_t local = e.entry.LocalHeaderOffset;
    if (Get32(archive, local) != 0x04034b50) throw std::runtime_error("bad local header");
    e.entry.FileNameLength = static_cast<std::uint16_t>(Get16(archive, local + 26));
    e.entry.ExtraFieldLength = static_cast<std::uint16_t>(Get16(archive, local + 28));
    entries.push_back(e);
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
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
  static const char* const words[] = {"the ",   "shrink ", "of ",   "and ",    "window ", "a ",     "reduce ",
                                      "tree ",  "code ",   "to ",   "follow ", "DLE ",    "in ",    "archive ",
                                      "entry ", "byte ",   "is ",   "match ",  "with ",   "length ", "\r\n"};
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
