#include "unzip/zip_records.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "platform/code_page.h"
#include "platform/utf8.h"
#include "unzip/decode/crc32.h"
#include "unzip/dos_date_time.h"

namespace kestrel {
namespace {

// Extra fields of the names and times as their makers meant them.
constexpr std::uint16_t NtfsExtraId = 0x000A;          // NTFS times, 100 ns ticks since 1601, UTC
constexpr std::uint16_t ExtendedTimestampId = 0x5455;  // "UT": Unix seconds, UTC
constexpr std::uint16_t UnicodePathId = 0x7075;        // "up": UTF-8 name and the CRC-32 of the stored one
constexpr std::uint16_t UnixOwnerId = 0x7875;          // "ux": user and group IDs of any size
constexpr std::uint16_t OldUnixOwnerId = 0x7855;       // "Ux": 16-bit IDs, in a local header only
constexpr std::uint16_t OlderUnixId = 0x5855;          // "UX": times, then 16-bit IDs in a local header
constexpr std::uint16_t UnicodeCommentId = 0x6375;     // "uc": UTF-8 comment, likewise
constexpr std::int64_t NtfsTicksPerSecond = 10000000;
constexpr std::int64_t NtfsEpochToUnix = 11644473600;  // seconds from 1601-01-01 to 1970-01-01

std::uint32_t CrcOfText(const std::string& text) { return ~UpdateCrc(0xFFFFFFFFu, text.data(), text.size()); }

// The NTFS field: 4 reserved bytes, then tagged attributes; tag 1 (24 bytes)
// holds the last-write, last-access and creation times.
std::optional<platform::TFileTime> NtfsModifiedTime(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 4; at + 4 <= size;) {
    const std::uint16_t tag = GetU16(data + at);
    const std::size_t length = GetU16(data + at + 2);
    at += 4;
    if (length > size - at) break;
    if (tag == 1 && length >= 24) {
      const std::uint64_t ticks = GetU64(data + at);
      // A writer that knew no time leaves 0; ticks past the year 30828 are no time either.
      if (ticks == 0 || ticks >= (std::uint64_t{1} << 63)) return std::nullopt;
      const auto whole = static_cast<std::int64_t>(ticks);
      return platform::TFileTime{whole / NtfsTicksPerSecond - NtfsEpochToUnix,
                                 static_cast<std::int32_t>(whole % NtfsTicksPerSecond * 100)};
    }
    at += length;
  }
  return std::nullopt;
}

// The extended timestamp: a flags byte, then the times its bits name, the
// last-write time (bit 0) first. A central header carries only that one.
std::optional<platform::TFileTime> ExtendedModifiedTime(const std::uint8_t* data, std::size_t size,
                                                        std::uint32_t dosDateTime) {
  if (size < 5 || (data[0] & 1) == 0) return std::nullopt;
  const std::uint32_t raw = GetU32(data + 1);
  // The field is a signed 32-bit count. A negative one (before 1970) beside a DOS
  // date of 2038 or later comes from a writer that counts without sign, past
  // 2038: the DOS date tells the two apart.
  std::int64_t seconds = static_cast<std::int32_t>(raw);
  if (seconds < 0 && ((dosDateTime >> 25) & 0x7F) + 1980 >= 2038) seconds = raw;
  return platform::TFileTime{seconds, 0};
}

}  // namespace

void TZipHeaderInfo::Clear() {
  VersionMadeBy = 20;
  VersionNeeded = 20;
  Flags = 0;
  CompressionMethod = MethodDeflated;
  DateTime = 0;
  CRC32 = 0xFFFFFFFF;
  CompressedSize = 0;
  UncompressedSize = 0;
  NameLength = 0;
  CentralExtraLength = 0;
  LocalExtraLength = 0;
  CommentLength = 0;
  DiskStart = 0;
  InternalAttributes = 1;
  ExternalAttributes = 0x20;
  LocalHeaderOffset = 0;
  CentralHeaderOffset = 0;
  Zip64Local = false;
  Aes = TAesExtra();
  ModifiedTime.reset();
  Owner.reset();
  UnicodeComment.reset();
  unicodeName_.reset();
  Selected = false;
  Marked = false;
  fileName_.clear();
  directory_.clear();
  comment_.reset();
  rawName_.clear();
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& source) {
  if (&source == this) return;
  const bool oemConvert = OEMConvert;
  TNameCharsets charsets = std::move(NameCharsets);
  *this = source;
  OEMConvert = oemConvert;
  NameCharsets = std::move(charsets);
}

