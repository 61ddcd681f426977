// Reading an archive's directory: the end record, the central directory, the
// rebuild from local headers, the volumes of a multi-volume set and the ".zfc"
// companion file.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/code_page.h"
#include "platform/host_ui.h"
#include "unzip/decode/crc32.h"
#include "unzip/dos_date_time.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel {
namespace {

/// An end record whose disk numbers or directory offset no single archive or set
/// can have is taken as no end record at all. In a single file a directory
/// with entries lies in front of the end records.
bool PlausibleEndRecord(const TEndCentral& record) {
  return record.ThisDisk <= 999 && record.CentralDirDisk <= 999 && record.ThisDisk >= record.CentralDirDisk &&
         (record.ThisDisk != 0 || record.TotalEntries == 0 || record.CentralDirOffset <= record.RecordsStart);
}

/// How the names of an archive and its volumes are spelled: the host's way, and
/// with the backslash that the component's own paths use as a separator too.
const platform::TPathRules& ArchiveNameRules() {
  static constexpr platform::TPathRules withBackslash{"/\\", '/', false, false};
  return platform::HostPathRules().HasDrives ? platform::HostPathRules() : withBackslash;
}

/// Bytes of the archive read in one go by the searches over its whole length.
constexpr std::int32_t ScanBlock = 65536;
/// Bytes scanned between two turns of the host's message pump.
constexpr std::int32_t PumpInterval = 10240;

/// Reads a stream forward in large blocks, for the searches that look at every byte.
class TByteScanner {
 public:
  TByteScanner(TStream& stream, std::int64_t start) : stream_(stream), position_(start) { stream_.SetPosition(start); }
  /// The next byte, or -1 at the end.
  int Next() {
    if (at_ == got_) {
      got_ = std::max<std::int32_t>(stream_.Read(block_.data(), ScanBlock), 0);
      at_ = 0;
      if (got_ == 0) return -1;
    }
    ++position_;
    return block_[static_cast<std::size_t>(at_++)];
  }
  /// The offset of the byte Next returns next.
  std::int64_t Position() const { return position_; }

