#pragma once
// What the fuzz targets share. For the decoders: an in-memory archive that holds one
// entry's data behind an empty local header, an output that only counts (or keeps
// what it is given), and one decode (DecodeEntryData) from the data on. Input of
// DecodeOne: byte 0 chooses the variant, bytes 1-3 the declared uncompressed size
// (little-endian, below 1 MiB), then the data; the output must never pass the
// declared size, and the decoder must end. For the archive targets: a private work
// folder per fuzzing process and the input written into it as a file.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/decode_errors.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/entry_decoding.h"

namespace fuzzsupport {

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
  // Memory of exactly the size asked for, so that the sanitizer sees a write past it.
  std::uint8_t* DirectStorage(std::int64_t count) override {
    if (!inPlace || count > (std::int64_t{1} << 26)) return nullptr;
    storage = std::vector<std::uint8_t>(static_cast<std::size_t>(count));
    return storage.data();
  }
  std::string data;
  std::int64_t pos = 0, size = 0;
  bool keep = false;     ///< an output that keeps what is written in data
  bool inPlace = false;  ///< an output that offers memory to be written in place
  std::vector<std::uint8_t> storage;
};

class THost : public kestrel::TDecodeHost {
 public:
  kestrel::TStream& ArchiveStream() override { return archive; }
  void ShowError(const std::string&, const std::string&) override {}
  // A stream that asks for a window of gigabytes is refused below the fuzzer's
  // memory limit.
  std::uint64_t HistoryLimit() override { return std::uint64_t{256} << 20; }
  TBytes archive;
};

/// One entry of the method whose data (behind an empty local header) is data, with
/// the declared uncompressed size, ready for Decode.
struct TEntryRun {
  TEntryRun(std::string_view data, std::uint16_t method, std::uint32_t size) {
    host.archive.data = std::string(30, '\0') + std::string(data);
    host.archive.Seek(30, kestrel::soFromBeginning);  // at the data, as the driver leaves the archive
    entry.CompressionMethod = method;
    entry.CompressedSize = data.size();
    entry.UncompressedSize = size;
  }
  /// DecodeEntryData into output.
  kestrel::TDecodeResult Decode() { return kestrel::DecodeEntryData(state, entry, output); }

  THost host;
  kestrel::TDecodeState state{host};
  kestrel::TDecodeEntry entry;
  TBytes output;
};

/// Stops the target when a part name of an office package or a book does not
/// stay inside it: empty, with a leading or trailing "/", an empty, "." or ".."
/// step.
inline void AbortUnlessInsidePackage(const std::string& part) {
  if (part.empty() || part.front() == '/' || part.back() == '/') std::abort();
  std::string_view rest = part;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view step = rest.substr(0, slash);
    if (step.empty() || step == "." || step == "..") std::abort();
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
}

/// Decodes the input's data as one entry of the method; flags bit 0 runs the
/// password check and the cipher first. With inPlace the output offers its memory.
inline int DecodeOne(const std::uint8_t* data, std::size_t size, std::uint16_t method, std::uint16_t flags,
                     bool inPlace = false) {
  if (size < 4) return 0;
  TEntryRun run(std::string_view(reinterpret_cast<const char*>(data + 4), size - 4), method,
                (data[1] | data[2] << 8 | data[3] << 16) & 0xFFFFF);
  run.entry.Flags = flags;
  run.output.inPlace = inPlace;
  if (run.entry.Encrypted()) {
    run.host.archive.Seek(30, kestrel::soFromBeginning);
    // The header check's outcome does not matter here: decode either way.
    run.state.ReadEncryptionHeader("fuzz", run.host.archive, run.entry.CompressedSize);
    if (run.entry.CompressedSize > size) return 0;  // fewer than 12 bytes of data
  }
  try {
    run.Decode();
  } catch (const kestrel::Exception&) {
    // A stored entry running past the end of its data ends the run; fine.
  }
  if (run.output.size > static_cast<std::int64_t>(run.entry.UncompressedSize)) std::abort();
  return 0;
}

// The input as a pipe gives it: read front to back, and its position asked for.
class TPipe final : public kestrel::TStream {
 public:
  TPipe(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(static_cast<std::size_t>(count), size_ - at_));
    if (n > 0) std::memcpy(buffer, data_ + at_, static_cast<std::size_t>(n));
    at_ += static_cast<std::size_t>(n);
    return n;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
    if (origin != kestrel::soFromCurrent || offset != 0) std::abort();  // a pipe cannot seek
    return static_cast<std::int64_t>(at_);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

/// A private folder for this fuzzing process (empty when none could be made).
inline const std::string& WorkFolder(const char* prefix) {
  static const std::string folder = platform::MakePrivateFolder(platform::TempFolder(), prefix);
  return folder;
}

/// Writes the input as the file name; false when it cannot.
inline bool WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
  platform::TFile file = platform::TFile::Open(name, platform::TFileAccess::Write, platform::TFileShare::None,
                                               platform::TFileCreation::CreateAlways);
  return file.IsOpen() && (size == 0 || file.Write(data, size) == static_cast<std::int64_t>(size));
}

}  // namespace fuzzsupport