void TZipHeaderInfo::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  fileName_ = value;
  NameLength = static_cast<std::uint16_t>(directory_.size() + fileName_.size());
}

void TZipHeaderInfo::SetDirectory(const std::string& value) {
  std::string folder = value;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  if (folder == directory_) return;
  directory_ = std::move(folder);
  NameLength = static_cast<std::uint16_t>(directory_.size() + fileName_.size());
}

void TZipHeaderInfo::SetStoredPath(const std::string& path) {
  const auto split = path.find_last_of("\\:");
  if (split == std::string::npos) {
    SetDirectory(std::string());
    SetFileName(path);
  } else {
    SetDirectory(path.substr(0, split + 1));
    SetFileName(path.substr(split + 1));
  }
}

void TZipHeaderInfo::SetComment(std::optional<std::string> value) {
  CommentLength = value ? static_cast<std::uint16_t>(std::min<std::size_t>(value->size(), 0xFFFF)) : 0;
  comment_ = std::move(value);
}

std::optional<std::string> TZipHeaderInfo::UnicodeName(const std::string& raw) const {
  // The Unicode path field stands for the stored name it names by CRC-32; a tool
  // that renamed the entry without knowing the field left a CRC that no longer
  // fits, and the stored name stands. So does a field that names nothing: an
  // empty name, one with a NUL, or bytes that are no UTF-8 would lose the entry
  // or name it other than its maker did.
  if (!unicodeName_ || unicodeName_->first != CrcOfText(raw)) return std::nullopt;
  const std::string& name = unicodeName_->second;
  if (name.empty() || name.find('\0') != std::string::npos || !platform::IsUtf8(name)) return std::nullopt;
  return name;
}

