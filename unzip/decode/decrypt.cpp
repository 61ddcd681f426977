// Decryption of whole chunks: one pass per 32 KiB refill, keys in locals.
//
// Every byte depends on the one before through all three keys, so the speed is the
// length of the chain from one key byte to the next. The loop shortens it with the
// CRC table being linear over XOR (CrcTable[a ^ b] == CrcTable[a] ^ CrcTable[b]): a
// CRC step splits into a part known a byte ahead and one table entry for the late
// byte, and what the chain needs of that entry is looked up rather than computed.

#include "unzip/decode/decrypt.h"

#include <array>

namespace kestrel {

namespace {

constexpr std::uint32_t Key1Multiplier = 134775813u;

constexpr bool CrcTableIsLinear() {
  for (std::uint32_t a = 0; a < 256; ++a) {
    std::uint32_t sum = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (a & (1u << bit)) sum ^= CrcTable[1u << bit];
    if (CrcTable[a] != sum) return false;
  }
  return true;
}
static_assert(CrcTableIsLinear());

/// The tables of the loop, kept together so that one register addresses them all;
/// the key byte table comes first, where a load needs no displacement.
struct TCipherTables {
  /// Entry j: the key byte (DecryptByte) of every key2 whose bits 2-15 are j. Bits 0
  /// and 1 do not count: bit 1 is forced on, and t and t XOR 1 take both values of bit 0.
  std::array<std::uint8_t, 0x4000> KeyByte;
  /// Entry b: bits 2-15 of CrcTable[b] in bits 0-13, what the next key byte sees of
  /// the key2 step with byte b.
  std::array<std::uint16_t, 256> KeyBits;
  /// Entry b: key1's step, key1 * multiplier excepted, when key0's new low byte is the
  /// low byte of CrcTable[b]: that byte times the multiplier, plus 1.
  std::array<std::uint32_t, 256> Key1Step;
  /// Entry v: the byte b whose CrcTable[b] has low byte v. The low bytes of the table
  /// are all different, so this is the inverse of a one-to-one map, and linear too.
  std::array<std::uint8_t, 256> CrcLowInverse;
};

constexpr TCipherTables MakeCipherTables() {
  TCipherTables tables{};
  for (std::uint32_t j = 0; j < tables.KeyByte.size(); ++j) {
    const std::uint32_t t = (j << 2) | 2;
    tables.KeyByte[j] = static_cast<std::uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
  }
  for (std::uint32_t b = 0; b < 256; ++b) {
    tables.KeyBits[b] = static_cast<std::uint16_t>((CrcTable[b] >> 2) & 0x3FFF);
    tables.Key1Step[b] = (CrcTable[b] & 0xFF) * Key1Multiplier + 1;
    tables.CrcLowInverse[CrcTable[b] & 0xFF] = static_cast<std::uint8_t>(b);
  }
  return tables;
}
constexpr TCipherTables CipherTables = MakeCipherTables();

constexpr bool CrcLowInverseIsExact() {
  for (std::uint32_t b = 0; b < 256; ++b)
    if (CipherTables.CrcLowInverse[CrcTable[b] & 0xFF] != b) return false;
  return true;
}
static_assert(CrcLowInverseIsExact());

constexpr bool KeyByteIsDecryptByte() {
  TZipKeys keys;
  for (std::uint32_t low = 0; low < 0x10000; ++low) {
    keys.Key2 = 0xABCD0000u | low;
    if (keys.DecryptByte() != CipherTables.KeyByte[low >> 2]) return false;
  }
  return true;
}
static_assert(KeyByteIsDecryptByte());

}  // namespace

void TZipKeys::DecryptBuffer(std::uint8_t* buffer, std::size_t length) {
  // Entry: the keys stand at the first byte of buffer in the key stream.
  //
  // key2 is kept in two parts, CrcTable[high] ^ rest: high is the top byte of key1
  // that moved it, rest the CRC step of the key2 before with a zero byte, which is
  // known a byte early. The next key byte is two loads from high: KeyBits[high],
  // one XOR with rest's bits 2-15, KeyByte.
  //
  // Of key0 the chain needs only the new low byte, the low byte of CrcTable at
  // (key0 ^ cipher ^ key) XOR key0's byte 1. By linearity that is the low byte of
  // CrcTable[key ^ lowIndex], lowIndex = (key0 ^ cipher) ^ CrcLowInverse[key0's
  // byte 1], and key1's step is Key1Step[key ^ lowIndex]. lowIndex does not wait
  // for the key byte: it is worked out with the next cipher byte at the end of the
  // byte before, which also keeps key ^ lowIndex a single XOR on the chain.
  //
  // What is left from one high to the next: two loads for the key byte, an XOR, the
  // Key1Step load and add, the shift; about 18 cycles a byte where the multiplications
  // and full CRC steps on the chain took 28.
  if (length == 0) return;
  std::uint32_t k0 = Key0, k1 = Key1;
  std::uint32_t high = 0, rest = Key2;  // CrcTable[0] == 0
  std::uint32_t lowIndex = (k0 ^ buffer[0] ^ CipherTables.CrcLowInverse[(k0 >> 8) & 0xFF]) & 0xFF;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t key = CipherTables.KeyByte[CipherTables.KeyBits[high] ^ ((rest >> 2) & 0x3FFF)];
    const std::uint32_t k2 = CrcTable[high] ^ rest;
    const std::uint8_t cipher = buffer[i];
    buffer[i] = static_cast<std::uint8_t>(cipher ^ key);
    k0 = CrcTable[(k0 ^ cipher ^ key) & 0xFF] ^ (k0 >> 8);
    k1 = k1 * Key1Multiplier + CipherTables.Key1Step[key ^ lowIndex];
    high = k1 >> 24;
    rest = CrcStep(k2, 0);
    const std::uint8_t next = i + 1 < length ? buffer[i + 1] : 0;
    lowIndex = (k0 ^ next ^ CipherTables.CrcLowInverse[(k0 >> 8) & 0xFF]) & 0xFF;
  }
  Key0 = k0;
  Key1 = k1;
  Key2 = CrcTable[high] ^ rest;
}

}  // namespace kestrel
