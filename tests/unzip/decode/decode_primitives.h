#pragma once
// Test helpers without a test framework, shared by the decoder tests, the legacy
// method tests and the benchmarks: a stream over a byte string, and canonical
// Huffman codes from code lengths.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "unzip/decode/stream.h"

namespace decodetest {

/// A stream over a byte string; records the size of every write. A write limit
/// makes writes past it come up short.
class TMemoryStream : public kestrel::TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data(std::move(bytes)) {}

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override;
  /// With inPlace, fresh memory of exactly count bytes, left unfilled: an entry
  /// may declare megabytes and write a few, and filling them cost more than the
  /// decoding under the sanitizers (a decoder must not read what it has not
  /// written anyway). What is written from there is copied into data all the
  /// same. A copy of the stream shares the memory; streams are copied unwritten.
  std::uint8_t* DirectStorage(std::int64_t count) override;

  std::string data;
  std::int64_t pos = 0;
  std::int64_t writeLimit = -1;
  std::vector<std::int32_t> writes;
  bool inPlace = false;
  std::shared_ptr<std::uint8_t[]> storage;
};

/// Canonical codes of the given lengths (0 = unused).
std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths);

}  // namespace decodetest
