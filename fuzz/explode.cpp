// Explode (method 6) over arbitrary entry data. Input: byte 0 the general-purpose
// flags (bits 1 and 2 choose the dictionary and the trees), bytes 1-3 the declared
// uncompressed size (little-endian, below 1 MiB), then the entry's data.
// The output must never pass the declared size, and the decoder must end.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unzip/decode/decode_state.h"
#include "unzip/decode/explode.h"

namespace {

// Counts what is written; the content is not kept.
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
  // A local header with no name or extra field, then the data.
  host.archive.data = std::string(30, '\0') + std::string(reinterpret_cast<const char*>(data + 4), size - 4);
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.Flags = static_cast<std::uint16_t>(data[0] & 0x06);
  entry.CompressionMethod = 6;
  entry.CompressedSize = static_cast<std::uint32_t>(size - 4);
  entry.UncompressedSize = (data[1] | data[2] << 8 | data[3] << 16) & 0xFFFFF;
  TBytes output;
  // The frame's per-entry setup, with a method it does not decode: counters reset,
  // archive at the data. Then the decoder itself.
  kestrel::TDecodeEntry setup = entry;
  setup.CompressionMethod = 0xFFFF;
  setup.CompressedSize = 0;
  state.DecodeEntryData(setup, output);
  state.Entry = entry;
  state.CompressedSize = entry.CompressedSize;
  state.CompressedLeft = static_cast<std::int32_t>(entry.CompressedSize);
  state.EntrySize = static_cast<std::int32_t>(entry.UncompressedSize);
  try {
    kestrel::Explode(state);
  } catch (const kestrel::EBiggerThanUncompressed&) {
  }
  if (output.size > static_cast<std::int32_t>(entry.UncompressedSize)) std::abort();
  return 0;
}
