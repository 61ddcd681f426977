// Reading an archive's directory: the end record, the central directory, the
// rebuild from local headers, the volumes of a multi-volume set and the ".zfc"
// companion file.

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "platform/code_page.h"
#include "platform/host_ui.h"
#include "unzip/decode/crc32.h"
#include "unzip/dos_date_time.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/volume_set.h"

namespace kestrel {
namespace {

/// The largest disk number an end record may name: the volumes of a set are
/// numbered in three digits (their names and labels), so a larger one is damage.
constexpr std::uint32_t LargestDiskNumber = 999;

/// An end record whose disk numbers or directory offset no single archive or set
/// can have is taken as no end record at all. In a single file a directory
/// with entries lies in front of the end records.
bool PlausibleEndRecord(const TEndCentral& record) {
  return record.ThisDisk <= LargestDiskNumber && record.CentralDirDisk <= LargestDiskNumber &&
         record.ThisDisk >= record.CentralDirDisk &&
         (record.ThisDisk != 0 || record.TotalEntries == 0 || record.CentralDirOffset <= record.RecordsStart);
}

/// Bytes of the archive read in one go by the searches over its whole length.
constexpr std::int32_t ScanBlock = 65536;
/// Bytes scanned between two turns of the host's message pump.
constexpr std::int32_t PumpInterval = 10240;

/// The rebuild takes a self-extracting archive (a name ending in ".EXE") to start
/// with its program, at least 14,000 bytes long, and does not search that: the
/// program may hold the local header signature itself (one that finds its archive
/// by that signature does), and a hit there would list an entry that is none.
/// Behind a shorter program, the entries from offset 14,000 on are found.
constexpr std::int64_t SelfExtractorProgramSize = 14000;

/// Where the rebuild of an archive of size bytes searches for local headers from.
std::int64_t RebuildSearchStart(const std::string& zipName, std::int64_t size) {
  const auto dot = platform::ExtensionStart(zipName, ArchiveNameRules());
  const bool selfExtractor = dot != std::string::npos && platform::AnsiCompareText(zipName.substr(dot), ".EXE") == 0;
  return selfExtractor ? std::min(SelfExtractorProgramSize, std::max<std::int64_t>(size, 0)) : 0;
}

/// The offset of the next local header from from on (FindRecordStart, the other
/// records passed over: a rebuild takes entries wherever they are); -1 at the end
/// of the file. pump runs after every PumpInterval bytes searched.
std::int64_t FindLocalHeader(TStream& stream, std::int64_t from, const std::function<void()>& pump) {
  std::vector<std::uint8_t> block(static_cast<std::size_t>(ScanBlock));
  for (;;) {
    stream.SetPosition(from);
    const auto got = static_cast<std::size_t>(std::max<std::int32_t>(stream.Read(block.data(), ScanBlock), 0));
    const bool ends = got < block.size();
    // The places whose bytes this block holds; the last five come again with the
    // next block.
    const std::size_t places = ends ? got : got - 5;
    for (std::size_t at = 0; at < places;) {
      const std::size_t slice = std::min<std::size_t>(places - at, PumpInterval);
      const std::size_t count = std::min(slice + 5, got - at);
      const std::size_t hit = at + FindRecordStart(block.data() + at, count, ends && at + count == got);
      if (hit < at + slice) {
        if (GetU32(block.data() + hit) == TLocalHeaderLayout::Signature) return from + static_cast<std::int64_t>(hit);
        at = hit + 1;
        continue;
      }
      at += slice;
      pump();
    }
    if (ends) return -1;
    from += static_cast<std::int64_t>(places);
  }
}

/// Feeds the search for entry's data descriptor (TDescriptorSearch) the archive's
/// bytes from dataStart on, in blocks; budget is the rebuild's.
TDataDescriptor FindDataDescriptor(TStream& stream, const TZipHeaderInfo& entry, std::int64_t dataStart,
                                   std::int64_t size, std::int64_t& budget) {
  TDescriptorSearch search(entry, dataStart);
  // Besides a block's places, the bytes in front of them and after them that a
  // descriptor and the record next to it take.
  constexpr std::int64_t around = 2 * SignedDataDescriptorLength(true);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(ScanBlock + around));
  for (;;) {
    const std::int64_t from = search.NeededFrom();
    if (from >= size) break;
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(ScanBlock + around, size - from));
    stream.SetPosition(from);
    const std::int32_t got = stream.Read(block.data(), want);
    if (got <= 0) break;
    const bool ends = got < want || from + got >= size;
    if (search.Look(block.data(), from, got, ends, budget) || ends) break;
  }
  return search.Found();
}

/// Where an entry read from its local header in a rebuild ends.
struct TRebuiltEnd {
  std::int64_t Next = 0;  ///< where the next record starts; past the file's end when cut short
  /// Where the bytes of an entry whose descriptor is missing run to: the next
  /// record, or the end of the archive.
  std::optional<std::int64_t> UnendedTo;
};