std::string TZipHeaderInfo::StoredName(const std::string& raw, bool local) const {
  std::string name;
  if (const std::optional<std::string> unicode = UnicodeName(raw)) {
    name = platform::Utf8ToAnsi(*unicode);
  } else {
    // A name ends at a NUL byte, as it does for the systems that made and read
    // such archives: no file name can hold one, and the bytes after it name nothing.
    name = raw.substr(0, raw.find('\0'));
    const bool fromUnix = !local && MadeOnUnix(VersionMadeBy);
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    std::optional<std::string> converted;
    if ((Flags & FlagUtf8Name) != 0 || ascii) {
      // A name flagged as UTF-8 (general-purpose bit 11) says what it is; the
      // UTF-8 name is in the system's form already where the ANSI code page is
      // UTF-8. ASCII reads the same in every set.
      if (OEMConvert) name = platform::Utf8ToAnsi(name);
    } else if (const std::string& charset = fromUnix ? NameCharsets.Unix : NameCharsets.Oem;
               !charset.empty() && (converted = platform::CharsetToAnsi(charset, name))) {
      // The others are in the code page of the archiving system, which the user
      // may name. A name that is no text of it keeps the default reading. A local
      // header names no system: the user's set for names not made on Unix is
      // the one for local headers too.
      name = std::move(*converted);
    } else if (local && platform::IsUtf8(name)) {
      // A local header does not say where it was made. A name that is UTF-8 is
      // taken as UTF-8: Unix writers store UTF-8 names without the flag, and
      // names in an OEM code page are hardly ever valid UTF-8. The central header,
      // where there is one, has the last word.
      if (OEMConvert) name = platform::Utf8ToAnsi(name);
    } else if (local && !NameCharsets.Unix.empty() && (converted = platform::CharsetToAnsi(NameCharsets.Unix, name))) {
      name = std::move(*converted);
    } else if ((local || (VersionMadeBy >> 8) == HostMsDos) && OEMConvert) {
      // Only a name made on MS-DOS (host 0) is in the OEM code page of MS-DOS; so
      // is a local header's that is nothing else.
      name = platform::OemToAnsi(name);
    }
  }
  name.resize(std::min(name.size(), name.find('\0')));
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

bool TZipHeaderInfo::NameCutAtNul() const { return !UnicodeName(rawName_) && rawName_.find('\0') != std::string::npos; }

std::string TZipHeaderInfo::CommentText(const std::string& stored) const {
  if (UnicodeComment && UnicodeComment->StoredCrc == CrcOfText(stored))
    return platform::Utf8ToAnsi(UnicodeComment->Utf8);
  return stored;
}

bool TZipHeaderInfo::HasUnixMode() const { return MadeOnUnix(VersionMadeBy) && (ExternalAttributes >> 16) != 0; }

bool TZipHeaderInfo::MadeUpperCaseOnly() const {
  switch (VersionMadeBy >> 8) {
    case 0:   // MS-DOS FAT
    case 2:   // VMS
    case 4:   // VM/CMS
    case 9:   // CP/M
    case 10:  // TOPS-20
    case 15:  // MVS
    case 17:  // Tandem
      return true;
    default:
      return false;
  }
}

std::optional<platform::TFileOwner> ExtraFieldOwner(const std::uint8_t* extra, std::size_t length) {
  std::optional<platform::TFileOwner> old;
  for (std::size_t at = 0; at + 4 <= length;) {
    const std::uint16_t id = GetU16(extra + at);
    const std::size_t data = at + 4, end = data + GetU16(extra + at + 2);
    if (end > length) break;
    at = end;
    if (id == UnixOwnerId && end - data >= 3 && extra[data] == 1) {
      // Each ID little-endian in as many bytes as its size says.
      std::size_t field = data + 1;
      auto take = [&](std::uint32_t& value) {
        if (field >= end) return false;
        const std::size_t size = extra[field++];
        if (field + size > end) return false;
        std::uint64_t id64 = 0;
        for (std::size_t i = size; i-- > 0;) id64 = (id64 << 8) | extra[field + i];
        field += size;
        value = static_cast<std::uint32_t>(id64);
        return size <= 8 && id64 <= 0xFFFFFFFFu;
      };
      platform::TFileOwner owner;
      if (take(owner.User) && take(owner.Group)) return owner;
    } else if (id == OldUnixOwnerId && end - data >= 4 && !old) {
      old = platform::TFileOwner{GetU16(extra + data), GetU16(extra + data + 2)};
    } else if (id == OlderUnixId && end - data >= 12 && !old) {
      old = platform::TFileOwner{GetU16(extra + data + 8), GetU16(extra + data + 10)};
    }
  }
  return old;
}

bool TZipHeaderInfo::IsSymbolicLink() const {
  // The file type bits of the mode: 0120000 is a symbolic link. One without a
  // target can be no link: it is an empty file, as unzip writes it.
  return LinksFromMode(VersionMadeBy) && ((ExternalAttributes >> 16) & 0170000) == 0120000 && UncompressedSize != 0;
}

// From "version needed to extract" to the uncompressed size both headers hold the
// same fields in the same order: from offset 4 of a local header, 6 of a central one.
void TZipHeaderInfo::TakeSharedFields(const std::uint8_t* fields) {
  using L = TLocalHeaderLayout;
  using C = TCentralHeaderLayout;
  static_assert(C::UncompressedSizeAt - C::VersionNeededAt == L::UncompressedSizeAt - L::VersionNeededAt &&
                C::FlagsAt - C::VersionNeededAt == L::FlagsAt - L::VersionNeededAt);
  auto at = [&](std::size_t offset) { return fields + (offset - L::VersionNeededAt); };
  VersionNeeded = GetU16(at(L::VersionNeededAt));
  Flags = GetU16(at(L::FlagsAt));
  CompressionMethod = GetU16(at(L::MethodAt));
  DateTime = RepairDosDateTime(GetU32(at(L::DateTimeAt)));
  CRC32 = GetU32(at(L::CrcAt));
  CompressedSize = GetU32(at(L::CompressedSizeAt));
  UncompressedSize = GetU32(at(L::UncompressedSizeAt));
}

void TZipHeaderInfo::TakeName(std::string raw, bool local) {
  fileName_.clear();
  directory_.clear();
  SetStoredPath(StoredName(raw, local));
  NameLength = static_cast<std::uint16_t>(directory_.size() + fileName_.size());
  rawName_ = std::move(raw);
  comment_.reset();
  Selected = false;
  Marked = false;
}

bool TZipHeaderInfo::ReadExtraFields(TStream& stream, std::uint16_t length, bool central) {
  const bool needUncompressed = UncompressedSize == Zip64Escape32;
  const bool needCompressed = CompressedSize == Zip64Escape32;
  const bool needOffset = central && LocalHeaderOffset == Zip64Escape32;
  const bool needDisk = central && DiskStart == Zip64Escape16;
  const bool needed = needUncompressed || needCompressed || needOffset || needDisk;
  Aes = TAesExtra();
  ModifiedTime.reset();
  Owner.reset();
  UnicodeComment.reset();
  unicodeName_.reset();
  if (length == 0) return !needed;

  // Most extra fields are a few dozen bytes: those are read without an allocation,
  // as every central header of a large directory comes here.
  std::uint8_t small[256];
  std::vector<std::uint8_t> large(length > sizeof small ? length : 0);
  const std::span<std::uint8_t> extra(length > sizeof small ? large.data() : small, length);
  const std::int64_t afterName = stream.Position();
  const bool read = length == 0 || stream.Read(extra.data(), length) == length;
  stream.SetPosition(afterName);
  if (!read) return !needed;
  // Blocks of a 2-byte ID and a 2-byte length. The first ZIP64 block holds, in
  // this order, only the values whose classic field holds the escape value.
  bool zip64Read = false;
  std::optional<platform::TFileTime> ntfsTime, extendedTime;
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t id = GetU16(&extra[at]);
    const std::size_t data = at + 4;
    const std::size_t end = data + GetU16(&extra[at + 2]);
    if (end > extra.size()) break;
    at = end;
    if (id == AesExtraId && !Aes.Valid()) Aes = TAesExtra::Parse(&extra[data], end - data);
    if (id == NtfsExtraId && !ntfsTime) ntfsTime = NtfsModifiedTime(&extra[data], end - data);
    if (id == ExtendedTimestampId && !extendedTime)
      extendedTime = ExtendedModifiedTime(&extra[data], end - data, DateTime);
    // The Unicode fields: version 1, the CRC-32 of the stored text, the UTF-8 text.
    if ((id == UnicodePathId || id == UnicodeCommentId) && end - data >= 5 && extra[data] == 1) {
      std::string text(reinterpret_cast<const char*>(&extra[data + 5]), end - data - 5);
      if (id == UnicodePathId && !unicodeName_) unicodeName_.emplace(GetU32(&extra[data + 1]), std::move(text));
      if (id == UnicodeCommentId && !UnicodeComment)
        UnicodeComment = TUnicodeComment{GetU32(&extra[data + 1]), std::move(text)};
    }
    if (id != Zip64ExtraId || zip64Read) continue;
    zip64Read = true;
    if (!central) Zip64Local = true;
    std::size_t field = data;
    auto take64 = [&](std::uint64_t& value) {
      if (field + 8 > end) return false;
      value = GetU64(&extra[field]);
      field += 8;
      return value <= LargestZip64Value;
    };
    if (needUncompressed && !take64(UncompressedSize)) return false;
    if (needCompressed && !take64(CompressedSize)) return false;
    if (needOffset && !take64(LocalHeaderOffset)) return false;
    if (needDisk) {
      if (field + 4 > end) return false;
      DiskStart = GetU32(&extra[field]);
    }
  }
  // The NTFS times are the finer ones; either is exact where the DOS time is
  // local and counts in two-second steps.
  ModifiedTime = ntfsTime ? ntfsTime : extendedTime;
  Owner = ExtraFieldOwner(extra.data(), extra.size());
  return zip64Read || !needed;
}

