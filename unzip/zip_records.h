#pragma once
// The three records of the ZIP format that the component reads (local file header,
// central directory file header, end of central directory record), the classes that
// hold them and the readers that find or parse one record at a stream's position.
// All multi-byte fields are little-endian.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "unzip/decode/stream.h"
#include "unzip/decode/zip_format.h"

namespace kestrel {

/// Opens the next volume of a multi-volume set when a central header runs off the
/// end of the current one, and returns its stream, positioned at its start.
using TNextVolume = std::function<TStream&()>;

/// The character sets of stored names that carry no UTF-8 flag, as the user names
/// them (platform::CharsetKnown); empty: the default, the OEM code page for names
/// made on MS-DOS and the bytes as they are for others.
struct TNameCharsets {
  std::string Oem;   ///< names made on a system other than Unix, and local headers
  std::string Unix;  ///< names made on Unix (host 3 or 19)
};

/// A Unicode comment extra field (0x6375): it stands for the stored comment
/// whose CRC-32 it carries.
struct TUnicodeComment {
  std::uint32_t StoredCrc = 0;
  std::string Utf8;
};

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
  /// Sizes and offsets hold 64 bits: a field that reads 0xFFFFFFFF (0xFFFF for the
  /// disk) in the header is taken from the entry's ZIP64 extra field.
  std::uint64_t CompressedSize;
  std::uint64_t UncompressedSize;
  std::uint16_t NameLength;  ///< length of Directory plus FileName, kept by the setters
  std::uint16_t CentralExtraLength;
  std::uint16_t LocalExtraLength;
  std::uint16_t CommentLength;
  std::uint32_t DiskStart;
  std::uint16_t InternalAttributes;
  std::uint32_t ExternalAttributes;
  std::uint64_t LocalHeaderOffset;
  std::uint64_t CentralHeaderOffset;  ///< 0 for an entry read from a local header
  /// The local header holds a ZIP64 extra field: a data descriptor after the data
  /// then has 8-byte sizes.
  bool Zip64Local = false;
  /// The entry's WinZip AES block (0x9901); invalid when it has none.
  TAesExtra Aes;
  /// The exact last-write time, UTC, from the NTFS extra field (0x000a, 100 ns
  /// ticks since 1601) or else the extended timestamp (0x5455, seconds since
  /// 1970); nothing when the entry has neither, and DateTime is all there is.
  std::optional<platform::TFileTime> ModifiedTime;
  /// The Unix user and group the entry's file belonged to, from the extra field
  /// that holds them (0x7875, else 0x7855 or 0x5855 of a local header); nothing
  /// without one.
  std::optional<platform::TFileOwner> Owner;
  /// The entry's Unicode comment field, when it has one.
  std::optional<TUnicodeComment> UnicodeComment;
  bool Selected;
  bool Marked;
  bool OEMConvert = true;      ///< convert names from the OEM code page when reading
  TNameCharsets NameCharsets;  ///< the user's character sets of stored names

  /// Every field to its default, names empty, no comment, the marks false.
  /// OEMConvert stays.
  void Clear();
  /// Copies every field but OEMConvert and NameCharsets, the comment text included.
  void Assign(const TZipHeaderInfo& source);
  void AssignTo(TZipHeaderInfo& dest) const { dest.Assign(*this); }

  /// Reads the central header at the stream's position. On false the stream is
  /// back where it was. With nextVolume, a header cut short by the end of the
  /// volume is completed from the next one. Leaves the stream after the name.
  /// A header whose ZIP64 values are missing from its extra field, cut short or
  /// beyond any file reads as no header (false).
  bool ReadCentralHeader(TStream& stream, const TNextVolume& nextVolume = nullptr);
  /// Reads the local header at the stream's position; the same rules.
  bool ReadLocalHeader(TStream& stream);

