#include "unzip/decode/winzip_aes.h"

#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/memxor.h>
#include <nettle/pbkdf2.h>

#include <algorithm>

namespace kestrel {
namespace {

// The rounds of PBKDF2 the format fixes.
constexpr unsigned KeyIterations = 1000;
// Counter blocks encrypted in one call: 4 KiB of key stream, so that a 32 KiB
// refill costs eight calls into Nettle rather than 2,048.
constexpr std::size_t StreamBlocks = 256;
constexpr std::size_t StreamSize = StreamBlocks * AES_BLOCK_SIZE;

}  // namespace

struct TWinZipAes::TKeys {
  union {
    aes128_ctx Aes128;
    aes192_ctx Aes192;
    aes256_ctx Aes256;
  } Cipher;
  std::uint8_t Strength = 0;
  hmac_sha1_ctx Hmac;
  // The number of the last counter block encrypted. The format's counter is a
  // 16-byte little-endian number; its upper 8 bytes stay 0 for any entry below
  // 2^68 bytes.
  std::uint64_t Counter = 0;
  std::uint8_t Stream[StreamSize];
  std::size_t Used = StreamSize;

  // The next StreamBlocks blocks of key stream: the counter blocks, encrypted.
  void RefillStream() {
    std::fill(std::begin(Stream), std::end(Stream), std::uint8_t{0});
    for (std::size_t block = 0; block < StreamBlocks; ++block) {
      ++Counter;
      for (std::size_t i = 0; i < 8; ++i)
        Stream[block * AES_BLOCK_SIZE + i] = static_cast<std::uint8_t>(Counter >> (8 * i));
    }
    switch (Strength) {
      case 1:
        aes128_encrypt(&Cipher.Aes128, StreamSize, Stream, Stream);
        break;
      case 2:
        aes192_encrypt(&Cipher.Aes192, StreamSize, Stream, Stream);
        break;
      default:
        aes256_encrypt(&Cipher.Aes256, StreamSize, Stream, Stream);
        break;
    }
    Used = 0;
  }
};

TWinZipAes::TWinZipAes() : keys_(std::make_unique<TKeys>()) {}

TWinZipAes::~TWinZipAes() = default;

bool TWinZipAes::Start(std::string_view password, const TAesExtra& aes, const std::uint8_t* salt,
                       const std::uint8_t* verifier) {
  TKeys& keys = *keys_;
  const std::size_t keySize = aes.KeySize();
  // The AES key, the HMAC key and the verifier, one after the other.
  std::uint8_t derived[2 * 32 + AesVerifierSize];
  pbkdf2_hmac_sha1(password.size(), reinterpret_cast<const std::uint8_t*>(password.data()), KeyIterations,
                   aes.SaltSize(), salt, 2 * keySize + AesVerifierSize, derived);
  keys.Strength = aes.Strength;
  switch (aes.Strength) {
    case 1:
      aes128_set_encrypt_key(&keys.Cipher.Aes128, derived);
      break;
    case 2:
      aes192_set_encrypt_key(&keys.Cipher.Aes192, derived);
      break;
    default:
      aes256_set_encrypt_key(&keys.Cipher.Aes256, derived);
      break;
  }
  hmac_sha1_set_key(&keys.Hmac, keySize, derived + keySize);
  keys.Counter = 0;
  keys.Used = StreamSize;
  const bool fits = std::equal(verifier, verifier + AesVerifierSize, derived + 2 * keySize);
  std::fill(std::begin(derived), std::end(derived), std::uint8_t{0});
  return fits;
}

void TWinZipAes::Decrypt(std::uint8_t* data, std::size_t length) {
  TKeys& keys = *keys_;
  // The code covers the data as it lies in the archive, encrypted.
  hmac_sha1_update(&keys.Hmac, length, data);
  while (length > 0) {
    if (keys.Used == StreamSize) keys.RefillStream();
    const std::size_t take = std::min(length, StreamSize - keys.Used);
    memxor(data, keys.Stream + keys.Used, take);
    keys.Used += take;
    data += take;
    length -= take;
  }
}

void TWinZipAes::Authenticate(const std::uint8_t* data, std::size_t length) {
  hmac_sha1_update(&keys_->Hmac, length, data);
}

bool TWinZipAes::CodeMatches(const std::uint8_t* code) {
  std::uint8_t computed[AesCodeSize];
  hmac_sha1_digest(&keys_->Hmac, AesCodeSize, computed);
  // Every byte is compared, so that the time taken tells nothing of where a
  // forged code first differs.
  std::uint8_t difference = 0;
  for (std::size_t i = 0; i < AesCodeSize; ++i) difference |= static_cast<std::uint8_t>(computed[i] ^ code[i]);
  return difference == 0;
}

}  // namespace kestrel
