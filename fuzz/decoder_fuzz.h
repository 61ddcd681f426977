#pragma once
// What the decoder fuzz targets share: an in-memory archive that holds one entry's
// data behind an empty local header, an output that only counts, and one decode
// through the frame's method dispatch. Input: byte 0 chooses the variant, bytes
// 1-3 the declared uncompressed size (little-endian, below 1 MiB), then the data.
// The output must never pass the declared size, and the decoder must end.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unzip/decode/decode_errors.h"
#include "unzip/decode/decode_state.h"

namespace decoderfuzz {

class TBytes : public kestrel::TStream {
 public:
  std::int32_t Read(void* buffer, std::int32_t count) override {
    const auto n = static_cast<std::int32_t>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(count, static_cast<std::int64_t>(data.size()) - pos)));
    if (n > 0) std::memcpy(buffer, data.data() + pos, static_cast<std::size_t>(n));
    pos += n;
    return n;
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (keep) {
      if (data.size() < static_cast<std::size_t>(pos + count)) data.resize(static_cast<std::size_t>(pos + count));
      std::memcpy(data.data() + pos, buffer, static_cast<std::size_t>(count));
    }
    pos += count;
    size = std::max(size, pos);
    return count;
  }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
    pos = origin == kestrel::soFromBeginning ? offset : origin == kestrel::soFromCurrent ? pos + offset : size + offset;
    return pos;
  }
  std::string data;
  std::int64_t pos = 0, size = 0;
  bool keep = false;  ///< an output that keeps what is written in data
};

class THost : public kestrel::TDecodeHost {
 public:
  kestrel::TStream& ArchiveStream() override { return archive; }
  void ShowError(const std::string&, const std::string&) override {}
  TBytes archive;
};

/// Decodes the input's data as one entry of the method; flags bit 0 runs the
/// password check and the cipher first.
inline int DecodeOne(const std::uint8_t* data, std::size_t size, std::uint16_t method, std::uint16_t flags) {
  if (size < 4) return 0;
  THost host;
  host.archive.data = std::string(30, '\0') + std::string(reinterpret_cast<const char*>(data + 4), size - 4);
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.Flags = flags;
  entry.CompressionMethod = method;
  entry.UncompressedSize = (data[1] | data[2] << 8 | data[3] << 16) & 0xFFFFF;
  entry.CompressedSize = static_cast<std::uint32_t>(size - 4);
  if (entry.Encrypted()) {
    host.archive.Seek(30, kestrel::soFromBeginning);
    // The header check's outcome does not matter here: decode either way.
    state.ReadEncryptionHeader("fuzz", host.archive, entry.CompressedSize);
    if (entry.CompressedSize > size) return 0;  // fewer than 12 bytes of data
  }
  TBytes output;
  try {
    state.DecodeEntryData(entry, output);
  } catch (const kestrel::Exception&) {
    // A stored entry running past the end of its data ends the run; fine.
  }
  if (output.size > static_cast<std::int64_t>(entry.UncompressedSize)) std::abort();
  return 0;
}

}  // namespace decoderfuzz