  const std::string& FileName() const { return fileName_; }
  const std::string& Directory() const { return directory_; }
  /// The stored path with backslash separators.
  std::string StoredPath() const { return directory_ + fileName_; }
  /// The name bytes exactly as the header stored them, before any conversion.
  const std::string& RawName() const { return rawName_; }
  /// The entry has no name: its stored name is empty, or empty up to its first
  /// NUL, and no Unicode path field stands for it. Such an entry names no file.
  bool Nameless() const { return directory_.empty() && fileName_.empty(); }
  /// The stored name holds a NUL byte, and the name ends there: the bytes after
  /// it are lost (no Unicode path field stands for the name).
  bool NameCutAtNul() const;
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

  bool Encrypted() const { return (Flags & FlagEncrypted) != 0; }
  /// Encrypted with WinZip's AES (method 99 and a valid 0x9901 block).
  bool AesEncrypted() const { return IsAesEntry(Flags, CompressionMethod, Aes); }
  /// The compression method of the entry's data: an AES entry's real method,
  /// otherwise the header's.
  std::uint16_t DataMethod() const { return AesEncrypted() ? Aes.Method : CompressionMethod; }
  bool HasDataDescriptor() const { return (Flags & FlagDataDescriptor) != 0; }
  bool HasComment() const { return CommentLength != 0; }
  /// The comment as the entry means it: the Unicode comment field's text when its
  /// CRC-32 is that of the stored bytes, else the stored bytes.
  std::string CommentText(const std::string& stored) const;
  /// Made on Unix (host 3, or 19 for OS X): the high 16 bits of the external
  /// attributes are the file's mode.
  bool HasUnixMode() const;
  /// A symbolic link: a Unix mode whose file type says so. Its data is the target.
  bool IsSymbolicLink() const;
  /// Made on a system whose names are upper case only (MS-DOS FAT, VMS, VM/CMS,
  /// CP/M, TOPS-20, MVS, Tandem): its names carry no case of their own.
  bool MadeUpperCaseOnly() const;

 private:
  /// The stored name in the system's form: the Unicode path field's name when
  /// its CRC-32 is that of the raw name (and it names something); else UTF-8
  /// (flag bit 11, or ASCII), or a name in the user's character set, or in the
  /// OEM code page (made on MS-DOS), or the bytes as they are. A local header
  /// (local) names no system: its name is read in the user's set for names not
  /// made on Unix when one is given, else as UTF-8 when it is valid UTF-8, else in
  /// the user's set for Unix names, else in the OEM code page.
  std::string StoredName(const std::string& raw, bool local) const;
  /// The Unicode path field's name, when it stands for raw: its CRC-32 fits and
  /// it holds a name, valid UTF-8 without a NUL.
  std::optional<std::string> UnicodeName(const std::string& raw) const;
  /// The fields the local and the central header share, from the first of them.
  void TakeSharedFields(const std::uint8_t* fields);
  /// The stored name: raw as read, the path split into Directory and FileName
  /// (read as StoredName says), the comment and marks cleared.
  void TakeName(std::string raw, bool local);
  /// Reads the extra field that follows the name (length bytes) and takes the
  /// ZIP64 values for the fields that hold their escape value (in a central
  /// header the offset and the disk too), for method 99 the AES block, the
  /// exact times and the Unicode name and comment; a local header notes whether
  /// it has the ZIP64 block at all. The stream goes
  /// back to the end of the name. False when a value is needed and not there, or
  /// past what a file can hold.
  bool ReadExtraFields(TStream& stream, std::uint16_t length, bool central);
  std::string fileName_;
  std::string directory_;
  std::optional<std::string> comment_;
  std::string rawName_;
  /// The Unicode path field (0x7075) read with the header: the CRC-32 of the
  /// name it stands for, and its UTF-8 name.
  std::optional<std::pair<std::uint32_t, std::string>> unicodeName_;
};

/// The Unix owner that an extra field (its blocks, as stored) holds: the "ux"
/// block (0x7875: version 1, then the user and the group ID, each with its own
/// size) wins over the older ones of a local header, "Ux" (0x7855: two 16-bit
/// IDs) and "UX" (0x5855: two times, then two 16-bit IDs). Nothing without one,
/// or when an ID does not fit 32 bits.
std::optional<platform::TFileOwner> ExtraFieldOwner(const std::uint8_t* extra, std::size_t length);

