#pragma once
// The ZIP format's numbers, once for every layer: the records the component reads,
// drawn field by field with their offsets, the general-purpose flag bits, the
// encryption header, and the little-endian field readers. The decoders sit at the
// bottom and need some of them; the records, the driver, the tools and the tests
// use the same names.

#include <cstddef>
#include <cstdint>

namespace kestrel {

// ---- Fields ------------------------------------------------------------------------

/// A little-endian field of a record.
inline std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetU64(const std::uint8_t* p) { return GetU32(p) | (std::uint64_t{GetU32(p + 4)} << 32); }

// ---- Local file header -------------------------------------------------------------
//
//   0       4    6     8      10         14    18         22           26     28     30
//   | "PK34" | ver | flg | meth | time date | crc | csize    | usize      | nlen | xlen | name, extra...
//
struct TLocalHeaderLayout {
  static constexpr std::int32_t Size = 30;
  static constexpr std::uint32_t Signature = 0x04034B50;  // "PK\3\4"
  static constexpr std::size_t VersionNeededAt = 4;
  static constexpr std::size_t FlagsAt = 6;
  static constexpr std::size_t MethodAt = 8;
  static constexpr std::size_t DateTimeAt = 10;  ///< time, then date: one DOS date-time
  static constexpr std::size_t CrcAt = 14;
  static constexpr std::size_t CompressedSizeAt = 18;
  static constexpr std::size_t UncompressedSizeAt = 22;
  static constexpr std::size_t NameLengthAt = 26;
  static constexpr std::size_t ExtraLengthAt = 28;
};

// ---- Central directory file header -------------------------------------------------
//
//   0       4      6     8     10     12         16    20      24      28     30     32
//   | "PK12" | made | ver | flg | meth | time date | crc | csize | usize | nlen | xlen | clen |
//   32     34      36      38        42         46
//   | disk | iattr | eattr   | offset   | name, extra, comment...
//
struct TCentralHeaderLayout {
  static constexpr std::int32_t Size = 46;
  static constexpr std::uint32_t Signature = 0x02014B50;  // "PK\1\2"
  static constexpr std::size_t VersionMadeByAt = 4;       ///< high byte: the host system, 0 MS-DOS
  static constexpr std::size_t VersionNeededAt = 6;
  static constexpr std::size_t FlagsAt = 8;
  static constexpr std::size_t MethodAt = 10;
  static constexpr std::size_t DateTimeAt = 12;
  static constexpr std::size_t CrcAt = 16;
  static constexpr std::size_t CompressedSizeAt = 20;
  static constexpr std::size_t UncompressedSizeAt = 24;
  static constexpr std::size_t NameLengthAt = 28;
  static constexpr std::size_t ExtraLengthAt = 30;
  static constexpr std::size_t CommentLengthAt = 32;
  static constexpr std::size_t DiskStartAt = 34;
  static constexpr std::size_t InternalAttributesAt = 36;
  static constexpr std::size_t ExternalAttributesAt = 38;
  static constexpr std::size_t LocalHeaderOffsetAt = 42;
};

// ---- End of central directory record -----------------------------------------------
//
//   0       4      6        8         10      12       16       20     22
//   | "PK56" | disk | cddisk | entries | total | cdsize | cdstart | clen | comment...
//
struct TEndCentralLayout {
  static constexpr std::int32_t Size = 22;
  static constexpr std::uint32_t Signature = 0x06054B50;  // "PK\5\6"
  static constexpr std::size_t ThisDiskAt = 4;
  static constexpr std::size_t CentralDirDiskAt = 6;
  static constexpr std::size_t EntriesThisDiskAt = 8;
  static constexpr std::size_t TotalEntriesAt = 10;
  static constexpr std::size_t CentralDirSizeAt = 12;
  static constexpr std::size_t CentralDirOffsetAt = 16;
  static constexpr std::size_t CommentLengthAt = 20;
  /// The largest comment and the record: the end record search reads at most this
  /// many bytes from the end of the file.
  static constexpr std::int32_t SearchSize = 65535 + Size;
};

// ---- ZIP64 end of central directory locator, right in front of the end record --------
//
//   0       4              8              16      20
//   | "PK67" | record disk | record offset | disks |
//
struct TZip64LocatorLayout {
  static constexpr std::int32_t Size = 20;
  static constexpr std::uint32_t Signature = 0x07064B50;  // "PK\6\7"
  static constexpr std::size_t RecordDiskAt = 4;
  static constexpr std::size_t RecordOffsetAt = 8;
  static constexpr std::size_t TotalDisksAt = 16;
};

// ---- ZIP64 end of central directory record (without its extensible data) ------------
//
//   0       4              12     14    16     20       24        32      40       48        56
//   | "PK66" | record size | made | ver | disk | cddisk | entries | total | cdsize | cdstart |
//
struct TZip64EndCentralLayout {
  static constexpr std::int32_t Size = 56;
  static constexpr std::uint32_t Signature = 0x06064B50;  // "PK\6\6"
  /// The record's length, counted from the byte after this field: all but the
  /// signature and the field itself, Uncounted bytes.
  static constexpr std::size_t RecordSizeAt = 4;
  static constexpr std::int32_t Uncounted = 12;
  static constexpr std::size_t ThisDiskAt = 16;
  static constexpr std::size_t CentralDirDiskAt = 20;
  static constexpr std::size_t EntriesThisDiskAt = 24;
  static constexpr std::size_t TotalEntriesAt = 32;
  static constexpr std::size_t CentralDirSizeAt = 40;
  static constexpr std::size_t CentralDirOffsetAt = 48;
};

// ---- Extra fields ------------------------------------------------------------------
//
// Blocks of | id (2) | data length (2) | data... |. The ZIP64 block holds 8-byte
// values, in this order, for those of the uncompressed size, the compressed size
// and the local header offset whose 4-byte field reads 0xFFFFFFFF, then a 4-byte
// disk number when the 2-byte one reads 0xFFFF.
inline constexpr std::uint16_t Zip64ExtraId = 0x0001;
/// Sizes, offsets and counts past this come from damage, never from a file: they
/// are refused, so that no sum of them can wrap.
inline constexpr std::uint64_t LargestZip64Value = std::uint64_t{1} << 62;

/// The values a classic field holds when its real value is in the ZIP64 block or
/// the ZIP64 end record: 0xFFFF in a 2-byte field, 0xFFFFFFFF in a 4-byte one.
inline constexpr std::uint16_t Zip64Escape16 = 0xFFFF;
inline constexpr std::uint32_t Zip64Escape32 = 0xFFFFFFFF;

/// "Version needed to extract" is the version times ten in its low byte; its high
/// byte stays below this in every archive (no version 10.0 or later exists), so
/// a local header signature followed by a larger one lies inside some data.
inline constexpr std::uint8_t VersionNeededHighLimit = 10;

// ---- Data descriptor, after an entry's data when flag bit 3 is set ------------------
//
//   | "PK78" (optional) | crc | csize | usize |   sizes of 4 bytes, or of 8 behind a
//                                                 local header with a ZIP64 block
inline constexpr std::uint32_t DataDescriptorSig = 0x08074B50;  // "PK\7\8"
/// The descriptor's length without its optional signature: the CRC and two
/// sizes of 4 bytes, or of 8 behind a local header with a ZIP64 block.
constexpr std::int32_t DataDescriptorLength(bool zip64) { return zip64 ? 20 : 12; }
/// With the signature, as most writers put it.
constexpr std::int32_t SignedDataDescriptorLength(bool zip64) { return 4 + DataDescriptorLength(zip64); }

// ---- Compression methods ----------------------------------------------------------

inline constexpr std::uint16_t MethodStored = 0;
inline constexpr std::uint16_t MethodDeflated = 8;
inline constexpr std::uint16_t MethodDeflate64 = 9;
/// Deflate and Deflate64 keep their compression level in flag bits 1 and 2.
constexpr bool IsDeflateMethod(std::uint16_t method) { return method == MethodDeflated || method == MethodDeflate64; }

// ---- Host systems, the high byte of "version made by" -------------------------------

inline constexpr std::uint16_t HostMsDos = 0;
inline constexpr std::uint16_t HostUnix = 3;
inline constexpr std::uint16_t HostOsX = 19;
/// Whether "version made by" names a system whose external attributes hold a Unix
/// mode in their high 16 bits: Unix itself, and OS X, whose writers keep it so.
constexpr bool MadeOnUnix(std::uint16_t versionMadeBy) {
  const std::uint16_t host = versionMadeBy >> 8;
  return host == HostUnix || host == HostOsX;
}
/// Whether a mode of the file type "symbolic link" in the high 16 bits makes the
/// entry a link: besides Unix and OS X, the systems whose zip ports keep a Unix
/// style mode there (VMS 2, Atari 5, BeOS 16, AtheOS 30), as unzip reads them.
constexpr bool LinksFromMode(std::uint16_t versionMadeBy) {
  const std::uint16_t host = versionMadeBy >> 8;
  return MadeOnUnix(versionMadeBy) || host == 2 || host == 5 || host == 16 || host == 30;
}

// ---- General-purpose flags ---------------------------------------------------------

inline constexpr std::uint16_t FlagEncrypted = 0x0001;  ///< traditional or WinZip AES encryption
/// Implode: an 8 KiB dictionary (7 low distance bits) instead of 4 KiB.
inline constexpr std::uint16_t FlagImplode8KDictionary = 0x0002;
/// Implode: three trees (literals coded too) instead of two.
inline constexpr std::uint16_t FlagImplodeLiteralTree = 0x0004;
/// Sizes and CRC follow the data, in a data descriptor; the CRC in the local
/// header is zero, and the encryption header checks the time instead.
inline constexpr std::uint16_t FlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t FlagStrongEncryption = 0x0040;  ///< the format owner's own cipher
/// The name (and comment) is UTF-8 and needs no code-page conversion.
inline constexpr std::uint16_t FlagUtf8Name = 0x0800;

// ---- Traditional encryption ----------------------------------------------------------

/// The encryption header in front of an encrypted entry's data: 12 bytes whose
/// last one, decrypted, checks the password.
inline constexpr std::int32_t EncryptionHeaderSize = 12;

// ---- WinZip AES encryption --------------------------------------------------------
//
// WinZip's AES encryption marks its entries as method 99 (with flag bit 0 set) and
// keeps the rest in the block 0x9901:
//
//   0                 2           4          5                7
//   | vendor version | vendor id | strength | real method    |
//     1 AE-1, 2 AE-2   "AE"        1, 2, 3:   the compression of
//                                  AES-128,   the data once it is
//                                  -192, -256 decrypted
//
// The entry's data is then: a salt (8, 12 or 16 bytes by strength), a 2-byte
// password verifier, the encrypted compressed data, and a 10-byte authentication
// code. AE-1 keeps the CRC-32 of the content; AE-2 stores 0 there, as a CRC of
// known content would tell something of it, and the code alone vouches for it.
inline constexpr std::uint16_t AesExtraId = 0x9901;
inline constexpr std::uint16_t AesMethod = 99;
inline constexpr std::size_t AesExtraSize = 7;
inline constexpr std::size_t AesVerifierSize = 2;
inline constexpr std::size_t AesCodeSize = 10;

/// What an entry's 0x9901 block says; Strength 0 when it has no valid one.
struct TAesExtra {
  std::uint16_t Version = 0;  ///< 1 AE-1, 2 AE-2
  std::uint8_t Strength = 0;  ///< 1, 2, 3: AES-128, -192, -256
  std::uint16_t Method = 0;   ///< the compression method of the decrypted data

