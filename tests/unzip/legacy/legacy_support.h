#pragma once
// Helpers for the legacy-method tests: entries decoded in memory through the
// decoding frame, a tiny zip writer for archives that Info-ZIP unzip can check,
// CRC-32 of results, and deterministic test data.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/unzip/decode/decode_primitives.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/stream.h"

namespace legacytest {

/// A stream over a byte string: the decoder tests' own.
using TMemoryStream = decodetest::TMemoryStream;

/// A host over an archive in memory; message boxes are recorded, not shown.
class TMemoryHost : public kestrel::TDecodeHost {
 public:
  kestrel::TStream& ArchiveStream() override { return archive; }
  void ShowError(const std::string& text, const std::string& caption) override {
    errors.push_back(caption + ": " + text);
  }
  TMemoryStream archive;
  std::vector<std::string> errors;
};

/// The outcome of one entry.
struct TDecoded {
  bool sizeGuard = false;  ///< the output-size guard stopped the entry
  std::string output;
  std::uint32_t crc = 0;  ///< the complemented CRC register
};

/// One decoding state for a series of entries, as one extraction run has.
class TLegacyDecoder {
 public:
  TLegacyDecoder();
  /// Decodes data (the entry's compressed bytes) with the method, flags and
  /// declared uncompressed size.
  TDecoded Decode(const std::string& data, std::uint16_t method, std::uint16_t flags, std::uint32_t size);
  /// Decodes the entry of an archive in memory whose data starts at dataOffset.
  TDecoded Decode(const std::string& archive, const kestrel::TDecodeEntry& entry, std::uint64_t dataOffset);

  TMemoryHost host;
  std::unique_ptr<kestrel::TDecodeState> state;
};

/// Decodes one entry with a fresh state.
TDecoded DecodeEntry(const std::string& data, std::uint16_t method, std::uint32_t size, std::uint16_t flags = 0);

std::uint32_t Crc32(const std::string& data);

/// A zip archive of stored-as-given entries: the data is already compressed.
class TZipWriter {
 public:
  void Add(const std::string& name, std::uint16_t method, std::uint16_t flags, const std::string& compressed,
           const std::string& original);
  std::string Bytes() const;

 private:
  std::string local_, central_;
  std::uint16_t count_ = 0;
};

/// Deterministic data: English-like text, random bytes, structured binary.
std::string TextData(std::size_t size, std::uint32_t seed);
std::string RandomData(std::size_t size, std::uint32_t seed);
std::string BinaryData(std::size_t size, std::uint32_t seed);

}  // namespace legacytest