/// The end-of-central-directory record.
class TEndCentral {
 public:
  TEndCentral() { Clear(); }

  std::uint32_t Signature;
  /// The counts, sizes and offsets in 64 bits: an archive with ZIP64 records
  /// keeps them there, and the classic fields then read 0xFFFF or 0xFFFFFFFF.
  std::uint32_t ThisDisk;
  std::uint32_t CentralDirDisk;
  std::uint64_t EntriesThisDisk;
  std::uint64_t TotalEntries;
  std::uint64_t CentralDirSize;
  std::uint64_t CentralDirOffset;
  std::uint16_t CommentLength;
  std::uint64_t CommentPos;  ///< file offset of the archive comment: the record's offset + 22
  /// Where the end records start: the ZIP64 record when there is one, else the
  /// classic record. Nothing of the central directory lies at or past it.
  std::uint64_t RecordsStart;
  bool Modified;  ///< a caller replaced the archive comment

  /// Signature to the end record's, everything else zero, no comment.
  void Clear();
  /// Copies every field but Modified, the comment text included.
  void Assign(const TEndCentral& source);
  void AssignTo(TEndCentral& dest) const { dest.Assign(*this); }

  /// Finds the end record in the last 65,557 bytes; the one nearest the end wins.
  /// True, with the fields filled, when found or when the stream is empty (an
  /// archive without entries).
  bool FindEndCentral(TStream& stream);
  /// After FindEndCentral: settles which end records give the archive's counts,
  /// sizes and offsets. A ZIP64 locator and record count only when they check out:
  /// the record where the locator says (or right in front of it), its values
  /// within what a file can hold and consistent with each other, and every classic
  /// field that does not hold its escape value (0xFFFF, 0xFFFFFFFF) saying the
  /// same. A classic record without escape values stands on its own, whatever the
  /// bytes in front of it look like: a file name may hold the ZIP64 signatures.
  /// When a classic escape value could be a real value too (65,535 entries) and a
  /// ZIP64 record checks out, the reading under which a central header starts
  /// where the directory is said to start wins. False, with the classic fields
  /// kept, when the classic record needs ZIP64 records that are not there or
  /// contradict it.
  bool SettleZip64Records(TStream& stream);

  bool HasComment() const { return CommentLength != 0; }
  const std::optional<std::string>& Comment() const { return comment_; }
  void SetComment(std::optional<std::string> value) { comment_ = std::move(value); }

 private:
  /// Whether a ZIP64 locator stands in front of the end record; notes where it
  /// stands and the record offset it gives.
  bool FindZip64Locator(TStream& stream);
  /// Reads the ZIP64 end record that the locator names and takes its values;
  /// false, with the fields unchanged, when it does not check out.
  bool ReadZip64EndCentral(TStream& stream);
  /// Whether a central header starts where this reading says the directory starts
  /// (or the reading has no entries).
  bool DirectoryStartsWhereSaid(TStream& stream) const;

  std::optional<std::string> comment_;
  std::uint64_t locatorPos_ = 0;
  std::uint64_t zip64RecordOffset_ = 0;
};

// ---- Finding where records start ---------------------------------------------------
//
// Both doors read the same records the same way: the file door searches the
// archive's bytes when it rebuilds a directory from the local headers, the pipe
// door watches them pass. The tests and searches below work over bytes that the
// caller supplies, each door from where it keeps them.

/// Whether a record of the format starts with this signature: a local header, a
/// central header, a ZIP64 end record or its locator, or the end record. A data
/// descriptor is no record: it belongs to the entry in front of it.
bool IsRecordSignature(std::uint32_t signature);

/// Where the next record starts in bytes: a signature that IsRecordSignature
/// names, a local header's only where its "version needed" is below 10.0 (a
/// higher one lies inside some data). A place is looked at only when its bytes
/// are all there (6 for a local header, else 4): the caller searches the last
/// five bytes again with what follows them, unless the input ends with them
/// (inputEnds). Returns the index into bytes, or count when there is none.
std::size_t FindRecordStart(const std::uint8_t* bytes, std::size_t count, bool inputEnds);