bool TZipHeaderInfo::ReadCentralHeader(TStream& stream, const TNextVolume& nextVolume) {
  const std::int64_t start = stream.Position();
  std::uint8_t header[TCentralHeaderLayout::Size];
  TStream* source = &stream;
  std::int32_t got = source->Read(header, TCentralHeaderLayout::Size);
  if (nextVolume && got < TCentralHeaderLayout::Size) {
    // A header that runs off the end of a volume: nothing at all, or the start of
    // one, goes on in the next volume of the set.
    std::uint8_t signature[4];
    for (int i = 0; i < 4; ++i) signature[i] = static_cast<std::uint8_t>(TCentralHeaderLayout::Signature >> (8 * i));
    const std::int32_t compared = std::min<std::int32_t>(got, 4);
    if (got == 0 || std::memcmp(header, signature, static_cast<std::size_t>(compared)) == 0) {
      source = &nextVolume();
      got += std::max<std::int32_t>(source->Read(header + got, TCentralHeaderLayout::Size - got), 0);
    }
  }
  auto fail = [&] {
    if (source == &stream) stream.SetPosition(start);
    return false;
  };
  if (got != TCentralHeaderLayout::Size || GetU32(header) != TCentralHeaderLayout::Signature) return fail();

  const std::uint16_t nameLength = GetU16(header + TCentralHeaderLayout::NameLengthAt);
  std::string raw(nameLength, '\0');
  if (nameLength != 0) {
    std::int32_t nameGot = source->Read(raw.data(), nameLength);
    if (nameGot < nameLength && nextVolume && source == &stream) {
      source = &nextVolume();
      nameGot += std::max<std::int32_t>(source->Read(raw.data() + nameGot, nameLength - nameGot), 0);
    }
    if (nameGot != nameLength) return fail();
  }

  using L = TCentralHeaderLayout;
  VersionMadeBy = GetU16(header + L::VersionMadeByAt);
  TakeSharedFields(header + L::VersionNeededAt);
  CentralExtraLength = GetU16(header + L::ExtraLengthAt);
  CommentLength = GetU16(header + L::CommentLengthAt);
  DiskStart = GetU16(header + L::DiskStartAt);
  InternalAttributes = GetU16(header + L::InternalAttributesAt);
  ExternalAttributes = GetU32(header + L::ExternalAttributesAt);
  LocalHeaderOffset = GetU32(header + L::LocalHeaderOffsetAt);
  LocalExtraLength = 0;
  Zip64Local = false;
  if (!ReadExtraFields(*source, CentralExtraLength, true)) return fail();
  CentralHeaderOffset = static_cast<std::uint64_t>(start);
  TakeName(std::move(raw), false);
  return true;
}