 private:
  TStream& stream_;
  std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(ScanBlock);
  std::int32_t got_ = 0, at_ = 0;
  std::int64_t position_;
};

/// What ends an entry whose local header has bit 3 set and no sizes: its data
/// descriptor, found by the compressed size it records matching its own distance
/// from the data.
struct TFoundDescriptor {
  std::int64_t End = -1;  ///< where the next record starts; -1 when none was found
  std::uint32_t Crc = 0;
  std::uint64_t CompressedSize = 0, UncompressedSize = 0;
  /// Where the first record after the data starts, the descriptor found or not;
  /// -1 when the archive ends first.
  std::int64_t FirstRecord = -1;
};

bool IsRecordSignature(std::uint32_t signature) {
  return signature == TLocalHeaderLayout::Signature || signature == TCentralHeaderLayout::Signature ||
         signature == TEndCentralLayout::Signature || signature == TZip64EndCentralLayout::Signature;
}

/// wide: the entry's local header has a ZIP64 block, so the descriptor's sizes
/// have 8 bytes each instead of 4.
/// stored: the data is the entry's bytes as they are (method 0, not encrypted).
/// Such data may hold anything, records and descriptors included (a stored jar
/// inside an archive), so a descriptor ends it only when its CRC is that of the
/// bytes in front of it, both its sizes count them, and the next record or the
/// archive's end follows it; the search goes on past records while the budget of
/// bytes lasts. It is shared by the whole rebuild, so that damaged entries cannot
/// make the searches cross the file again and again. Other data is ended by the
/// first descriptor whose compressed size fits, before the next record.
TFoundDescriptor FindDataDescriptor(TStream& stream, std::int64_t dataStart, std::int64_t size, bool wide, bool stored,
                                    std::int64_t& budget) {
  TFoundDescriptor found;
  const int sizeBytes = wide ? 8 : 4;
  const std::int32_t bare = 4 + 2 * sizeBytes;  // CRC and sizes, without the signature
  auto sizeAt = [&](const std::uint8_t* p) { return wide ? GetU64(p) : std::uint64_t{GetU32(p)}; };
  // Blocks overlap by 32 bytes on either side: a descriptor in front of the next
  // record, or one with its signature and the record after it, is always seen whole.
  constexpr std::int64_t Overlap = 32;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(ScanBlock + 2 * Overlap));
  // The CRC of the stored bytes from dataStart to crcAt: no descriptor still to
  // be found ends before it.
  std::uint32_t crc = 0xFFFFFFFFu;
  std::int64_t crcAt = dataStart;
  std::int64_t from = dataStart;
  std::int32_t got = 0;
  auto crcTo = [&](std::int64_t to) {
    if (to <= crcAt) return;
    crc = UpdateCrc(crc, block.data() + (crcAt - from), static_cast<std::size_t>(to - crcAt));
    crcAt = to;
  };
  // The CRC of the bytes from dataStart to end, with end at most bare bytes past crcAt.
  auto crcOfData = [&](std::int64_t end) {
    return ~UpdateCrc(crc, block.data() + (crcAt - from), static_cast<std::size_t>(end - crcAt));
  };
  // Whether the data from dataStart to end fits a descriptor's CRC and sizes.
  auto fits = [&](const std::uint8_t* d, std::int64_t end) {
    const auto length = static_cast<std::uint64_t>(end - dataStart);
    if (sizeAt(d + 4) != length) return false;
    return !stored || (sizeAt(d + 4 + sizeBytes) == length && GetU32(d) == crcOfData(end));
  };
  for (std::int64_t base = dataStart; base < size; base += ScanBlock) {
    from = std::max(dataStart, base - Overlap);
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(base + ScanBlock + Overlap, size) - from);
    stream.SetPosition(from);
    got = stream.Read(block.data(), want);
    if (got <= 0) break;
    const std::int64_t blockEnd = std::min<std::int64_t>(base + ScanBlock, from + got);
    for (std::int64_t at = base; at + 4 <= from + got && at < blockEnd; ++at) {
      const auto i = static_cast<std::size_t>(at - from);
      // Every signature starts with "PK".
      if (block[i] != 'P' || block[i + 1] != 'K') continue;
      const std::uint8_t* p = block.data() + i;
      if (stored) crcTo(std::max(dataStart, at - bare));
      const bool record = IsRecordSignature(GetU32(p));
      if (GetU32(p) == DataDescriptorSig && at + 4 + bare <= from + got) {
        const std::int64_t after = at + 4 + bare;
        const bool followed = after == size || (after + 4 <= from + got && IsRecordSignature(GetU32(p + 4 + bare)));
        if ((!stored || followed) && fits(p + 4, at)) {
          found.End = after;
          found.Crc = GetU32(p + 4);
          found.CompressedSize = sizeAt(p + 8);
          found.UncompressedSize = sizeAt(p + 8 + sizeBytes);
          return found;
        }
      } else if (record && at - bare >= dataStart) {
        // A descriptor written without its signature: CRC and sizes just in front
        // of the next record.
        const std::uint8_t* d = p - bare;
        if (fits(d, at - bare)) {
          found.End = at;
          found.Crc = GetU32(d);
          found.CompressedSize = sizeAt(d + 4);
          found.UncompressedSize = sizeAt(d + 4 + sizeBytes);
          return found;
        }
      }
      if (!record) continue;
      // The next record starts here and no descriptor came before it: searching on
      // would only cross other entries, which only stored data may hold.
      if (found.FirstRecord < 0) found.FirstRecord = at;
      if (!stored || budget <= 0) return found;
    }
    if (found.FirstRecord >= 0) budget -= blockEnd - std::max(base, found.FirstRecord);
    if (stored) crcTo(std::max(dataStart, blockEnd - bare));
  }
  return found;
}

/// What one try at loading the directory saw of the archive file.
struct TLoadAttempt {
  std::string Name;
  std::optional<platform::TFileTime> Time;
  std::int64_t Size = -1;
};

bool SameAttempt(const TLoadAttempt& a, const TLoadAttempt& b) {
  return a.Name == b.Name && a.Time == b.Time && a.Size == b.Size;
}

}  // namespace

void TKestrelUnZip::FreeDirectory() {
  sortedView_.reset();
  directoryList_.reset();
  findings_.UnendedEntries.clear();
  findings_.CutShortEntry = nullptr;
}

std::optional<platform::TFileTime> TKestrelUnZip::ArchiveFileTime() {
  if (!archiveStream_) return std::nullopt;
  return archiveStream_->File().LastWriteTime();
}

TStream& TKestrelUnZip::DirectoryStream() {
  if (companionStream_) return *companionStream_;
  return *archiveStream_;
}

