#pragma once
// Helpers for the decoder tests: a memory stream, a host that records what the
// frame asks of it, a bit writer for crafted deflate streams, and a small reader of
// the zip records needed to find an entry's data in archives made by zip.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/unzip/decode/decode_primitives.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/entry_decoding.h"
#include "unzip/decode/stream.h"

namespace decodetest {

/// A host over an archive in memory that records the events.
class TTestHost : public kestrel::TDecodeHost {
 public:
  explicit TTestHost(std::string archive) : archive_(std::move(archive)) {}

  kestrel::TStream& ArchiveStream() override { return archive_; }
  bool DoProcessMessages() override { return true; }
  void ProcessMessages() override { ++pumps; }
  bool TakeCancelRequest() override {
    const bool c = cancelAfterPumps >= 0 && pumps > cancelAfterPumps;
    if (c) cancelAfterPumps = -1;
    return c;
  }
  bool HasFilePercentDone() override { return true; }
  void FilePercentDone(std::int32_t percent) override { filePercents.push_back(percent); }
  bool HasTotalPercentDone() override { return total > 0; }
  std::int64_t AddBytesDone(std::int32_t count) override { return btsDone += count; }
  std::int64_t TotalBytes() override { return total; }
  void TotalPercentDone(std::int32_t percent) override { totalPercents.push_back(percent); }
  void ShowError(const std::string& text, const std::string& caption) override {
    errors.push_back(caption + ": " + text);
  }

  TMemoryStream archive_;
  int pumps = 0;
  int cancelAfterPumps = -1;
  std::vector<std::int32_t> filePercents, totalPercents;
  std::int64_t btsDone = 0, total = 0;
  std::vector<std::string> errors;
};

/// The outcome of decoding one entry.
struct TDecoded {
  kestrel::TDecodeResult result = kestrel::drDecoded;
  bool ok = false;  ///< drDecoded
  std::string output;
  std::uint32_t crc = 0;  ///< complemented CRC register
  std::vector<std::int32_t> writes;
};

/// Wraps data as the only entry of a minimal archive: a 30-byte local header with
/// no name, then the data.
std::string WithLocalHeader(const std::string& data);

/// Decodes the entry whose data follows a 30-byte local header at the start of
/// the state's archive: seeks the archive to the data, where the driver leaves
/// it, and decodes from there.
kestrel::TDecodeResult DecodeBehindHeader(kestrel::TDecodeState& state, const kestrel::TDecodeEntry& entry,
                                          kestrel::TStream& output);

/// Decodes data (an entry's bytes) with the method and declared sizes.
TDecoded DecodeData(const std::string& data, std::uint16_t method, std::uint32_t uncompressedSize,
                    TTestHost* host = nullptr);

/// Raw deflate (no zlib header) made by Python's zlib at the level.
std::string PythonDeflate(const std::string& data, int level);

/// Writes bits least significant first, as deflate reads them.
class TBitWriter {
 public:
  void Bits(std::uint32_t value, int count);
  /// A Huffman code, sent most significant bit first.
  void Code(std::uint32_t code, int length);
  /// Pads to a byte boundary with the given bit value.
  void Align(int fill = 0);
  void Byte(std::uint8_t b) { Bits(b, 8); }
  std::string Bytes() const;

  /// Fixed-code symbols.
  void FixedLiteral(unsigned symbol);
  void FixedDistance(unsigned code) { Code(code, 5); }

 private:
  std::string bytes_;
  std::uint32_t acc_ = 0;
  int count_ = 0;
};

/// Writes a dynamic block header (after BFINAL/BTYPE) sending every length as
/// itself, with the code-length code giving symbols 0-15 four bits each.
void DynamicHeader(TBitWriter& w, const std::vector<int>& literalLengths, const std::vector<int>& distanceLengths);

/// One entry of an archive, from its central header and local header.
struct TZipEntry {
  std::string name;
  kestrel::TDecodeEntry entry;
  /// Where its data starts, past the local header's name and extra field.
  std::uint64_t dataOffset = 0;
  std::uint32_t crc = 0;
  std::uint32_t dosDateTime = 0;
};
std::vector<TZipEntry> ReadZipEntries(const std::string& archive);

/// Deterministic test data: text-like, with repeats and a slow drift.
std::string TextData(std::size_t size, std::uint32_t seed);
std::string RandomData(std::size_t size, std::uint32_t seed);

}  // namespace decodetest
