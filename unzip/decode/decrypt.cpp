// Decryption of whole chunks: one pass per 32 KiB refill, keys in locals.

#include "unzip/decode/decrypt.h"

namespace kestrel {

void TZipKeys::DecryptBuffer(std::uint8_t* buffer, std::size_t length) {
  // Entry: the keys stand at the first byte of buffer in the key stream. Every byte
  // depends on the one before through all three keys, so the loop is one long
  // dependency chain; what does not depend on this byte's plain value (the key1
  // product of the old key, the old key0 combined with the cipher byte) is worked
  // out first, beside the chain.
  std::uint32_t k0 = Key0, k1 = Key1, k2 = Key2;
  const std::uint32_t* const table = CrcTable.data();
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t k1m = k1 * 134775813u + 1;
    const std::uint32_t k0c = (k0 ^ buffer[i]) & 0xFF;
    const std::uint32_t k0s = k0 >> 8;
    // The key byte depends only on the low 16 bits of k2 | 2, and so does bits
    // 8-15 of the 32-bit product.
    const std::uint32_t t = k2 | 2;
    const std::uint32_t key = ((t * (t ^ 1)) >> 8) & 0xFF;
    buffer[i] = static_cast<std::uint8_t>(buffer[i] ^ key);
    k0 = table[k0c ^ key] ^ k0s;  // CRC step of key0 with the plain byte
    k1 = k1m + (k0 & 0xFF) * 134775813u;
    k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  Key0 = k0;
  Key1 = k1;
  Key2 = k2;
}

}  // namespace kestrel
