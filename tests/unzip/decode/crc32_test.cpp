// CRC-32 over buffers: the sliced and folded paths against the one-step definition.

#include "unzip/decode/crc32.h"

#include <gtest/gtest.h>

#include "decode_test_support.h"

namespace {

std::uint32_t Bytewise(std::uint32_t crc, const std::string& s, std::size_t from, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) crc = kestrel::CrcStep(crc, static_cast<std::uint8_t>(s[from + i]));
  return crc;
}

TEST(DecodeCrc32, CheckValues) {
  EXPECT_EQ(~kestrel::UpdateCrc(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(~kestrel::UpdateCrc(0xFFFFFFFFu, "abc", 3), 0x352441C2u);
  EXPECT_EQ(~kestrel::UpdateCrc(0xFFFFFFFFu, "", 0), 0u);
}

// Every length from 0 to 700 at every alignment 0-15 (covers the tails of the
// 8-byte and 16/64/256-byte paths), and chunked runs as the output path makes them.
TEST(DecodeCrc32, AllLengthsAndAlignmentsMatchOneStepDefinition) {
  const std::string data = decodetest::RandomData(720, 7);
  for (std::size_t offset = 0; offset < 16; ++offset)
    for (std::size_t n = 0; n <= 700; ++n) {
      const std::uint32_t expected = Bytewise(0x12345678u, data, offset, n);
      ASSERT_EQ(kestrel::UpdateCrc(0x12345678u, data.data() + offset, n), expected)
          << "offset " << offset << " length " << n;
      ASSERT_EQ(kestrel::UpdateCrcSliced(0x12345678u, data.data() + offset, n), expected)
          << "offset " << offset << " length " << n;
    }
}

TEST(DecodeCrc32, ChunkedEqualsWhole) {
  const std::string data = decodetest::TextData(100000, 3);
  std::uint32_t chunked = 0xFFFFFFFFu;
  for (std::size_t at = 0; at < data.size(); at += 32768)
    chunked = kestrel::UpdateCrc(chunked, data.data() + at, std::min<std::size_t>(32768, data.size() - at));
  EXPECT_EQ(chunked, Bytewise(0xFFFFFFFFu, data, 0, data.size()));
}

}  // namespace
