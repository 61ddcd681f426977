// Inflate (and the stored copy, and the cipher in front of both) over arbitrary
// entry data. Input: byte 0 flags (bit 0 encrypted, bit 1 stored instead of
// deflated), bytes 1-3 the declared uncompressed size (little-endian, below
// 1 MiB), then the entry's data. The output must never pass the declared size.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unzip/decode/decode_state.h"

namespace {

class TBytes : public kestrel::TStream {
 public:
  std::int32_t Read(void* buffer, std::int32_t count) override {
    const std::int32_t n = std::max(0, std::min(count, static_cast<std::int32_t>(data.size()) - pos));
    if (n > 0) std::memcpy(buffer, data.data() + pos, static_cast<std::size_t>(n));
    pos += n;
    return n;
  }
  std::int32_t Write(const void*, std::int32_t count) override {
    pos += count;
    size = std::max(size, pos);
    return count;
  }
  std::int32_t Seek(std::int32_t offset, std::int16_t origin) override {
    pos = origin == kestrel::soFromBeginning ? offset : origin == kestrel::soFromCurrent ? pos + offset : size + offset;
    return pos;
  }
  std::string data;
  std::int32_t pos = 0, size = 0;
};

class THost : public kestrel::TDecodeHost {
 public:
  kestrel::TStream& ArchiveStream() override { return archive; }
  void ShowError(const std::string&, const std::string&) override {}
  TBytes archive;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  THost host;
  host.archive.data = std::string(30, '\0') + std::string(reinterpret_cast<const char*>(data + 4), size - 4);
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.Flags = (data[0] & 1) ? 1 : 0;
  entry.CompressionMethod = (data[0] & 2) ? 0 : 8;
  entry.UncompressedSize = data[1] | data[2] << 8 | (data[3] & 0x0F) << 16;
  entry.CompressedSize = static_cast<std::uint32_t>(size - 4);
  if (entry.Encrypted()) {
    // The header check's outcome does not matter here: decode either way.
    state.ReadEncryptionHeader("fuzz", host.archive, entry.CompressedSize);
    if (entry.CompressedSize > size) return 0;  // fewer than 12 bytes of data
  }
  TBytes out;
  try {
    state.DecodeEntryData(entry, out);
  } catch (const kestrel::Exception&) {
    // A stored entry running past the end of the data ends the run; fine.
  }
  if (static_cast<std::uint32_t>(out.size) > entry.UncompressedSize) std::abort();
  return 0;
}