/// A data descriptor, which ends an entry whose local header has flag bit 3 set:
/// what it says, and where the record after it starts. One result for every way
/// one is looked for.
struct TDataDescriptor {
  std::int64_t End = -1;  ///< where the next record starts; -1 when none was found
  std::uint32_t Crc = 0;
  std::uint64_t CompressedSize = 0, UncompressedSize = 0;
  /// From a search: where the first record after the data starts, the descriptor
  /// found or not; -1 when the input ends first. An entry whose descriptor is
  /// missing runs to there.
  std::int64_t FirstRecord = -1;
};

/// Whether a data descriptor stands at the start of bytes (count of them, the
/// first at offset at), with its signature or without, its sizes those given and
/// of 8 bytes each behind a local header with a ZIP64 block (zip64): some writers
/// set flag bit 3 and still give the sizes, leaving only the CRC to it. With End
/// just after it; nothing when it is not there whole.
std::optional<TDataDescriptor> MatchDataDescriptor(const std::uint8_t* bytes, std::int64_t count, std::int64_t at,
                                                   bool zip64, std::uint64_t compressed, std::uint64_t uncompressed);

/// The search for the data descriptor that ends an entry whose sizes follow its
/// data, over bytes the caller feeds it in order. A place ends the data when a
/// descriptor stands there whose compressed size is its distance from the data's
/// start: with its signature, or without, then right in front of a record. Data
/// stored as it is (method 0, not encrypted) may hold anything, an archive with
/// descriptors of its own included, and its bytes can be checked: there the
/// descriptor's uncompressed size must be the same, its CRC that of the bytes in
/// front of it, and with its signature a record or the input's end must follow.
///
/// The search does NOT stop at the first record signature: compressed data holds
/// any four bytes now and then (one place in a billion reads as one of the
/// record signatures), and stored data may hold whole archives. It goes on past
/// records, noting the first (FirstRecord), for as long as the caller's budget
/// of bytes searched past a record lasts; the file door shares one budget among
/// all the searches of a rebuild, so that damaged entries cannot make them cross
/// the file again and again, and the pipe door, which reads every byte once
/// anyway, sets none.
class TDescriptorSearch {
 public:
  /// The descriptor of entry, whose data starts at dataStart.
  TDescriptorSearch(const TZipHeaderInfo& entry, std::int64_t dataStart);
  /// The first offset whose bytes the search still needs: each feed starts here
  /// or before.
  std::int64_t NeededFrom() const;
  /// Looks at each place of bytes (count of them from offset from, from at most
  /// NeededFrom) whose bytes have all arrived, every one when the input ends with
  /// them (inputEnds). True when the search is over: the descriptor found, or the
  /// budget used up at a record.
  bool Look(const std::uint8_t* bytes, std::int64_t from, std::int64_t count, bool inputEnds, std::int64_t& budget);
  /// What was found: End -1 while no descriptor was.
  const TDataDescriptor& Found() const { return found_; }

 private:
  /// Whether the data from dataStart_ to end, of bytes fed from offset from, fits
  /// the descriptor's CRC and sizes at d.
  bool Fits(const std::uint8_t* d, const std::uint8_t* bytes, std::int64_t from, std::int64_t end);
  /// Takes the CRC of the stored bytes on to offset to.
  void CrcTo(const std::uint8_t* bytes, std::int64_t from, std::int64_t to);

  std::int64_t dataStart_;
  bool zip64_;
  bool stored_;
  std::int64_t bare_;  ///< the descriptor's length without its signature
  std::int64_t next_;  ///< the next place to look at
  /// The CRC of the stored bytes from dataStart_ to crcAt_: no descriptor still to
  /// be found ends before crcAt_.
  std::uint32_t crc_ = 0xFFFFFFFFu;
  std::int64_t crcAt_;
  bool over_ = false;
  TDataDescriptor found_;
};

}  // namespace kestrel
