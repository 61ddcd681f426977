#pragma once
// The three records of the ZIP format that the component reads (local file header,
// central directory file header, end of central directory record), the classes that
// hold them and the readers that find or parse one record at a stream's position.
// All multi-byte fields are little-endian.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "unzip/stream.h"

namespace kestrel {

inline constexpr std::uint32_t LocalFileHeaderSig = 0x04034B50;    // "PK\3\4"
inline constexpr std::uint32_t CentralFileHeaderSig = 0x02014B50;  // "PK\1\2"
inline constexpr std::uint32_t EndCentralDirSig = 0x06054B50;      // "PK\5\6"
inline constexpr std::uint32_t DataDescriptorSig = 0x08074B50;     // "PK\7\8"

inline constexpr std::int32_t kLocalHeaderSize = 30;
inline constexpr std::int32_t kCentralHeaderSize = 46;
inline constexpr std::int32_t kEndCentralSize = 22;
/// The largest archive comment plus the end record: the end record search reads at
/// most this many bytes from the end.
inline constexpr std::int32_t kEndCentralSearchSize = 65535 + kEndCentralSize;

/// General-purpose flag bits.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
/// The name (and comment) is UTF-8 and needs no code-page conversion.
inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;

/// Reads a little-endian field of a record.
inline std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

/// Opens the next volume of a multi-volume set when a central header runs off the
/// end of the current one, and returns its stream, positioned at its start.
using TNextVolume = std::function<TStream&()>;

/// One archive entry: the fields of its central (or local) header, the stored path
/// split into Directory (ending in a backslash) and FileName, and the comment,
/// which is loaded on demand.
class TZipHeaderInfo {
 public:
  TZipHeaderInfo() { Clear(); }

  std::uint16_t VersionMadeBy;  ///< high byte: host system, 0 = MS-DOS; 0 from a local header
  std::uint16_t VersionNeeded;
  std::uint16_t Flags;  ///< bit 0 encrypted, bit 3 sizes and CRC follow the data, bit 11 UTF-8 name
  std::uint16_t CompressionMethod;
  std::uint32_t DateTime;  ///< DOS date-time, repaired when read
  std::uint32_t CRC32;
  std::uint32_t CompressedSize;
  std::uint32_t UncompressedSize;
  std::uint16_t NameLength;  ///< length of Directory plus FileName, kept by the setters
  std::uint16_t CentralExtraLength;
  std::uint16_t LocalExtraLength;
  std::uint16_t CommentLength;
  std::uint16_t DiskStart;
  std::uint16_t InternalAttributes;
  std::uint32_t ExternalAttributes;
  std::uint32_t LocalHeaderOffset;
  std::uint32_t CentralHeaderOffset;  ///< 0 for an entry read from a local header
  bool Selected;
  bool Marked;
  bool OEMConvert = true;  ///< convert names from the OEM code page when reading

  /// Every field to its default, names empty, no comment, the marks false.
  /// OEMConvert stays.
  void Clear();
  /// Copies every field but OEMConvert, the comment text included.
  void Assign(const TZipHeaderInfo& source);
  void AssignTo(TZipHeaderInfo& dest) const { dest.Assign(*this); }

  /// Reads the central header at the stream's position. On false the stream is
  /// back where it was. With nextVolume, a header cut short by the end of the
  /// volume is completed from the next one. Leaves the stream after the name.
  bool ReadCentralHeader(TStream& stream, const TNextVolume& nextVolume = nullptr);
  /// Reads the local header at the stream's position; the same rules.
  bool ReadLocalHeader(TStream& stream);

  const std::string& FileName() const { return fileName_; }
  const std::string& Directory() const { return directory_; }
  /// The stored path with backslash separators.
  std::string StoredPath() const { return directory_ + fileName_; }
  /// The name bytes exactly as the header stored them, before any conversion.
  const std::string& RawName() const { return rawName_; }
  void SetFileName(const std::string& value);
  /// Appends a backslash to a non-empty folder that lacks one.
  void SetDirectory(const std::string& value);
  /// Splits a stored path (backslash separators) after its last backslash or colon.
  void SetStoredPath(const std::string& path);

  /// The comment when loaded.
  const std::optional<std::string>& Comment() const { return comment_; }
  /// Replaces the comment and sets CommentLength to its length (0 without one).
  void SetComment(std::optional<std::string> value);
  /// Keeps a comment read from the archive without touching CommentLength.
  void CacheComment(std::string value) { comment_ = std::move(value); }

  bool Encrypted() const { return (Flags & kFlagEncrypted) != 0; }
  bool HasDataDescriptor() const { return (Flags & kFlagDataDescriptor) != 0; }
  bool HasComment() const { return CommentLength != 0; }
  /// Where the entry's comment lies in the archive. Counted with the name's length
  /// as stored, which the code-page conversion may have changed in NameLength.
  std::uint32_t CommentOffset() const {
    return CentralHeaderOffset + kCentralHeaderSize + storedNameLength_ + CentralExtraLength;
  }

 private:
  std::string StoredName(const std::string& raw, bool convertFromOem) const;
  std::string fileName_;
  std::string directory_;
  std::optional<std::string> comment_;
  std::uint16_t storedNameLength_ = 0;
  std::string rawName_;
};

/// The end-of-central-directory record.
class TEndCentral {
 public:
  TEndCentral() { Clear(); }

  std::uint32_t Signature;
  std::uint16_t ThisDisk;
  std::uint16_t CentralDirDisk;
  std::uint16_t EntriesThisDisk;
  std::uint16_t TotalEntries;
  std::uint32_t CentralDirSize;
  std::uint32_t CentralDirOffset;
  std::uint16_t CommentLength;
  std::uint32_t CommentPos;  ///< file offset of the archive comment: the record's offset + 22
  bool Modified;             ///< a caller replaced the archive comment

  /// Signature to the end record's, everything else zero, no comment.
  void Clear();
  /// Copies every field but Modified, the comment text included.
  void Assign(const TEndCentral& source);
  void AssignTo(TEndCentral& dest) const { dest.Assign(*this); }

  /// Finds the end record in the last 65,557 bytes; the one nearest the end wins.
  /// True, with the fields filled, when found or when the stream is empty (an
  /// archive without entries).
  bool FindEndCentral(TStream& stream);

  bool HasComment() const { return CommentLength != 0; }
  const std::optional<std::string>& Comment() const { return comment_; }
  void SetComment(std::optional<std::string> value) { comment_ = std::move(value); }

 private:
  std::optional<std::string> comment_;
};

}  // namespace kestrel
