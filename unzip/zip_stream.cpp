// An archive read once, front to back, from a stream (standard input, a pipe):
// its entries taken by their local headers as they arrive, extracted in the same
// pass, and the central directory, when it comes, checked against them.

#include <algorithm>
#include <memory>
#include <optional>
#include <span>

#include "platform/file_system.h"
#include "platform/path.h"
#include "unzip/decode/decode_state.h"
#include "unzip/dest_paths.h"
#include "unzip/driver_host.h"
#include "unzip/extraction_run.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/stream_source.h"

namespace kestrel {
namespace {

/// Bytes looked ahead at once by the search for the next local header.
constexpr std::int32_t ResyncBlock = 65536;

/// A record of the central directory or the end records: the entries are over.
bool StartsDirectory(std::uint32_t signature) {
  return signature != TLocalHeaderLayout::Signature && IsRecordSignature(signature);
}

/// The signature at the stream's position, which stays; 0 at the end.
std::uint32_t PeekSignature(TStreamSource& source) {
  const std::span<const std::uint8_t> bytes = source.Peek(source.Position(), 4);
  return bytes.size() == 4 ? GetU32(bytes.data()) : 0;
}

/// The mark some writers put before the first local header of a split set that
/// came out as one part ("PK00"): the archive is whole.
constexpr std::uint32_t OnePartSetSig = 0x30304B50;

/// Steps over the mark at the start of a stream that is a whole archive; refuses
/// the first part of a split set (the descriptor signature, then a local header),
/// whose other parts a stream does not reach.
void SkipSetMark(TStreamSource& source) {
  const std::span<const std::uint8_t> bytes = source.Peek(0, 8);
  if (bytes.size() < 4) return;
  const std::uint32_t mark = GetU32(bytes.data());
  if (mark == DataDescriptorSig && bytes.size() == 8 && GetU32(bytes.data() + 4) == TLocalHeaderLayout::Signature)
    throw EBadZipFile(
        "this is the first part of a split archive, which cannot be read from a pipe: give its last part "
        "(NAME.zip) as a file");
  if (mark == OnePartSetSig || mark == DataDescriptorSig) source.Seek(4, soFromCurrent);
}

/// True when an entry whose sizes follow its data has none: its descriptor, all
/// zeros, comes right at dataStart (with its signature, or bare before the next
/// record). zip writing to a pipe stores an empty file so, whatever the method.
bool StreamedEntryIsEmpty(TStreamSource& source, std::int64_t dataStart, bool zip64) {
  const std::int32_t bare = DataDescriptorLength(zip64);
  const std::span<const std::uint8_t> bytes = source.Peek(dataStart, SignedDataDescriptorLength(zip64) + 4);
  const auto count = static_cast<std::int64_t>(bytes.size());
  const std::optional<TDataDescriptor> descriptor = MatchDataDescriptor(bytes.data(), count, dataStart, zip64, 0, 0);
  if (!descriptor || descriptor->Crc != 0) return false;
  if (descriptor->End - dataStart != bare) return true;  // with its signature
  return count >= bare + 4 && IsRecordSignature(GetU32(bytes.data() + bare));
}

/// Moves the stream on to the next place where a record starts (FindRecordStart),
/// or to its end.
void SkipToNextRecord(TStreamSource& source) {
  for (;;) {
    const std::span<const std::uint8_t> ahead = source.Peek(source.Position(), ResyncBlock);
    const bool ends = ahead.size() < static_cast<std::size_t>(ResyncBlock);
    const std::size_t hit = FindRecordStart(ahead.data(), ahead.size(), ends);
    // The last five bytes are looked at again with those after them.
    const std::size_t step = hit < ahead.size() || ends ? hit : ahead.size() - 5;
    source.Seek(static_cast<std::int64_t>(step), soFromCurrent);
    if (hit < ahead.size() || ends) return;
  }
}

/// The data descriptor right after the data of entry, which ends at dataEnd,
/// when it is there whole (MatchDataDescriptor with the header's sizes).
std::optional<TDataDescriptor> DescriptorAfter(TStreamSource& source, std::int64_t dataEnd,
                                               const TZipHeaderInfo& entry) {
  const std::span<const std::uint8_t> bytes = source.Peek(dataEnd, SignedDataDescriptorLength(entry.Zip64Local));
  return MatchDataDescriptor(bytes.data(), static_cast<std::int64_t>(bytes.size()), dataEnd, entry.Zip64Local,
                             entry.CompressedSize, entry.UncompressedSize);
}

/// Whether the central header says of an entry's data what its local header said,
/// by which the entry was decoded as it passed: the method, the encryption, and
/// for an encrypted entry what its password check reads (the time with bit 3).
bool DecodedAlike(const TZipHeaderInfo& local, const TZipHeaderInfo& central) {
  constexpr std::uint16_t encryption = FlagEncrypted | FlagStrongEncryption;
  if (local.CompressionMethod != central.CompressionMethod ||
      (local.Flags & encryption) != (central.Flags & encryption))
    return false;
  if (local.Aes.Version != central.Aes.Version || local.Aes.Strength != central.Aes.Strength ||
      local.Aes.Method != central.Aes.Method)
    return false;
  return !local.Encrypted() || ((local.Flags & FlagDataDescriptor) == (central.Flags & FlagDataDescriptor) &&
                                local.DateTime == central.DateTime);
}

/// Whether a reader of the file would take another end record than the one just
/// read, whose comment was comment: one in the comment or the bytes after it, or
/// none at all for this one lies too far from the end. Reads the stream to its end
/// (as far as such a reader looks).
bool EndRecordFollows(TStream& stream, std::string tail) {
  char block[4096];
  for (std::int32_t got; tail.size() + TEndCentralLayout::Size <= TEndCentralLayout::SearchSize &&
                         (got = stream.Read(block, sizeof block)) > 0;)
    tail.append(block, static_cast<std::size_t>(got));
  if (tail.size() + TEndCentralLayout::Size > TEndCentralLayout::SearchSize) return true;
  const std::string signature("PK\x05\x06", 4);
  for (std::size_t at = tail.find(signature); at != std::string::npos; at = tail.find(signature, at + 1))
    if (at + TEndCentralLayout::Size <= tail.size()) return true;
  return false;
}

}  // namespace

void TKestrelUnZip::SetInputStream(TStream* value) {
  inputStream_ = value;
  stream_.Source.reset();
  FreeDirectory();
  endCentral_->Clear();
  stream_.Check = {};
}

TStreamSource& TKestrelUnZip::StartStream() {
  // The stream can be read once: a second reading finds it where the first left it.
  if (stream_.Source) throw EFatalUnzipError("Premature end of file reached");
  stream_.Source = std::make_unique<TStreamSource>(*inputStream_);
  FreeDirectory();
  endCentral_->Clear();
  findings_.Rebuilt = findings_.EndRecordMissing = false;
  stream_.Check = {};
  stream_.LocalNames.clear();
  directoryList_ = std::make_unique<TSortedZip>(DuplicatesAllowed);
  // Refused before anything is made of it.
  SkipSetMark(*stream_.Source);
  return *stream_.Source;
}

bool TKestrelUnZip::StreamedSizeUnknown(const TZipHeaderInfo& entry) {
  return entry.HasDataDescriptor() && entry.CompressedSize == 0;
}

TZipHeaderInfo* TKestrelUnZip::NextStreamedEntry() {
  TStreamSource& source = *stream_.Source;
  const bool first = source.Position() <= 4;
  for (;;) {
    auto entry = NewEntry();
    if (entry->ReadLocalHeader(source)) {
      stream_.DataStart = source.Position() + entry->LocalExtraLength;
      stream_.SizeUnknown =
          StreamedSizeUnknown(*entry) && !StreamedEntryIsEmpty(source, stream_.DataStart, entry->Zip64Local);
      source.SetPadding(stream_.SizeUnknown);
      if (stream_.SizeUnknown) {
        // Decoded as far as the data goes; the descriptor then gives the sizes
        // and the CRC.
        entry->CompressedSize = entry->UncompressedSize = LargestZip64Value;
        source.WatchForDescriptor(*entry, stream_.DataStart);
      }
      directoryList_->Add(entry.get());
      return entry.release();
    }
    if (StartsDirectory(PeekSignature(source))) return nullptr;
    // An empty stream is an archive without entries, as an empty file is.
    if (source.AtEnd() && (!first || source.Position() == 0)) return nullptr;
    if (first) throw ENotAZipFile("Not a valid zip file!", "no local header at the start of the stream");
    // Damage between entries costs the bytes up to the next local header (past
    // the signature of the one that could not be read).
    ++stream_.Check.Disagreements;
    source.Seek(1, soFromCurrent);
    SkipToNextRecord(source);
    if (source.AtEnd()) return nullptr;
  }
}

bool TKestrelUnZip::CompleteStreamedEntry(std::int32_t index) {
  TStreamSource& source = *stream_.Source;
  if (!stream_.SizeUnknown) {
    const std::int64_t dataEnd = stream_.DataStart + static_cast<std::int64_t>(currentEntry_->CompressedSize);
    if (!source.ReachesTo(dataEnd)) return false;
    if (!currentEntry_->HasDataDescriptor()) return true;
    // Sizes in the local header and the CRC in the descriptor (bsdtar writes its
    // stored entries so): the descriptor's CRC is the one to judge by. A stream
    // that ends before the descriptor leaves the entry unconfirmed.
    const bool zip64 = currentEntry_->Zip64Local;
    if (const auto descriptor = DescriptorAfter(source, dataEnd, *currentEntry_)) {
      currentEntry_->CRC32 = Entry(index).CRC32 = descriptor->Crc;
      return true;
    }
    return source.ReachesTo(dataEnd + DataDescriptorLength(zip64));
  }
  const TDataDescriptor descriptor = source.FindDescriptor();
  if (descriptor.End < 0) return false;
  currentEntry_->CRC32 = Entry(index).CRC32 = descriptor.Crc;
  return true;
}

void TKestrelUnZip::FinishStreamedEntry(TZipHeaderInfo& entry) {
  TStreamSource& source = *stream_.Source;
  source.SetPadding(false);
  if (stream_.SizeUnknown) {
    // After the descriptor, wherever the decoding stopped.
    const TDataDescriptor descriptor = source.FindDescriptor();
    entry.CRC32 = descriptor.Crc;
    entry.CompressedSize = descriptor.CompressedSize;
    entry.UncompressedSize = descriptor.UncompressedSize;
    return;
  }
  source.Seek(stream_.DataStart + static_cast<std::int64_t>(entry.CompressedSize), soFromBeginning);
  if (!entry.HasDataDescriptor()) return;
  // The descriptor after data of known size: its signature is optional, and its
  // CRC stands for the header's (bsdtar leaves that 0).
  if (const auto descriptor = DescriptorAfter(source, source.Position(), entry)) {
    entry.CRC32 = descriptor->Crc;
    source.Seek(descriptor->End, soFromBeginning);
    return;
  }
  const bool zip64 = entry.Zip64Local;
  source.Seek(
      PeekSignature(source) == DataDescriptorSig ? SignedDataDescriptorLength(zip64) : DataDescriptorLength(zip64),
      soFromCurrent);
}

void TKestrelUnZip::CheckStreamedDirectory() {
  TStreamSource& source = *stream_.Source;
  std::vector<bool> confirmed(static_cast<std::size_t>(directoryList_->Count()), false);
  std::uint64_t headers = 0;
  for (;;) {
    auto central = NewEntry();
    if (!central->ReadCentralHeader(source)) break;
    stream_.Check.DirectorySeen = true;
    ++headers;
    source.Seek(central->CentralExtraLength, soFromCurrent);
    std::string comment(central->CommentLength, '\0');
    comment.resize(static_cast<std::size_t>(std::max(source.Read(comment.data(), central->CommentLength), 0)));
    std::int32_t at = 0;
    TZipHeaderInfo* listed = directoryList_->Find(central.get(), at) ? directoryList_->Items(at) : nullptr;
    if (listed == nullptr || listed->RawName() != central->RawName() || listed->CRC32 != central->CRC32 ||
        listed->CompressedSize != central->CompressedSize || listed->UncompressedSize != central->UncompressedSize ||
        !DecodedAlike(*listed, *central)) {
      ++stream_.Check.Disagreements;
      continue;
    }
    // The central header completes what the local header lacks: the host system,
    // the attributes, the comment; and its reading of the name wins.
    if (listed->StoredPath() != central->StoredPath())
      stream_.LocalNames.push_back({at, listed->Directory(), listed->FileName()});
    listed->Assign(*central);
    listed->CacheComment(listed->CommentText(comment));
    confirmed[static_cast<std::size_t>(at)] = true;
  }
  if (stream_.Check.DirectorySeen)
    stream_.Check.Disagreements += static_cast<std::int32_t>(std::count(confirmed.begin(), confirmed.end(), false));
  // The end records: the ZIP64 ones are passed over, the classic one gives the
  // archive comment.
  bool endSeen = false;
  for (std::uint32_t signature; (signature = PeekSignature(source)) != 0;) {
    if (signature == TZip64EndCentralLayout::Signature) {
      using L = TZip64EndCentralLayout;
      std::uint8_t head[L::Uncounted];
      if (source.Read(head, L::Uncounted) != L::Uncounted) break;
      source.Seek(static_cast<std::int64_t>(std::min(GetU64(head + L::RecordSizeAt), LargestZip64Value)),
                  soFromCurrent);
    } else if (signature == TZip64LocatorLayout::Signature) {
      source.Seek(TZip64LocatorLayout::Size, soFromCurrent);
    } else if (signature == TEndCentralLayout::Signature) {
      std::uint8_t record[TEndCentralLayout::Size];
      if (source.Read(record, TEndCentralLayout::Size) != TEndCentralLayout::Size) break;
      // A reader of the file takes the entries the end record counts: a count
      // other than the directory's (unless the ZIP64 record holds it) reads
      // otherwise there.
      for (const std::size_t count : {TEndCentralLayout::TotalEntriesAt, TEndCentralLayout::EntriesThisDiskAt}) {
        const std::uint16_t said = GetU16(record + count);
        if (said != Zip64Escape16 && said != headers) ++stream_.Check.Disagreements;
      }
      std::string comment(GetU16(record + TEndCentralLayout::CommentLengthAt), '\0');
      comment.resize(static_cast<std::size_t>(
          std::max(source.Read(comment.data(), static_cast<std::int32_t>(comment.size())), 0)));
      endCentral_->CommentLength = static_cast<std::uint16_t>(comment.size());
      endCentral_->SetComment(comment);
      endSeen = !EndRecordFollows(source, comment);
      break;
    } else {
      break;
    }
  }
  // A reader of the file takes the end record nearest the file's end: without
  // one right after this directory, or with another after it, it reads another
  // archive than this stream gave.
  if (stream_.Check.DirectorySeen && !endSeen) ++stream_.Check.Disagreements;
}

void TKestrelUnZip::ReadStreamDirectory() {
  StartStream();
  while (TZipHeaderInfo* entry = NextStreamedEntry()) FinishStreamedEntry(*entry);
  CheckStreamedDirectory();
  endCentral_->TotalEntries = static_cast<std::uint64_t>(EntryCount());
  SortDirectory(sortMode_);
}

std::int32_t TExtractionRun::UnZipStream() {
  TKestrelUnZip& unzip = unzip_;
  TKestrelUnZip::TDriverHost host(unzip);
  std::unique_ptr<TDecodeState> state;
  auto finish = [&] {
    state.reset();
    unzip.filesList_.clear();
    if (unzip.OnUnZipComplete) unzip.OnUnZipComplete(unzip, fileCount_);
  };
  try {
    TStreamSource& source = unzip.StartStream();
    unzip.sortedView_.reset();
    state = std::make_unique<TDecodeState>(host);
    Begin();
    // Neither the count nor the sizes are known before the entries have passed.
    bool stopNow = false;
    if (unzip.OnStartUnZipInfo) unzip.OnStartUnZipInfo(unzip, -1, -1, stopNow);
    if (!stopNow) {
      if (!unzip.destDir_.empty() && unzip.outputStream_ == nullptr) platform::ForceFolders(unzip.destDir_);
      // Local headers do not say where an entry was made: only ncAll lowers names.
      TEntrySelection selection(unzip.doAll_, unzip.filesList_, unzip.excludeList_, false, unzip.matchMode_,
                                unzip.nameCase_ == ncAll ? ncAll : ncAsStored);
      while (TZipHeaderInfo* entry = unzip.NextStreamedEntry()) {
        if (!UnZipStreamedEntry(*entry, unzip.directoryList_->Count() - 1, source, selection, *state)) break;
        unzip.FinishStreamedEntry(*entry);
      }
      unzip.CheckStreamedDirectory();
      if (unzip.outputStream_ == nullptr) RenameStreamedEntries();
      // The modes arrive with the central directory, after every entry's data.
      ApplyStreamedModes();
      TakeBackStreamedLinks();
      FinishExtraction();
    }
    unzip.endCentral_->TotalEntries = static_cast<std::uint64_t>(unzip.EntryCount());
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return fileCount_;
}

bool TExtractionRun::UnZipStreamedEntry(TZipHeaderInfo& entry, std::int32_t index, TStreamSource& source,
                                        TEntrySelection& selection, TDecodeState& state) {
  TKestrelUnZip& unzip = unzip_;
  const bool isFolder = entry.FileName().empty() && !entry.Nameless();
  auto skip = [&](TSkipReason reason) {
    unzip.currentEntry_->Assign(entry);
    ReportSkip(reason, reason == skBadName ? std::string() : entry.StoredPath(), index);
  };
  if (!selection.Takes(entry)) return true;
  if (entry.Nameless()) {
    skip(skBadName);
    return true;
  }
  if (isFolder && (!unzip.recreateDirs_ || unzip.outputStream_ != nullptr)) return true;
  if (!source.ReachesTo(unzip.stream_.DataStart)) {
    // The stream ends inside the local header: not even a folder is made.
    skip(skCutShort);
    return false;
  }
  // Only a deflated entry ends where its data says; a stored one could hold
  // anything, a descriptor's bytes included.
  const std::uint16_t method = entry.CompressionMethod;
  if (unzip.stream_.SizeUnknown && !isFolder && method != 8 && method != 9) {
    skip(skStreamedSize);
    return true;
  }
  try {
    UnZipEntry(index, state);
  } catch (const EFatalUnzipError&) {
    // The stream ended inside the entry: nothing follows it.
    if (!source.AtEnd()) throw;
    skip(skCutShort);
    return false;
  }
  // Its data has passed: a new password cannot be tried on it.
  retryEntry_ = false;
  return true;
}

void TExtractionRun::ApplyStreamedModes() {
  if (!unzip_.exactModes_ || !unzip_.retainAttributes_ || !unzip_.stream_.Check.DirectorySeen) return;
  for (const auto& [index, fName] : streamedFiles_) {
    const TZipHeaderInfo& entry = *unzip_.directoryList_->Items(index);
    if (fName.empty() || entry.IsSymbolicLink()) continue;
    const TEntryPermissions permissions = EntryPermissions(entry, unzip_.keepSpecialBits_);
    platform::SetPathPermissions(fName, permissions.Mode, permissions.ReadOnly);
  }
}

void TExtractionRun::RenameStreamedEntries() {
  const platform::TPathRules& rules = platform::HostPathRules();
  // The folders of the old names with those of the new ones, to remove the old
  // ones that the moves leave empty.
  std::vector<std::pair<std::string, std::string>> oldFolders;
  for (const auto& local : unzip_.stream_.LocalNames) {
    const TZipHeaderInfo& entry = *unzip_.directoryList_->Items(local.Index);
    const std::string oldFolder =
        EntryDestFolder(unzip_.destDir_, unzip_.rootDir_, local.Directory, unzip_.recreateDirs_, rules);
    unzip_.currentEntry_->Assign(entry);
    const std::string newFolder = EntryDestDir();
    const std::string& stored = unzip_.recreateDirs_ ? entry.StoredPath() : entry.FileName();
    const bool refused = entry.Nameless() || StoredPathClimbs(stored, rules);
    if (local.FileName.empty()) {
      // A folder entry: made anew under its name (a folder again, and not refused),
      // its old folder removed below once it is empty.
      if (!unzip_.recreateDirs_ || !platform::FolderExists(oldFolder) || oldFolder == newFolder) continue;
      oldFolders.emplace_back(oldFolder, newFolder);
      if (refused || !entry.FileName().empty() || FolderHasLinks(newFolder)) {
        --fileCount_;
        continue;
      }
      platform::ForceFolders(newFolder);
      folderTimes_.push_back(
          {newFolder, entry.ModifiedTime, entry.DateTime, local.Index, entry.Owner, PermissionsOf(entry)});
      continue;
    }
    // The files are kept in the order of their entries: one search, not a walk
    // through them all for every renamed entry.
    const auto written = std::lower_bound(
        streamedFiles_.begin(), streamedFiles_.end(), local.Index,
        [](const std::pair<std::int32_t, std::string>& file, std::int32_t i) { return file.first < i; });
    // Only a file made under the name the archive gave moves; a handler's name
    // stays the handler's.
    if (written == streamedFiles_.end() || written->first != local.Index ||
        written->second != oldFolder + local.FileName)
      continue;
    const std::string oldName = written->second;
    const std::string newName = newFolder + entry.FileName();
    if (newName == oldName) continue;
    oldFolders.emplace_back(oldFolder, newFolder);
    const bool throughLink = !refused && FolderHasLinks(platform::PathFolder(newName, rules));
    if (refused || throughLink) {
      platform::RemoveFile(oldName);
      written->second.clear();  // gone; the order of the others stays for the search
      --fileCount_;
      ReportSkip(entry.Nameless() ? skBadName
                 : throughLink    ? skPathThroughLink
                                  : skPathClimbs,
                 entry.Nameless() ? std::string() : newName, local.Index);
      continue;
    }
    // A file the central directory names as a folder stays as it is.
    if (entry.FileName().empty() || platform::QueryFileKind(newName) || platform::IsSymbolicLink(newName)) {
      ++unzip_.stream_.Check.Disagreements;
      continue;
    }
    platform::ForceFolders(platform::PathFolder(newName, rules));
    if (!platform::RenameFile(oldName, newName)) {
      ++unzip_.stream_.Check.Disagreements;
      continue;
    }
    written->second = newName;
  }
  // The folders left empty by the moves, deepest first, up to the one the old
  // and the new name share: only the old reading of the names made them.
  std::sort(oldFolders.begin(), oldFolders.end(),
            [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  for (auto [folder, newFolder] : oldFolders) {
    std::size_t shared = 0;
    while (shared < folder.size() && shared < newFolder.size() && folder[shared] == newFolder[shared]) ++shared;
    while (!folder.empty() && platform::IsPathSeparator(folder.back(), rules)) folder.pop_back();
    while (folder.size() >= shared && folder.size() > destBase_.size() && !platform::IsSymbolicLink(folder) &&
           platform::RemoveFolder(folder))
      folder = platform::PathFolder(folder, rules);
  }
}

}  // namespace kestrel