void TKestrelUnZip::SetZipName(const std::string& value) {
  const bool same =
      platform::HostPathRules().CaseInsensitive ? platform::AnsiCompareText(value, zipName_) == 0 : value == zipName_;
  if (same) return;
  std::string name = value;
  // Where a file name may end in "?" (not on Windows), a file of that name is the
  // archive itself, not a request for the dialog.
  if (!name.empty() && name.back() == '?' && !platform::QueryFileKind(name)) {
    const auto chosen = platform::OpenFileDialog("Open a Zip File", name.substr(0, name.size() - 1));
    if (!chosen) throw EUserCanceled("User canceled setting zip file name.");
    name = *chosen;
  }
  zipName_ = std::move(name);
  FreeDirectory();
  archiveDate_.reset();
  endCentral_->Clear();
  archiveStream_.reset();
  companionStream_.reset();
  findings_.Rebuilt = findings_.EndRecordMissing = false;
}

void TKestrelUnZip::OpenZip() {
  if (!archiveStream_) {
    // The directory lies at the end: a pipe, a FIFO or a device cannot be read from
    // there, and what an open or a read took from a pipe would be lost to whoever
    // reads it next. Such an input, and a folder, is refused before it is opened.
    const auto kind = platform::QueryFileKind(zipName_);
    if (kind == platform::TFileKind::Other || kind == platform::TFileKind::Folder)
      throw EFOpenError("Cannot open file " + zipName_ + " (not a regular file)");
    archiveStream_ =
        std::make_unique<TLFNFileStream>(zipName_, ArchiveWindowSize, flushFilesOnClose_, fmShareDenyWrite);
  }
  if (!directoryList_) {
    ReadZip();
  } else if (ArchiveFileTime() != archiveDate_) {
    // The raw file time, not its DOS form: a time outside 1980 to 2107 has no DOS
    // form, and such an archive must still read like any other.
    ReadZip();
  }
}

void TKestrelUnZip::CloseZip() {
  if (!keepZipOpen_) archiveStream_.reset();
}

void TKestrelUnZip::ResetZip() {
  archiveStream_.reset();
  companionStream_.reset();
  FreeDirectory();
  endCentral_->Clear();
  findings_.Rebuilt = findings_.EndRecordMissing = false;
  findings_.PrependedBytes = 0;
  archiveDate_.reset();
  spanMode_ = 0;
  zipName_.clear();
}

void TKestrelUnZip::LoadZipDirectory() {
  CancelRequested = false;
  if (inputStream_ != nullptr) {
    ReadStreamDirectory();
    return;
  }
  // A handler of OnInCompleteZip may make another volume available and ask for
  // another try; the same file, unchanged, would fail the same way for ever.
  std::optional<TLoadAttempt> previous;
  for (;;) {
    platform::TBusyCursor busy;
    try {
      OpenZip();
    } catch (const EIncompleteZip&) {
      TLoadAttempt attempt{zipName_, ArchiveFileTime(), archiveStream_ ? archiveStream_->Size() : -1};
      archiveStream_.reset();
      if (OnInCompleteZip && !(previous && SameAttempt(*previous, attempt))) {
        previous = attempt;
        continue;
      }
      break;
    } catch (...) {
      ResetZip();
      throw;
    }
    break;
  }
  CloseZip();
}

void TKestrelUnZip::ReadZip() {
  archiveDate_ = ArchiveFileTime();
  FreeDirectory();
  companionStream_.reset();

  std::string missing;
  bool recordFound = false;
  findings_.PrependedBytes = 0;
  if (LocateEndRecords(missing, recordFound) || OpenCompanionDirectory()) {
    StartDirectoryRead();
    if (!companionStream_ && endCentral_->ThisDisk == 0 && endCentral_->TotalEntries > 0) {
      findings_.PrependedBytes = MeasurePrependedBytes();
      endCentral_->CentralDirOffset += static_cast<std::uint64_t>(findings_.PrependedBytes);
      DirectoryStream().SetPosition(static_cast<std::int64_t>(endCentral_->CentralDirOffset));
    }
  } else {
    TakeMissingDirectory(missing, recordFound);
  }

  // Central headers that name one local header are all listed; the extraction
  // takes the one that the local header names and leaves out the others.
  if (EntryCount() == 0) {
    FreeDirectory();
    directoryList_ = std::make_unique<TSortedZip>(DuplicatesAllowed);
  }
  ReadDirectoryEntries();

  currentDisk_ = companionStream_ ? 0 : endCentral_->ThisDisk;
  SortDirectory(sortMode_);
  companionStream_.reset();
}