  bool Valid() const { return Strength != 0; }
  /// AE-1 keeps the content's CRC-32; AE-2 has none to check.
  bool HasCrc() const { return Version == 1; }
  /// Bytes of the AES key, and of the HMAC key: 16, 24, 32.
  std::size_t KeySize() const { return 8 + 8 * std::size_t{Strength}; }
  /// Bytes of the salt: 8, 12, 16.
  std::size_t SaltSize() const { return 4 + 4 * std::size_t{Strength}; }
  /// What the entry's data holds besides the encrypted data: salt, verifier, code.
  std::size_t Overhead() const { return SaltSize() + AesVerifierSize + AesCodeSize; }

  /// Reads a 0x9901 block's data; a block that is short, or names another vendor,
  /// version or strength, leaves the result invalid.
  static TAesExtra Parse(const std::uint8_t* data, std::size_t length) {
    TAesExtra aes;
    if (length < AesExtraSize || data[2] != 'A' || data[3] != 'E') return aes;
    const std::uint16_t version = GetU16(data);
    if ((version != 1 && version != 2) || data[4] < 1 || data[4] > 3) return aes;
    aes.Version = version;
    aes.Strength = data[4];
    aes.Method = GetU16(data + 5);
    return aes;
  }
};

/// Whether an entry is WinZip AES encrypted in a way that can be decrypted: method
/// 99, flag bit 0, and a valid 0x9901 block.
inline bool IsAesEntry(std::uint16_t flags, std::uint16_t method, const TAesExtra& aes) {
  return (flags & FlagEncrypted) != 0 && method == AesMethod && aes.Valid();
}

}  // namespace kestrel
