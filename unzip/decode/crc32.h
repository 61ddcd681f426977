#pragma once
// The CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset
// to 0xFFFFFFFF and complemented at the end. The register passed in and out here
// is the raw one (not complemented), as the decoders keep it during an entry.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrel {

namespace crcdetail {
// Entry b is the register after the eight bits of b pass through an empty
// register, lowest bit first: each bit shifted out at the bottom, when set, brings
// the reflected polynomial in.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  constexpr std::uint32_t reflectedPolynomial = 0xEDB88320u;
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t reg = b;
    for (int bit = 0; bit < 8; ++bit) {
      const bool out = (reg & 1u) != 0;
      reg >>= 1;
      if (out) reg ^= reflectedPolynomial;
    }
    table[b] = reg;
  }
  return table;
}
}  // namespace crcdetail

/// The byte-at-a-time table: entry b is the register change of byte b.
inline constexpr std::array<std::uint32_t, 256> CrcTable = crcdetail::MakeCrcTable();
static_assert(CrcTable[1] == 0x77073096u);
static_assert(CrcTable[128] == 0xEDB88320u);
static_assert(CrcTable[255] == 0x2D02EF8Du);

/// One CRC step: the cipher's key schedule uses it as well.
constexpr std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t byte) {
  return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

/// Runs the register over length bytes; same values as repeated CrcStep, but
/// eight bytes (or, where the processor has carry-less multiplication, 64) at a time.
std::uint32_t UpdateCrc(std::uint32_t crc, const void* buffer, std::size_t length);
/// The same with the eight-byte tables alone, on every processor: the tests and
/// the benchmark hold the folded path against it.
std::uint32_t UpdateCrcSliced(std::uint32_t crc, const void* buffer, std::size_t length);

constexpr std::uint32_t CrcOfBytes(const char* text, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) crc = CrcStep(crc, static_cast<std::uint8_t>(text[i]));
  return ~crc;
}
static_assert(CrcOfBytes("123456789", 9) == 0xCBF43926u);
static_assert(CrcOfBytes("abc", 3) == 0x352441C2u);

}  // namespace kestrel