bool TKestrelUnZip::LocateEndRecords(std::string& missing, bool& recordFound) {
  missing = "no end-of-central-directory record";
  recordFound = endCentral_->FindEndCentral(*archiveStream_);
  if (!recordFound) return false;
  if (!endCentral_->SettleZip64Records(*archiveStream_)) {
    ResetZip();
    throw EBadZipFile("Not a valid zip file!", "its ZIP64 end record is missing or contradicts the end record");
  }
  if (PlausibleEndRecord(*endCentral_)) return true;
  missing = endCentral_->ThisDisk > 999 || endCentral_->CentralDirDisk > 999 ||
                    endCentral_->ThisDisk < endCentral_->CentralDirDisk
                ? "the end-of-central-directory record names disks no archive has"
                : "the end-of-central-directory record points past the end of the archive";
  return false;
}

bool TKestrelUnZip::OpenCompanionDirectory() {
  // A multi-volume set may keep a copy of its central directory and end record
  // in a companion file of the same name with the extension ".zfc".
  endCentral_->Clear();
  const std::string companion = platform::ChangeExtension(zipName_, ".zfc", ArchiveNameRules());
  if (!platform::FileExists(companion)) return false;
  try {
    companionStream_ = std::make_unique<TFileStream>(companion, fmOpenRead);
  } catch (const EFOpenError&) {
    companionStream_.reset();
  }
  // An empty companion would pass for an archive without entries.
  if (companionStream_ && companionStream_->Size() >= TEndCentralLayout::Size &&
      endCentral_->FindEndCentral(*companionStream_) && PlausibleEndRecord(*endCentral_))
    return true;
  companionStream_.reset();
  endCentral_->Clear();
  return false;
}

void TKestrelUnZip::StartDirectoryRead() {
  const bool fromCompanion = companionStream_ != nullptr;
  currentDisk_ = fromCompanion ? 0 : endCentral_->ThisDisk;
  if (endCentral_->ThisDisk == 0) {
    spanMode_ = 0;
  } else {
    std::string drive = zipName_.substr(0, 3);
    for (char& c : drive) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    spanMode_ = zipName_.size() > 1 && zipName_[1] == ':' && platform::DriveIsRemovable(drive) ? 1 : 2;
    // The archive comment of a set lies in the file that holds the end record;
    // it is read now, before another volume takes the archive's place.
    if (endCentral_->HasComment()) {
      TStream& holder = DirectoryStream();
      std::string comment(endCentral_->CommentLength, '\0');
      holder.SetPosition(endCentral_->CommentPos);
      comment.resize(static_cast<std::size_t>(std::max(holder.Read(comment.data(), endCentral_->CommentLength), 0)));
      endCentral_->SetComment(comment);
    }
  }
  if (endCentral_->TotalEntries > 0) {
    // Disk numbers are at most 999 here (a plausible end record).
    const auto directoryDisk = static_cast<std::int32_t>(endCentral_->CentralDirDisk);
    if (!fromCompanion && spanMode_ != 0 && directoryDisk != currentDisk_) OpenVolume(directoryDisk + 1);
    DirectoryStream().SetPosition(fromCompanion ? 0 : static_cast<std::int64_t>(endCentral_->CentralDirOffset));
  }
}

void TKestrelUnZip::TakeMissingDirectory(const std::string& missing, bool recordFound) {
  TIncompleteZipMode mode = incompleteZipMode_;
  if (OnInCompleteZip) {
    OnInCompleteZip(*this, mode);
    incompleteZipMode_ = mode;
  }
  switch (mode) {
    case izAssumeNotAZip:
      throw ENotAZipFile("Not a valid zip file!", missing, recordFound);
    case izAssumeBad:
      if (!RebuildFromLocalHeaders()) {
        ResetZip();
        throw EBadZipFile("Not a valid zip file!", missing + ", and no local header");
      }
      findings_.EndRecordMissing = true;
      return;
    case izAssumeCutShort:
      if (recordFound || !RebuildFromLocalHeaders() || EntryCount() == 0)
        throw ENotAZipFile("Not a valid zip file!", missing, recordFound);
      findings_.EndRecordMissing = true;
      return;
    default:
      throw EIncompleteZip("Incomplete Zip File");
  }
}

