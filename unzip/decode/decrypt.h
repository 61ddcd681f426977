#pragma once
// The traditional ZIP encryption: a stream cipher over three 32-bit keys derived
// from the password, with a 12-byte encryption header in front of the entry's data
// whose last byte, decrypted, checks the password.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "unzip/decode/crc32.h"
#include "unzip/decode/zip_format.h"

namespace kestrel {

/// The cipher state of one entry: the header check leaves it where the entry's
/// data starts, and the data is decrypted with the same key stream.
struct TZipKeys {
  std::uint32_t Key0 = 0x12345678u;
  std::uint32_t Key1 = 0x23456789u;
  std::uint32_t Key2 = 0x34567890u;

  /// Starts the keys from the password's bytes (no terminator; empty is allowed).
  void InitKeys(std::string_view password) {
    Key0 = 0x12345678u;
    Key1 = 0x23456789u;
    Key2 = 0x34567890u;
    for (const char c : password) UpdateKeys(static_cast<std::uint8_t>(c));
  }

  /// Advances the keys by one plain byte.
  void UpdateKeys(std::uint8_t plain) {
    Key0 = CrcStep(Key0, plain);
    Key1 = (Key1 + (Key0 & 0xFF)) * 134775813u + 1;
    Key2 = CrcStep(Key2, static_cast<std::uint8_t>(Key1 >> 24));
  }

  /// The next key-stream byte.
  constexpr std::uint8_t DecryptByte() const {
    const std::uint16_t t = static_cast<std::uint16_t>((Key2 & 0xFFFF) | 2);
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(t) * (t ^ 1u) & 0xFFFF) >> 8);
  }

  /// Decrypts in place, advancing the keys by each plain byte.
  void DecryptBuffer(std::uint8_t* buffer, std::size_t length);
};

/// The value the last decrypted header byte must have: the high byte of the DOS
/// modification time when the entry's sizes and CRC follow its data (flag bit 3,
/// the writer did not know the CRC when it wrote the header), else the high byte
/// of the stored CRC-32.
constexpr std::uint8_t EncryptionCheckByte(std::uint16_t flags, std::uint32_t dosDateTime, std::uint32_t crc32) {
  return (flags & FlagDataDescriptor) != 0 ? static_cast<std::uint8_t>((dosDateTime >> 8) & 0xFF)
                                           : static_cast<std::uint8_t>(crc32 >> 24);
}

}  // namespace kestrel