bool TZipHeaderInfo::ReadLocalHeader(TStream& stream) {
  const std::int64_t start = stream.Position();
  std::uint8_t header[TLocalHeaderLayout::Size];
  auto fail = [&] {
    stream.SetPosition(start);
    return false;
  };
  if (stream.Read(header, TLocalHeaderLayout::Size) != TLocalHeaderLayout::Size ||
      GetU32(header) != TLocalHeaderLayout::Signature)
    return fail();
  const std::uint16_t nameLength = GetU16(header + TLocalHeaderLayout::NameLengthAt);
  std::string raw(nameLength, '\0');
  if (nameLength != 0 && stream.Read(raw.data(), nameLength) != nameLength) return fail();

  using L = TLocalHeaderLayout;
  VersionMadeBy = 0;
  TakeSharedFields(header + L::VersionNeededAt);
  LocalExtraLength = GetU16(header + L::ExtraLengthAt);
  CentralExtraLength = 0;
  CommentLength = 0;
  DiskStart = 0;
  InternalAttributes = 0;
  ExternalAttributes = 0;
  CentralHeaderOffset = 0;
  LocalHeaderOffset = 0;
  Zip64Local = false;
  if (!ReadExtraFields(stream, LocalExtraLength, false)) return fail();
  LocalHeaderOffset = static_cast<std::uint64_t>(start);
  // A local header names no host system: its name is read by what its bytes are.
  TakeName(std::move(raw), true);
  return true;
}

void TEndCentral::Clear() {
  Signature = TEndCentralLayout::Signature;
  ThisDisk = 0;
  CentralDirDisk = 0;
  EntriesThisDisk = 0;
  TotalEntries = 0;
  CentralDirSize = 0;
  CentralDirOffset = 0;
  CommentLength = 0;
  CommentPos = 0;
  RecordsStart = 0;
  Modified = false;
  comment_.reset();
  locatorPos_ = 0;
  zip64RecordOffset_ = 0;
}

void TEndCentral::Assign(const TEndCentral& source) {
  if (&source == this) return;
  const bool modified = Modified;
  *this = source;
  Modified = modified;
}