std::int64_t TKestrelUnZip::MeasurePrependedBytes() {
  // Bytes put in front of an archive push everything back by their count, while
  // the offsets inside still count from the archive's own start: the directory
  // then ends where the end records start, and not where its offset says.
  const TEndCentral& end = *endCentral_;
  if (end.CentralDirSize > end.RecordsStart || end.RecordsStart - end.CentralDirSize <= end.CentralDirOffset) return 0;
  const std::uint64_t found = end.RecordsStart - end.CentralDirSize;
  const std::uint64_t shift = found - end.CentralDirOffset;
  TStream& stream = *archiveStream_;
  auto signatureAt = [&](std::uint64_t offset, std::uint8_t* bytes, std::int32_t count) {
    stream.SetPosition(static_cast<std::int64_t>(offset));
    return stream.Read(bytes, count) == count ? GetU32(bytes) : 0;
  };
  std::uint8_t header[TCentralHeaderLayout::Size] = {};
  // A directory that starts where it is said to is right as it is, whatever follows.
  if (signatureAt(end.CentralDirOffset, header, 4) == TCentralHeaderLayout::Signature) return 0;
  // A file that starts with a local header is an archive from its first byte: an
  // end record further on belongs to an archive stored inside it.
  if (signatureAt(0, header, 4) == TLocalHeaderLayout::Signature) return 0;
  if (signatureAt(found, header, TCentralHeaderLayout::Size) != TCentralHeaderLayout::Signature) return 0;
  const std::uint32_t local = GetU32(header + TCentralHeaderLayout::LocalHeaderOffsetAt);
  // The first entry's local header is where the same shift puts it (a ZIP64
  // offset is not checked here; such a directory is read from the local headers).
  if (local == 0xFFFFFFFF || signatureAt(local + shift, header, 4) != TLocalHeaderLayout::Signature) return 0;
  return static_cast<std::int64_t>(shift);
}

TStream& TKestrelUnZip::NextVolumeForHeader() {
  OpenVolume(currentDisk_ + 2);
  return *archiveStream_;
}

void TKestrelUnZip::ReadDirectoryEntries() {
  std::uint16_t previousExtra = 0;
  TZipHeaderInfo* previous = nullptr;
  auto restart = [&] {
    previousExtra = 0;
    previous = nullptr;
  };
  for (std::uint64_t i = 0; i < endCentral_->TotalEntries;) {
    auto entry = NewEntry();
    TNextVolume nextVolume;
    if (!findings_.Rebuilt && spanMode_ != 0 && !companionStream_)
      nextVolume = [this]() -> TStream& { return NextVolumeForHeader(); };

    bool read = entry->ReadCentralHeader(DirectoryStream(), nextVolume);
    if (!read && previousExtra > 0 && previous != nullptr) {
      // Some writers announce central extra bytes that are not there: the next
      // header then starts where the extra field should have.
      previous->CentralExtraLength = 0;
      DirectoryStream().Seek(-static_cast<std::int32_t>(previousExtra), soFromCurrent);
      previous = nullptr;
      read = entry->ReadCentralHeader(DirectoryStream(), nextVolume);
    }
    if (!read) {
      if (findings_.Rebuilt) break;
      if (spanMode_ != 0 || !RebuildFromLocalHeaders()) {
        ResetZip();
        throw EBadZipFile("Not a valid zip file!",
                          "no central directory header where the end record points, and no local header");
      }
      restart();
      i = 0;
      continue;
    }

    if (findings_.Rebuilt) {
      // The central header completes the entry found by its local header.
      // A central header naming another file than the local header at its offset
      // is one of the conflicting records that caused the rebuild; it completes
      // nothing.
      std::int32_t at = 0;
      if (directoryList_->Find(entry.get(), at) && directoryList_->Items(at)->RawName() == entry->RawName()) {
        TZipHeaderInfo* listed = directoryList_->Items(at);
        const std::uint64_t localOffset = listed->LocalHeaderOffset;
        listed->Assign(*entry);
        listed->LocalHeaderOffset = localOffset;
        // Its sizes are known now, though its descriptor was not found.
        findings_.UnendedEntries.erase(listed);
      }
      DirectoryStream().Seek(entry->CentralExtraLength + entry->CommentLength, soFromCurrent);
      previousExtra = 0;
      ++i;
      continue;
    }

    entry->LocalHeaderOffset += static_cast<std::uint64_t>(findings_.PrependedBytes);
    directoryList_->Add(entry.get());
    TZipHeaderInfo* added = entry.release();

    TStream& stream = DirectoryStream();
    if (endCentral_->ThisDisk != 0 && added->HasComment()) {
      // Comments of a set are read at once: later the volume holding them may be gone.
      stream.Seek(added->CentralExtraLength, soFromCurrent);
      std::string comment(added->CommentLength, '\0');
      comment.resize(static_cast<std::size_t>(std::max(stream.Read(comment.data(), added->CommentLength), 0)));
      added->CacheComment(comment);
    } else {
      stream.Seek(added->CentralExtraLength + added->CommentLength, soFromCurrent);
    }
    previous = added;
    previousExtra = added->CentralExtraLength;
    ++i;
  }
}