/// Where entry's bytes end, its data starting at dataStart: after its data, or
/// after its data descriptor, whose CRC and sizes it takes.
TRebuiltEnd EndOfRebuiltEntry(TStream& stream, TZipHeaderInfo& entry, std::int64_t dataStart, std::int64_t size,
                              std::int64_t& budget) {
  const std::int64_t dataEnd = dataStart + static_cast<std::int64_t>(entry.CompressedSize);
  if (!entry.HasDataDescriptor()) return {dataEnd, std::nullopt};
  const bool zip64 = entry.Zip64Local;
  if (entry.CompressedSize == 0) {
    // The sizes follow the data: find the descriptor that ends it.
    const TDataDescriptor descriptor = FindDataDescriptor(stream, entry, dataStart, size, budget);
    if (descriptor.End < 0) {
      const std::int64_t to = descriptor.FirstRecord >= 0 ? descriptor.FirstRecord : size;
      return {to, to};
    }
    entry.CRC32 = descriptor.Crc;
    entry.CompressedSize = descriptor.CompressedSize;
    entry.UncompressedSize = descriptor.UncompressedSize;
    return {descriptor.End, std::nullopt};
  }
  // Sizes in the header and the CRC in the descriptor, as bsdtar writes stored
  // entries; some writers set the flag and write no descriptor at all.
  std::uint8_t bytes[SignedDataDescriptorLength(true)];
  stream.SetPosition(dataEnd);
  const std::int32_t got = std::max(stream.Read(bytes, SignedDataDescriptorLength(zip64)), 0);
  if (const auto descriptor =
          MatchDataDescriptor(bytes, got, dataEnd, zip64, entry.CompressedSize, entry.UncompressedSize)) {
    entry.CRC32 = descriptor->Crc;
    return {descriptor->End, std::nullopt};
  }
  if (dataEnd <= size && dataEnd + SignedDataDescriptorLength(zip64) > size) return {size, size};  // the end cuts in
  return {dataEnd, std::nullopt};
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
  if (auto* file = dynamic_cast<TLFNFileStream*>(archiveStream_.get())) return file->File().LastWriteTime();
  // The parts of a set: the one the archive was named by, which holds the
  // directory of a split set.
  platform::TFile file = platform::TFile::Open(zipName_, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  return file.IsOpen() ? file.LastWriteTime() : std::nullopt;
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
  volumeSet_.reset();
  findings_.Rebuilt = findings_.EndRecordMissing = false;
}

void TKestrelUnZip::OpenZip() {
  if (!archiveStream_ && volumeSet_ && directoryList_) {
    // The parts found when the directory was read: none is asked for again.
    archiveStream_ = std::make_unique<TVolumeSetReader>(volumeSet_, ArchiveWindowSize);
  } else if (!archiveStream_) {
    // The directory lies at the end: a pipe, a FIFO or a device cannot be read from
    // there, and what an open or a read took from a pipe would be lost to whoever
    // reads it next. Such an input, and a folder, is refused before it is opened.
    const auto kind = platform::QueryFileKind(zipName_);
    if (kind == platform::TFileKind::Other || kind == platform::TFileKind::Folder)
      throw EFOpenError("Cannot open file " + zipName_ + " (not a regular file)");
    volumeSet_.reset();
    if (!OpenNumberedVolumes())
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
  volumeSet_.reset();
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
  if (volumeSet_ && splitSet_) {
    // A split set is found again from its last part: its end record says how
    // many parts there are now.
    volumeSet_.reset();
    archiveStream_ =
        std::make_unique<TLFNFileStream>(zipName_, ArchiveWindowSize, flushFilesOnClose_, fmShareDenyWrite);
  }
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
  if (volumeSet_ && splitSet_ && !findings_.Rebuilt) CheckSplitParts();

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
  missing = endCentral_->ThisDisk > LargestDiskNumber || endCentral_->CentralDirDisk > LargestDiskNumber ||
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
    if (spanMode_ == 2 && !fromCompanion) JoinSplitSet();
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
    // Disk numbers are at most LargestDiskNumber here (a plausible end record).
    const auto directoryDisk = static_cast<std::int32_t>(endCentral_->CentralDirDisk);
    if (!fromCompanion && PerVolume() && directoryDisk != currentDisk_) OpenVolume(directoryDisk + 1);
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
  if (local == Zip64Escape32 || signatureAt(local + shift, header, 4) != TLocalHeaderLayout::Signature) return 0;
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
    if (!findings_.Rebuilt && PerVolume() && !companionStream_)
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
      if (PerVolume() || !RebuildFromLocalHeaders()) {
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
    if (volumeSet_ && splitSet_)
      entry->LocalHeaderOffset = static_cast<std::uint64_t>(JoinedOffset(entry->DiskStart, entry->LocalHeaderOffset));
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
  auto pump = [this] {
    if (!doProcessMessages_) return;
    platform::ProcessHostMessages();
    if (CancelRequested) {
      CancelRequested = false;
      throw EUserCanceled("User Aborted Operation");
    }
  };

  const std::int64_t first = FindLocalHeader(stream, RebuildSearchStart(zipName_, size), pump);
  if (first < 0) return false;

  directoryList_ = std::make_unique<TSortedZip>(DuplicatesRejected);
  // Where the central directory normally starts: just after the last entry.
  std::int64_t endOfEntries = first;
  std::int64_t position = first;
  // Bytes that searches for descriptors may go on past a record.
  std::int64_t searchBudget = 4 * size;
  for (;;) {
    stream.SetPosition(position);
    auto entry = NewEntry();
    if (!entry->ReadLocalHeader(stream)) {
      // Damage between entries, or a descriptor of unexpected length, loses only
      // the bytes up to the next local header, not every entry after it.
      position = FindLocalHeader(stream, position + 1, pump);
      if (position < 0) break;
      continue;
    }
    const std::int64_t dataStart = stream.Position() + entry->LocalExtraLength;
    const TRebuiltEnd end = EndOfRebuiltEntry(stream, *entry, dataStart, size, searchBudget);
    try {
      directoryList_->Add(entry.get());
    } catch (const EListError&) {
      break;
    }
    TZipHeaderInfo* added = entry.release();
    if (end.UnendedTo) findings_.UnendedEntries[added] = static_cast<std::uint64_t>(*end.UnendedTo);
    findings_.CutShortEntry = end.Next > size || end.UnendedTo == size ? added : nullptr;
    position = std::min(end.Next, size);
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

}  // namespace kestrel