bool TEndCentral::FindEndCentral(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size < TEndCentralLayout::Size) return size == 0;

  const auto window = static_cast<std::int32_t>(std::min<std::int64_t>(size, TEndCentralLayout::SearchSize));
  std::vector<std::uint8_t> block(static_cast<std::size_t>(window));
  stream.SetPosition(size - window);
  if (stream.Read(block.data(), window) != window) return false;

  // Backwards from the last place a whole record fits: the record nearest the end
  // wins, as an archive comment may itself hold the signature bytes.
  for (std::int32_t at = window - TEndCentralLayout::Size; at >= 0; --at) {
    if (block[static_cast<std::size_t>(at)] != 0x50) continue;
    const std::uint8_t* record = block.data() + at;
    if (GetU32(record) != TEndCentralLayout::Signature) continue;
    Signature = TEndCentralLayout::Signature;
    using L = TEndCentralLayout;
    ThisDisk = GetU16(record + L::ThisDiskAt);
    CentralDirDisk = GetU16(record + L::CentralDirDiskAt);
    EntriesThisDisk = GetU16(record + L::EntriesThisDiskAt);
    TotalEntries = GetU16(record + L::TotalEntriesAt);
    CentralDirSize = GetU32(record + L::CentralDirSizeAt);
    CentralDirOffset = GetU32(record + L::CentralDirOffsetAt);
    CommentLength = GetU16(record + L::CommentLengthAt);
    CommentPos = static_cast<std::uint64_t>(size - window + at + TEndCentralLayout::Size);
    RecordsStart = CommentPos - TEndCentralLayout::Size;
    return true;
  }
  return false;
}

bool TEndCentral::FindZip64Locator(TStream& stream) {
  if (RecordsStart < static_cast<std::uint64_t>(TZip64LocatorLayout::Size)) return false;
  const std::uint64_t at = RecordsStart - TZip64LocatorLayout::Size;
  std::uint8_t locator[TZip64LocatorLayout::Size];
  stream.SetPosition(static_cast<std::int64_t>(at));
  if (stream.Read(locator, TZip64LocatorLayout::Size) != TZip64LocatorLayout::Size ||
      GetU32(locator) != TZip64LocatorLayout::Signature)
    return false;
  locatorPos_ = at;
  // The disk that holds the ZIP64 record is the last one, this file, in every set
  // that writers make; only its offset is taken.
  zip64RecordOffset_ = GetU64(locator + TZip64LocatorLayout::RecordOffsetAt);
  return true;
}

bool TEndCentral::ReadZip64EndCentral(TStream& stream) {
  // The record is where the locator says; an archive with bytes in front of it
  // (a self-extractor's program) has it right before the locator instead.
  std::uint8_t record[TZip64EndCentralLayout::Size];
  std::uint64_t at = zip64RecordOffset_;
  auto readAt = [&](std::uint64_t offset) {
    if (offset > locatorPos_ || locatorPos_ - offset < static_cast<std::uint64_t>(TZip64EndCentralLayout::Size))
      return false;
    stream.SetPosition(static_cast<std::int64_t>(offset));
    return stream.Read(record, TZip64EndCentralLayout::Size) == TZip64EndCentralLayout::Size &&
           GetU32(record) == TZip64EndCentralLayout::Signature;
  };
  if (!readAt(at)) {
    if (locatorPos_ < static_cast<std::uint64_t>(TZip64EndCentralLayout::Size)) return false;
    at = locatorPos_ - TZip64EndCentralLayout::Size;
    if (!readAt(at)) return false;
  }
  using L = TZip64EndCentralLayout;
  const std::uint32_t thisDisk = GetU32(record + L::ThisDiskAt);
  const std::uint32_t centralDirDisk = GetU32(record + L::CentralDirDiskAt);
  const std::uint64_t entriesThisDisk = GetU64(record + L::EntriesThisDiskAt);
  const std::uint64_t totalEntries = GetU64(record + L::TotalEntriesAt);
  const std::uint64_t centralDirSize = GetU64(record + L::CentralDirSizeAt);
  const std::uint64_t centralDirOffset = GetU64(record + L::CentralDirOffsetAt);
  if (totalEntries > LargestZip64Value || entriesThisDisk > LargestZip64Value || centralDirSize > LargestZip64Value ||
      centralDirOffset > LargestZip64Value)
    return false;
  // The record's own length covers at least its fixed fields; the directory lies
  // in front of it (offsets count from the archive proper, so bytes in front of
  // the archive only widen the gap); a disk holds no more entries than the set.
  if (GetU64(record + L::RecordSizeAt) < L::Size - L::Uncounted || centralDirOffset + centralDirSize > at ||
      entriesThisDisk > totalEntries || thisDisk < centralDirDisk)
    return false;
  // A classic field that does not send the reader here must say the same.
  auto agrees = [](std::uint64_t classic, std::uint64_t escape, std::uint64_t value) {
    return classic == escape || classic == value;
  };
  if (!agrees(ThisDisk, Zip64Escape16, thisDisk) || !agrees(CentralDirDisk, Zip64Escape16, centralDirDisk) ||
      !agrees(EntriesThisDisk, Zip64Escape16, entriesThisDisk) || !agrees(TotalEntries, Zip64Escape16, totalEntries) ||
      !agrees(CentralDirSize, Zip64Escape32, centralDirSize) ||
      !agrees(CentralDirOffset, Zip64Escape32, centralDirOffset))
    return false;
  ThisDisk = thisDisk;
  CentralDirDisk = centralDirDisk;
  EntriesThisDisk = entriesThisDisk;
  TotalEntries = totalEntries;
  CentralDirSize = centralDirSize;
  CentralDirOffset = centralDirOffset;
  RecordsStart = at;
  return true;
}