bool TKestrelUnZip::RebuildFromLocalHeaders() {
  if (findings_.Rebuilt) return false;
  findings_.Rebuilt = true;
  findings_.PrependedBytes = 0;
  FreeDirectory();
  // The search runs over the archive itself, never over a .zfc companion.
  companionStream_.reset();
  TStream& stream = *archiveStream_;
  const std::int64_t size = stream.Size();

  // A self-extracting archive starts with its program, which is never searched.
  const auto dot = platform::ExtensionStart(zipName_, ArchiveNameRules());
  const bool selfExtractor = dot != std::string::npos && platform::AnsiCompareText(zipName_.substr(dot), ".EXE") == 0;
  const std::int64_t start = selfExtractor ? std::min<std::int64_t>(14000, std::max<std::int64_t>(size, 0)) : 0;

  std::int32_t pumpCount = 0;
  // Finds the next "PK\3\4" from a position whose version-needed high byte is below
  // 10 (no version 10.0 or later exists, so such a hit lies inside some data);
  // -1 at the end of the file.
  auto findLocalHeader = [&](std::int64_t from) -> std::int64_t {
    std::uint8_t signature[4];
    for (int i = 0; i < 4; ++i) signature[i] = static_cast<std::uint8_t>(TLocalHeaderLayout::Signature >> (8 * i));
    TByteScanner scanner(stream, from);
    int matched = 0;
    for (;;) {
      const int byte = scanner.Next();
      if (byte < 0) return -1;
      if (byte == signature[matched]) {
        if (++matched < 4) continue;
        const int versionLow = scanner.Next();
        const int versionHigh = scanner.Next();
        if (versionLow < 0 || versionHigh < 0) return -1;
        matched = 0;
        if (versionHigh < 10) return scanner.Position() - 6;
        continue;
      }
      // A mismatch restarts the comparison at the mismatching byte.
      matched = byte == signature[0] ? 1 : 0;
      if (matched == 0 && ++pumpCount >= PumpInterval) {
        pumpCount = 0;
        if (doProcessMessages_) {
          platform::ProcessHostMessages();
          if (CancelRequested) {
            CancelRequested = false;
            throw EUserCanceled("User Aborted Operation");
          }
        }
      }
    }
  };

  const std::int64_t first = findLocalHeader(start);
  if (first < 0) return false;

  directoryList_ = std::make_unique<TSortedZip>(DuplicatesRejected);
  // Where the central directory normally starts: just after the last entry.
  std::int64_t endOfEntries = first;
  std::int64_t position = first;
  // Bytes that searches for stored entries' descriptors may go on past a record.
  std::int64_t searchBudget = 4 * size;
  for (;;) {
    stream.SetPosition(position);
    auto entry = NewEntry();
    if (!entry->ReadLocalHeader(stream)) {
      // Damage between entries, or a descriptor of unexpected length, loses only
      // the bytes up to the next local header, not every entry after it.
      position = findLocalHeader(position + 1);
      if (position < 0) break;
      continue;
    }
    const std::int64_t dataStart = stream.Position() + entry->LocalExtraLength;
    // A data descriptor has a signature, the CRC and the two sizes: of 4 bytes, or
    // of 8 behind a local header with a ZIP64 block.
    const std::int64_t descriptorSize = entry->Zip64Local ? 24 : 16;
    const std::int64_t dataEnd = dataStart + static_cast<std::int64_t>(entry->CompressedSize);
    std::int64_t next = dataEnd;
    // Where the bytes of an entry whose descriptor is missing run to: the next
    // record, or the end of the archive.
    std::optional<std::int64_t> unendedTo;
    if (entry->HasDataDescriptor() && entry->CompressedSize == 0) {
      // The sizes follow the data: find the descriptor that ends it.
      const bool stored = entry->CompressionMethod == 0 && !entry->Encrypted();
      const TFoundDescriptor descriptor =
          FindDataDescriptor(stream, dataStart, size, entry->Zip64Local, stored, searchBudget);
      if (descriptor.End >= 0) {
        next = descriptor.End;
        entry->CRC32 = descriptor.Crc;
        entry->CompressedSize = descriptor.CompressedSize;
        entry->UncompressedSize = descriptor.UncompressedSize;
      } else {
        unendedTo = descriptor.FirstRecord >= 0 ? descriptor.FirstRecord : size;
        next = *unendedTo;
      }
    } else if (entry->HasDataDescriptor()) {
      // Sizes in the header and the CRC in the descriptor, as bsdtar writes stored
      // entries; some writers set the flag and write no descriptor at all.
      if (const auto descriptor =
              DescriptorAfterData(stream, dataEnd, entry->CompressedSize, entry->UncompressedSize, entry->Zip64Local)) {
        entry->CRC32 = descriptor->Crc;
        next = descriptor->End;
      } else if (dataEnd <= size && dataEnd + descriptorSize > size) {
        unendedTo = size;  // the end cuts into the descriptor
        next = size;
      }
    }
    const bool cut = next > size || unendedTo == size;
    try {
      directoryList_->Add(entry.get());
    } catch (const EListError&) {
      break;
    }
    TZipHeaderInfo* added = entry.release();
    if (unendedTo) findings_.UnendedEntries[added] = static_cast<std::uint64_t>(*unendedTo);
    findings_.CutShortEntry = cut ? added : nullptr;
    position = std::min(next, size);
    endOfEntries = position;
  }

  stream.SetPosition(endOfEntries);
  endCentral_->ThisDisk = 0;
  currentDisk_ = 0;
  endCentral_->CentralDirOffset = static_cast<std::uint64_t>(endOfEntries);
  endCentral_->TotalEntries = static_cast<std::uint64_t>(EntryCount());
  return true;
}

