#pragma once
// WinZip's AES encryption of an entry's data (method 99 with the 0x9901 block), on
// Nettle's PBKDF2, AES and HMAC-SHA1:
// - keys: PBKDF2-HMAC-SHA1 over the password and the entry's salt, 1,000
//   iterations, gives the AES key, an HMAC key of the same size and the 2-byte
//   password verifier, in that order;
// - data: AES in counter mode, with a 16-byte counter block that starts at 1 and
//   counts as a little-endian number (the format's own variant; Nettle's CTR mode
//   counts big-endian, so the counter blocks are made here and encrypted in one
//   call per batch);
// - authentication: HMAC-SHA1 over the encrypted data, of which the entry keeps
//   the first 10 bytes after its data.
// Nettle's types stay in the source: callers of the decoding frame see none.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "unzip/decode/zip_format.h"

namespace kestrel {

/// The cipher and the authentication of one AES entry at a time.
class TWinZipAes {
 public:
  TWinZipAes();
  ~TWinZipAes();
  TWinZipAes(const TWinZipAes&) = delete;
  TWinZipAes& operator=(const TWinZipAes&) = delete;

  /// Derives the keys of strength aes.Strength from the password's bytes and the
  /// salt (aes.SaltSize() bytes), and starts the counter and the HMAC. True when
  /// the derived verifier equals verifier (2 bytes): the password fits, or one
  /// wrong password in 65,536 passes.
  bool Start(std::string_view password, const TAesExtra& aes, const std::uint8_t* salt, const std::uint8_t* verifier);

  /// Takes length bytes of encrypted data into the authentication code, then
  /// decrypts them in place. Pieces of any size follow one another.
  void Decrypt(std::uint8_t* data, std::size_t length);
  /// Takes encrypted data into the authentication code without decrypting it:
  /// the data a decoder left unread.
  void Authenticate(const std::uint8_t* data, std::size_t length);
  /// Whether the code over all the data taken equals the stored code (10 bytes).
  bool CodeMatches(const std::uint8_t* code);

 private:
  struct TKeys;
  std::unique_ptr<TKeys> keys_;
};

}  // namespace kestrel