bool TEndCentral::DirectoryStartsWhereSaid(TStream& stream) const {
  if (TotalEntries == 0) return true;
  if (CentralDirOffset > RecordsStart || RecordsStart - CentralDirOffset < 4) return false;
  std::uint8_t signature[4];
  stream.SetPosition(static_cast<std::int64_t>(CentralDirOffset));
  return stream.Read(signature, 4) == 4 && GetU32(signature) == TCentralHeaderLayout::Signature;
}

bool TEndCentral::SettleZip64Records(TStream& stream) {
  const bool escaped = ThisDisk == Zip64Escape16 || CentralDirDisk == Zip64Escape16 ||
                       EntriesThisDisk == Zip64Escape16 || TotalEntries == Zip64Escape16 ||
                       CentralDirSize == Zip64Escape32 || CentralDirOffset == Zip64Escape32;
  const bool locator = FindZip64Locator(stream);
  TEndCentral zip64 = *this;
  const bool checksOut = locator && zip64.ReadZip64EndCentral(stream);
  // Without escape values the classic record says everything; a record that
  // checks out says the same by then.
  if (!escaped) return true;
  if (checksOut) {
    if (zip64.DirectoryStartsWhereSaid(stream) || !DirectoryStartsWhereSaid(stream)) *this = zip64;
    return true;
  }
  // No locator: the classic values are all there is, and the directory read
  // decides. A locator whose record does not check out leaves escape values that
  // nothing explains, unless the directory is where they say.
  return !locator || DirectoryStartsWhereSaid(stream);
}

bool IsRecordSignature(std::uint32_t signature) {
  return signature == TLocalHeaderLayout::Signature || signature == TCentralHeaderLayout::Signature ||
         signature == TZip64EndCentralLayout::Signature || signature == TZip64LocatorLayout::Signature ||
         signature == TEndCentralLayout::Signature;
}

std::size_t FindRecordStart(const std::uint8_t* bytes, std::size_t count, bool inputEnds) {
  // A local header is known by six bytes: its signature and "version needed".
  constexpr std::size_t localBytes = 6;
  for (std::size_t at = 0; at + (inputEnds ? 4 : localBytes) <= count; ++at) {
    // Every signature starts with "PK".
    if (bytes[at] != 'P' || bytes[at + 1] != 'K') continue;
    const std::uint32_t signature = GetU32(bytes + at);
    if (signature == TLocalHeaderLayout::Signature) {
      if (at + localBytes <= count && bytes[at + localBytes - 1] < VersionNeededHighLimit) return at;
    } else if (IsRecordSignature(signature)) {
      return at;
    }
  }
  return count;
}

namespace {

/// A descriptor's size field: 8 bytes behind a local header with a ZIP64 block, else 4.
std::uint64_t DescriptorSize(const std::uint8_t* p, bool zip64) { return zip64 ? GetU64(p) : std::uint64_t{GetU32(p)}; }

/// What the descriptor whose CRC and sizes start at d says; End after it.
TDataDescriptor DescriptorAt(const std::uint8_t* d, bool zip64, std::int64_t end) {
  const std::size_t sizeBytes = zip64 ? 8 : 4;
  return TDataDescriptor{end, GetU32(d), DescriptorSize(d + 4, zip64), DescriptorSize(d + 4 + sizeBytes, zip64)};
}

}  // namespace