void TKestrelUnZip::SortDirectory(TZipSortMode mode) {
  sortedView_.reset();
  if (mode != ByNone && directoryList_) {
    auto view = std::make_unique<TSortedZip>(DuplicatesAllowed);
    view->SortKey = mode;
    view->OwnsItems = false;
    for (std::int32_t i = 0; i < directoryList_->Count(); ++i) view->Add(directoryList_->Items(i));
    sortedView_ = std::move(view);
  }
  sortMode_ = mode;
}

void TKestrelUnZip::DefaultGetNextDisk(std::int32_t nextDisk, std::string& fName) {
  if (spanMode_ == 2) {
    char extension[16];
    std::snprintf(extension, sizeof extension, ".%3.3d", static_cast<int>(nextDisk));
    fName = platform::ChangeExtension(fName, extension, ArchiveNameRules());
  } else if (spanMode_ == 1) {
    const std::string text = "Please insert disk " + std::to_string(nextDisk) + " of the multi-disk set.";
    if (platform::ShowMessageBox("", text, platform::TMessageButtons::OkCancel) == platform::TMessageAnswer::Cancel)
      fName.clear();
  }
}

void TKestrelUnZip::OpenVolume(std::int32_t n) {
  archiveStream_.reset();
  std::string name = zipName_;
  std::optional<std::string> missing;
  for (;;) {
    if (OnGetNextDisk) OnGetNextDisk(*this, n, name);
    if (name.empty()) throw EUserCanceled("User canceled loading new disk.");
    if (!platform::FileExists(name)) {
      // Asking again for a name that still names nothing would never end.
      if (missing == name) throw EUserCanceled("User canceled loading new disk.");
      missing = name;
      continue;
    }
    if (verifyDiskLabels_ && spanMode_ == 1) {
      char expected[16];
      std::snprintf(expected, sizeof expected, "%3.3d", static_cast<int>(n));
      const std::string label = platform::VolumeLabel(name);
      if (label.size() < 3 || label.substr(label.size() - 3) != expected) continue;
    }
    break;
  }
  archiveStream_ = std::make_unique<TLFNFileStream>(name, ArchiveWindowSize, flushFilesOnClose_, fmOpenRead);
  currentDisk_ = n - 1;
  archiveDate_ = ArchiveFileTime();
  zipName_ = name;
}

}  // namespace kestrel
