// WinZip AES entries through the decoding frame, with the password "fuzz": the
// password check on the input's salt and verifier, then the decryption, the real
// method's decoder and the authentication code over arbitrary data. A wrong
// verifier must end at the check, a right one in a clean result; neither may
// write past the declared size.
//
// Byte 0 chooses the entry: strength 1 + b % 3, vendor version 1 + (b / 3) % 2,
// real method Methods[(b / 6) % 8], and from 128 on the verifier is replaced by
// the one the password and salt give, so that the data behind it is decoded.
// Bytes 1-3: the declared uncompressed size. Then the entry's data: salt,
// verifier, encrypted data, code. The seeds are 7-Zip's entries (AE-2) of each
// strength over stored, deflated, Deflate64, bzip2 and LZMA data and bsdtar's
// AE-1 entry, made with the same password.

#include <nettle/pbkdf2.h>

#include "fuzz/fuzz_support.h"

namespace {

constexpr std::uint16_t Methods[8] = {0, 1, 6, 8, 9, 12, 14, 93};
constexpr char Password[] = "fuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  kestrel::TAesExtra aes;
  aes.Strength = static_cast<std::uint8_t>(1 + data[0] % 3);
  aes.Version = static_cast<std::uint16_t>(1 + (data[0] / 3) % 2);
  aes.Method = Methods[(data[0] / 6) % 8];
  std::string entryData(reinterpret_cast<const char*>(data + 4), size - 4);
  if (data[0] >= 128 && entryData.size() >= aes.SaltSize() + kestrel::AesVerifierSize) {
    std::uint8_t derived[2 * 32 + kestrel::AesVerifierSize];
    pbkdf2_hmac_sha1(sizeof Password - 1, reinterpret_cast<const std::uint8_t*>(Password), 1000, aes.SaltSize(),
                     reinterpret_cast<const std::uint8_t*>(entryData.data()), 2 * aes.KeySize() + 2, derived);
    entryData.replace(aes.SaltSize(), kestrel::AesVerifierSize,
                      reinterpret_cast<const char*>(derived) + 2 * aes.KeySize(), kestrel::AesVerifierSize);
  }

  fuzzsupport::TEntryRun run(entryData, kestrel::AesMethod, (data[1] | data[2] << 8 | data[3] << 16) & 0xFFFFF);
  run.entry.Flags = kestrel::FlagEncrypted;
  run.entry.Aes = aes;
  run.host.archive.Seek(30, kestrel::soFromBeginning);
  if (!run.state.ReadAesHeader(Password, run.host.archive, aes, run.entry.CompressedSize)) return 0;
  try {
    run.Decode();
  } catch (const kestrel::Exception&) {
    // Data that ends before its authentication code ends the run; fine.
  }
  if (run.output.size > static_cast<std::int64_t>(run.entry.UncompressedSize)) std::abort();
  return 0;
}