std::optional<TDataDescriptor> MatchDataDescriptor(const std::uint8_t* bytes, std::int64_t count, std::int64_t at,
                                                   bool zip64, std::uint64_t compressed, std::uint64_t uncompressed) {
  const std::int64_t bare = DataDescriptorLength(zip64);
  auto fits = [&](const std::uint8_t* d) {
    const TDataDescriptor said = DescriptorAt(d, zip64, 0);
    return said.CompressedSize == compressed && said.UncompressedSize == uncompressed;
  };
  if (count >= 4 + bare && GetU32(bytes) == DataDescriptorSig && fits(bytes + 4))
    return DescriptorAt(bytes + 4, zip64, at + 4 + bare);
  if (count >= bare && fits(bytes)) return DescriptorAt(bytes, zip64, at + bare);
  return std::nullopt;
}

TDescriptorSearch::TDescriptorSearch(const TZipHeaderInfo& entry, std::int64_t dataStart)
    : dataStart_(dataStart),
      zip64_(entry.Zip64Local),
      stored_(entry.CompressionMethod == MethodStored && !entry.Encrypted()),
      bare_(DataDescriptorLength(entry.Zip64Local)),
      next_(dataStart),
      crcAt_(dataStart) {}

std::int64_t TDescriptorSearch::NeededFrom() const {
  // The CRC and sizes in front of a record, and the stored bytes the CRC has
  // not taken yet.
  const std::int64_t behind = std::max(dataStart_, next_ - bare_);
  return stored_ ? std::min(crcAt_, behind) : behind;
}

void TDescriptorSearch::CrcTo(const std::uint8_t* bytes, std::int64_t from, std::int64_t to) {
  if (to <= crcAt_) return;
  crc_ = UpdateCrc(crc_, bytes + (crcAt_ - from), static_cast<std::size_t>(to - crcAt_));
  crcAt_ = to;
}

bool TDescriptorSearch::Fits(const std::uint8_t* d, const std::uint8_t* bytes, std::int64_t from, std::int64_t end) {
  const auto length = static_cast<std::uint64_t>(end - dataStart_);
  const TDataDescriptor said = DescriptorAt(d, zip64_, end);
  if (said.CompressedSize != length) return false;
  if (!stored_) return true;
  // end lies at most bare_ bytes past crcAt_.
  const std::uint32_t crc = ~UpdateCrc(crc_, bytes + (crcAt_ - from), static_cast<std::size_t>(end - crcAt_));
  return said.UncompressedSize == length && said.Crc == crc;
}

bool TDescriptorSearch::Look(const std::uint8_t* bytes, std::int64_t from, std::int64_t count, bool inputEnds,
                             std::int64_t& budget) {
  if (over_) return true;
  const std::int64_t end = from + count;
  // A place is looked at once the longest thing read there has arrived: a
  // descriptor with its signature, and the signature of the record after it.
  const std::int64_t last = inputEnds ? end - 4 : end - (4 + bare_ + 4);
  const std::int64_t first = next_;
  auto take = [&](const std::uint8_t* d, std::int64_t after) {
    const std::int64_t firstRecord = found_.FirstRecord;
    found_ = DescriptorAt(d, zip64_, after);
    found_.FirstRecord = firstRecord;
    over_ = true;
    return true;
  };
  for (; next_ <= last; ++next_) {
    const std::int64_t at = next_;
    const std::uint8_t* p = bytes + (at - from);
    if (p[0] != 'P' || p[1] != 'K') continue;
    if (stored_) CrcTo(bytes, from, std::max(dataStart_, at - bare_));
    const std::uint32_t signature = GetU32(p);
    const bool record = IsRecordSignature(signature);
    if (signature == DataDescriptorSig && at + 4 + bare_ <= end) {
      const std::int64_t after = at + 4 + bare_;
      const bool followed =
          (inputEnds && after == end) || (after + 4 <= end && IsRecordSignature(GetU32(p + 4 + bare_)));
      if ((!stored_ || followed) && Fits(p + 4, bytes, from, at)) return take(p + 4, after);
    } else if (record && at - bare_ >= dataStart_ && Fits(p - bare_, bytes, from, at - bare_)) {
      // A descriptor written without its signature: CRC and sizes just in front
      // of the next record.
      return take(p - bare_, at);
    }
    if (!record) continue;
    if (found_.FirstRecord < 0) found_.FirstRecord = at;
    if (budget <= 0) {
      over_ = true;
      return true;
    }
  }
  if (found_.FirstRecord >= 0) budget -= next_ - std::max(first, found_.FirstRecord);
  if (stored_) CrcTo(bytes, from, std::max(dataStart_, next_ - bare_));
  return false;
}

}  // namespace kestrel
