// The extraction driver of TKestrelUnZip: entry selection and totals, the per-entry
// routine (destination path, folders, password check, overwrite policy, output file,
// decoding, date and attributes, CRC verdict) and the events in their order.
//
// Destinations never leave DestDir: a stored path that climbs with ".." is refused,
// stored roots and drives are placed below DestDir, and a link met inside DestDir
// on the way to an archive-made name is never written through. The archive's own
// symbolic links are made last, once every file is written, so that no entry can
// be written through one; a link whose target is absolute or climbs out of
// DestDir is refused.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/decrypt.h"
#include "unzip/decode/entry_decoding.h"
#include "unzip/decode_ahead.h"
#include "unzip/dest_paths.h"
#include "unzip/dos_date_time.h"
#include "unzip/driver_host.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/wildcard_match.h"

namespace kestrel {
namespace {

// True when a part of path after its first baseLength bytes is a symbolic link.
// The archive never makes links, so one found there was put in place by someone
// else, and writing through it could land anywhere.
bool PathHasLinks(const std::string& path, std::size_t baseLength) {
  const platform::TPathRules& rules = platform::HostPathRules();
  std::string prefix = path.substr(0, std::min(baseLength, path.size()));
  for (std::size_t i = prefix.size(); i < path.size(); ++i) {
    if (platform::IsPathSeparator(path[i], rules) && !prefix.empty() &&
        !platform::IsPathSeparator(prefix.back(), rules) && platform::IsSymbolicLink(prefix))
      return true;
    prefix += path[i];
  }
  return prefix.size() > baseLength && platform::IsSymbolicLink(prefix);
}

// The last-write time of an existing destination; nothing when it cannot be read
// (then it is taken as absent).
std::optional<platform::TFileTime> DestinationTime(const std::string& fName) {
  platform::TFile file = platform::TFile::Open(fName, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  if (!file.IsOpen()) return std::nullopt;
  return file.LastWriteTime();
}

// The entry's time against the existing file's: negative when the entry is older.
// An exact time counts to the second, as file systems keep at least that much; a
// DOS time against the file's in the same form. Nothing when either has no
// calendar form (a damaged header date, or a file dated before 1980), and then
// newer and older cannot be told.
std::optional<int> CompareEntryToFile(const TZipHeaderInfo& entry, platform::TFileTime fileTime) {
  if (entry.ModifiedTime) {
    const std::int64_t a = entry.ModifiedTime->Seconds, b = fileTime.Seconds;
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  try {
    return CompareCalendar(DosDateTimeToCalendar(entry.DateTime), DosDateTimeToCalendar(UtcToDosDateTime(fileTime)));
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

// Stamps an open file with the entry's exact time, where it has one and the file
// system holds it (read back to the second), else with its DOS time.
void StampEntryTime(platform::TFile& file, const TZipHeaderInfo& entry) {
  if (entry.ModifiedTime && file.SetLastWriteTime(*entry.ModifiedTime)) {
    const std::optional<platform::TFileTime> written = file.LastWriteTime();
    if (written && written->Seconds == entry.ModifiedTime->Seconds) return;
  }
  ApplyDosDateTime(file, RepairDosDateTime(entry.DateTime));
}

// The same for a folder or a link, by its path.
void StampPathTime(const std::string& path, const std::optional<platform::TFileTime>& exact, std::uint32_t dosTime) {
  if (exact && platform::SetPathLastWriteTime(path, *exact)) return;
  if (const auto utc = DosDateTimeToUtc(RepairDosDateTime(dosTime))) platform::SetPathLastWriteTime(path, *utc);
}

// The longest link target kept: longer ones name nothing a system can follow.
constexpr std::uint64_t LongestLinkTarget = 4095;

// The file an entry is written to, new in place or a replacement beside the file
// it replaces: closed and removed on every way out, an exception included, unless
// Keep says it is in place and checked out. Nothing half written stays behind.
class TOutputGuard {
 public:
  explicit TOutputGuard(std::unique_ptr<TLFNFileStream>& output) : output_(output) {}
  TOutputGuard(const TOutputGuard&) = delete;
  TOutputGuard& operator=(const TOutputGuard&) = delete;
  ~TOutputGuard() { Discard(); }
  void Watch(const std::string& path) { path_ = path; }
  void Keep() { path_.clear(); }
  // Removes the file now, leaving the system's last error code as the failure set it.
  void Discard() {
    if (path_.empty()) return;
    const int error = platform::LastSystemError();
    output_.reset();  // closed first: an open file cannot be removed everywhere
    platform::RemoveFile(path_);
    path_.clear();
    platform::SetLastSystemError(error);
  }

 private:
  std::unique_ptr<TLFNFileStream>& output_;
  std::string path_;
};

}  // namespace

TEntryPatterns::TEntryPatterns(const std::vector<std::string>& patterns) {
  patterns_.reserve(patterns.size());
  // Stored paths carry backslashes; on a host whose separator is "/", a pattern
  // spelled with it ("docs/*") means the same folders. No stored path holds a "/",
  // so such a pattern could match nothing otherwise.
  const char hostSeparator = platform::HostPathRules().Separator;
  for (const std::string& pattern : patterns) {
    std::string lowered = platform::AnsiLowerCase(pattern);
    if (hostSeparator != '\\') std::replace(lowered.begin(), lowered.end(), hostSeparator, '\\');
    patterns_.push_back(std::move(lowered));
  }
}

bool TEntryPatterns::MatchAny(const TZipHeaderInfo& entry) const {
  if (patterns_.empty()) return false;
  const std::string path = platform::AnsiLowerCase(entry.StoredPath());
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&](const std::string& pattern) { return WildcardMatch(pattern, path); });
}

bool TEntryPatterns::Match(std::size_t i, const TZipHeaderInfo& entry) const {
  return WildcardMatch(patterns_.at(i), platform::AnsiLowerCase(entry.StoredPath()));
}

std::int32_t TKestrelUnZip::UnZip() {
  if (destDir_ == "?") return 0;
  if (inputStream_ != nullptr) return UnZipStream();
  LoadZipDirectory();
  OpenZip();
  const std::int32_t done = UnZipSelected();
  CloseZip();
  return done;
}

std::int32_t TKestrelUnZip::UnZipSelected() {
  const bool savedKeepZipOpen = keepZipOpen_;
  keepZipOpen_ = true;
  skipRetry_ = false;
  fileCount_ = 0;
  std::optional<TZipSortMode> savedSortMode;
  TDriverHost host(*this);
  std::unique_ptr<TDecodeState> state;

  auto finish = [&] {
    decodeAhead_ = nullptr;
    state.reset();
    filesList_.clear();
    if (savedSortMode) SortDirectory(*savedSortMode);
    keepZipOpen_ = savedKeepZipOpen;
    if (OnUnZipComplete) OnUnZipComplete(*this, fileCount_);
  };

  try {
    // Before anything is written: entries that share bytes, or run past the end
    // of the archive, are left out one by one.
    FindDamagedEntries();
    // One set of decoding buffers serves every entry of the run.
    state = std::make_unique<TDecodeState>(host);
    destBase_ = EntryDestFolder(destDir_, std::string(), std::string(), false, platform::HostPathRules());
    verifiedFolders_.clear();
    pendingLinks_.clear();
    folderTimes_.clear();
    // The volumes of a set are visited in archive order, one after the other.
    if (endCentral_->ThisDisk != 0 && sortMode_ != ByNone) {
      savedSortMode = sortMode_;
      SortDirectory(ByNone);
    }

    totalBytes_ = 0;
    btsDone_ = 0;
    const TSortedZip* list = ZipInfo();
    const std::int32_t count = list ? list->Count() : 0;
    std::int32_t numFiles = count;
    // The entries visited: the selected ones, or with DoAll every one that is
    // not excluded (folder entries too, which then count without being made).
    std::vector<bool> visit(static_cast<std::size_t>(count), false);
    const TEntryPatterns patterns(filesList_), exclusions(excludeList_);
    for (std::int32_t i = 0; i < count; ++i) {
      const TZipHeaderInfo& entry = *list->Items(i);
      // A nameless entry is no folder: it is visited, to be refused.
      const bool isFolder = entry.FileName().empty() && !entry.Nameless();
      const bool excluded = exclusions.MatchAny(entry);
      visit[static_cast<std::size_t>(i)] = doAll_ && !excluded;
      if (isFolder && !recreateDirs_) {
        --numFiles;
        continue;
      }
      const bool chosen = (doAll_ || patterns.MatchAny(entry)) && !excluded;
      if (chosen) visit[static_cast<std::size_t>(i)] = true;
      if (chosen && !isFolder)
        totalBytes_ += entry.UncompressedSize;
      else
        --numFiles;
    }

    bool stopNow = false;
    if (OnStartUnZipInfo) OnStartUnZipInfo(*this, numFiles, totalBytes_, stopNow);

    fileCount_ = 0;
    if (numFiles > 0 && !stopNow) {
      // Made only now, when something goes there: a selection of nothing leaves
      // no empty folder behind.
      if (!destDir_.empty() && outputStream_ == nullptr) platform::ForceFolders(destDir_);
      // Workers decode the entries ahead of their turn, and this thread with them
      // while it waits; everything else stays here.
      std::unique_ptr<TDecodeAhead> ahead;
      if (threads_ > 1 && outputStream_ == nullptr && !zipName_.empty() && endCentral_->ThisDisk == 0 &&
          companionStream_ == nullptr)
        ahead = std::make_unique<TDecodeAhead>(zipName_, threads_ - 1);
      decodeAhead_ = ahead.get();
      std::int32_t nextOffer = 0;
      for (std::int32_t i = 0; i < count; ++i) {
        if (ahead) nextOffer = OfferAhead(*ahead, visit, std::max(nextOffer, i + 1));
        if (!visit[static_cast<std::size_t>(i)]) continue;
        if (list->Items(i)->Nameless()) {
          currentEntry_->Assign(*list->Items(i));
          ReportSkip(skBadName, std::string(), i);
          DropFromTotals();
          continue;
        }
        if (const TSkipReason damage = damage_[static_cast<std::size_t>(i)].Reason; damage != skNotReported) {
          currentEntry_->Assign(*list->Items(i));
          ReportSkip(damage, currentEntry_->StoredPath(), i);
          DropFromTotals();
          continue;
        }
        do {
          UnZipEntry(i, *state);
        } while (retryEntry_);
        if (ahead) ahead->DropThrough(i);
      }
      decodeAhead_ = nullptr;
      ahead.reset();
      FinishExtraction();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return fileCount_;
}

// Entries that share bytes are how a few kilobytes unpack to gigabytes: each
// entry's data runs on into the next entry, whose local header it quotes in a
// stored block, or every central header names one local header, so the same
// bytes are counted again and again. No tool writes such an archive, and an
// entry whose size was damaged runs into the next one as well. Either way only
// the entry at fault is left out: each one's span runs from its local header
// through its compressed data by the sizes the headers give, and must end where
// the next local header starts or before, clear of the central directory and
// within the file.
void TKestrelUnZip::FindDamagedEntries() {
  const TSortedZip* list = ZipInfo();
  const std::int32_t count = list ? list->Count() : 0;
  damage_.assign(static_cast<std::size_t>(count), TEntryDamage{});
  // Offsets count from the start of each volume of a set.
  if (count == 0 || !archiveStream_ || endCentral_->ThisDisk != 0) return;
  TStream& archive = *archiveStream_;
  const std::int64_t restore = archive.Position();
  const auto size = static_cast<std::uint64_t>(archive.Size());
  struct TSpan {
    std::uint64_t From, To;
    std::int32_t Index;
    bool NamedHere;  ///< the local header names this entry
  };
  std::vector<TSpan> spans;
  spans.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    // A folder, a link and a file take their bytes alike: a folder entry whose
    // size runs into the next entry is damaged as a file would be.
    const TZipHeaderInfo& entry = *list->Items(i);
    // The local header's lengths say where the data starts; a header that is not
    // there fails its entry later, and counts here with the central lengths.
    std::uint8_t header[TLocalHeaderLayout::Size] = {};
    std::uint64_t lengths = entry.NameLength;
    bool namedHere = false;
    archive.SetPosition(static_cast<std::int64_t>(entry.LocalHeaderOffset));
    if (archive.Read(header, TLocalHeaderLayout::Size) == TLocalHeaderLayout::Size &&
        GetU32(header) == TLocalHeaderLayout::Signature) {
      const std::uint16_t nameLength = GetU16(header + TLocalHeaderLayout::NameLengthAt);
      lengths = std::uint64_t{nameLength} + GetU16(header + TLocalHeaderLayout::ExtraLengthAt);
      std::string name(nameLength, '\0');
      namedHere = archive.Read(name.data(), nameLength) == nameLength && name == entry.RawName();
    }
    // A data descriptor is not counted: no byte of it is decoded, and some writers
    // set flag bit 3 without writing one.
    const std::uint64_t from = entry.LocalHeaderOffset;
    std::uint64_t to = from + TLocalHeaderLayout::Size + lengths + entry.CompressedSize;
    // An entry of a rebuilt directory whose descriptor was not found: its bytes
    // run on into the next record, or past the end.
    if (const auto unended = unendedEntries_.find(&entry); unended != unendedEntries_.end())
      to = std::max(to, unended->second + 1);
    spans.push_back({from, to, i, namedHere});
  }
  archive.SetPosition(restore);
  std::stable_sort(spans.begin(), spans.end(), [](const TSpan& a, const TSpan& b) { return a.From < b.From; });

  // A rebuilt directory has no central directory of its own to keep clear of.
  const bool hasDirectory = !rebuilt_ && companionStream_ == nullptr && endCentral_->TotalEntries > 0;
  const std::uint64_t directoryStart = endCentral_->CentralDirOffset;
  const std::uint64_t directoryEnd = directoryStart + endCentral_->CentralDirSize;
  auto mark = [&](const TSpan& span, TSkipReason reason, const TSpan* other) {
    damage_[static_cast<std::size_t>(span.Index)] = {reason, other ? list->Items(other->Index) : nullptr};
  };
  std::size_t owner = 0;  // the span that keeps the local header of the current group
  for (std::size_t i = 0; i < spans.size(); ++i) {
    // Of the entries at one local header, the one it names keeps it (else the
    // first); the others share its bytes.
    if (i == 0 || spans[i].From != spans[i - 1].From) {
      owner = i;
      for (std::size_t j = i; j < spans.size() && spans[j].From == spans[i].From; ++j) {
        if (spans[j].NamedHere) {
          owner = j;
          break;
        }
      }
    }
    if (i != owner) {
      mark(spans[i], skOverlaps, &spans[owner]);
      continue;
    }
    std::size_t next = i + 1;
    while (next < spans.size() && spans[next].From == spans[i].From) ++next;
    if (next < spans.size() && spans[i].To > spans[next].From) {
      // The entry that keeps that header, which is the one that comes out.
      std::size_t keeper = next;
      for (std::size_t j = next; j < spans.size() && spans[j].From == spans[next].From; ++j) {
        if (spans[j].NamedHere) {
          keeper = j;
          break;
        }
      }
      mark(spans[i], skOverlaps, &spans[keeper]);
    } else if (hasDirectory && spans[i].From < directoryEnd && directoryStart < spans[i].To) {
      mark(spans[i], skOverlaps, nullptr);
    } else if (spans[i].To > size) {
      mark(spans[i], skCutShort, nullptr);
    } else if (unendedEntries_.count(list->Items(spans[i].Index)) != 0) {
      // It runs into the central directory that follows the entries.
      mark(spans[i], skOverlaps, nullptr);
    }
  }
}

std::int32_t TKestrelUnZip::OfferAhead(TDecodeAhead& ahead, const std::vector<bool>& visit, std::int32_t from) {
  const TSortedZip& list = *ZipInfo();
  if (!ahead.WantsMore()) return from;
  std::int32_t next = from;
  for (; next < list.Count(); ++next) {
    const TZipHeaderInfo& entry = *list.Items(next);
    // Only what a file gets in the end, and only as much as the queue holds: a
    // link, an encrypted entry (its password comes in its turn) or a large file
    // is decoded in its turn.
    if (!visit[static_cast<std::size_t>(next)] || damage_[static_cast<std::size_t>(next)].Reason != skNotReported ||
        entry.FileName().empty() || entry.IsSymbolicLink() || entry.Encrypted() ||
        entry.UncompressedSize > TDecodeAhead::LargestEntry)
      continue;
    // The local header's lengths are the worker's to read.
    std::uint8_t noHeader[TLocalHeaderLayout::Size] = {};
    if (!ahead.Offer(next, DecodeEntryOf(entry, noHeader), entry.CRC32)) break;
  }
  return next;
}

TStream& TKestrelUnZip::EntrySource() {
  if (streamSource_) return *streamSource_;
  if (!archiveStream_) throw EFatalUnzipError("Premature end of file reached");
  return *archiveStream_;
}

TEntryDamage TKestrelUnZip::EntryDamage(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= damage_.size()) return {};
  return damage_[static_cast<std::size_t>(index)];
}

std::string TKestrelUnZip::EntryDestDir() const {
  return EntryDestFolder(destDir_, rootDir_, currentEntry_->Directory(), recreateDirs_, platform::HostPathRules());
}

void TKestrelUnZip::ReportSkip(TSkipReason reason, const std::string& fName, std::int32_t index) {
  if (OnSkippingFile) OnSkippingFile(*this, reason, fName, index, skipRetry_);
}

void TKestrelUnZip::DropFromTotals() {
  // An archive read from a stream has no totals: its sizes arrive with its entries.
  if (!streamSource_) totalBytes_ -= currentEntry_->UncompressedSize;
}

void TKestrelUnZip::UnZipEntry(std::int32_t index, TDecodeState& state) {
  // RetryEntry still set says this is the retry of the entry before; any other
  // entry asks about the file it would replace anew.
  if (!retryEntry_) retryReplaces_.clear();
  retryEntry_ = false;
  replacingFile_ = false;
  decodeResult_ = drDecoded;
  decodeDetail_.clear();
  currentEntry_->Assign(Entry(index));
  const bool isFolder = currentEntry_->FileName().empty();
  // The local header's name and extra-field lengths may differ from the central
  // header's; only they tell where the data starts.
  std::uint8_t localHeader[TLocalHeaderLayout::Size] = {};
  if (!isFolder) ReadEntryLocalHeader(localHeader);
  if (outputStream_ != nullptr) {
    // Into the caller's stream: nothing is made on disk, and a folder entry has
    // nothing to give.
    if (!isFolder) UnZipEntryToStream(index, state, localHeader);
  } else if (isFolder) {
    MakeFolderEntry();
  } else {
    UnZipEntryToFile(index, state, localHeader);
  }
}

void TKestrelUnZip::ReadEntryLocalHeader(std::uint8_t* localHeader) {
  const TZipHeaderInfo& entry = *currentEntry_;
  if (endCentral_->ThisDisk != 0 && entry.DiskStart != static_cast<std::uint32_t>(currentDisk_)) {
    // An entry on a disk the set does not have is damage: its data is not there.
    if (entry.DiskStart > endCentral_->ThisDisk) throw EFatalUnzipError("Premature end of file reached");
    OpenVolume(static_cast<std::int32_t>(entry.DiskStart) + 1);
  }
  TStream& archive = EntrySource();
  archive.Seek(static_cast<std::int64_t>(entry.LocalHeaderOffset), soFromBeginning);
  archive.Read(localHeader, TLocalHeaderLayout::Size);
  archive.Seek(
      GetU16(localHeader + TLocalHeaderLayout::NameLengthAt) + GetU16(localHeader + TLocalHeaderLayout::ExtraLengthAt),
      soFromCurrent);
}

void TKestrelUnZip::UnZipEntryToStream(std::int32_t index, TDecodeState& state, const std::uint8_t* localHeader) {
  const TZipHeaderInfo& entry = *currentEntry_;
  std::string fName = entry.StoredPath();
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(*this, index, fName, skip);
  if (skip) return;
  if (entry.Encrypted() && !CheckPassword(index, state)) return;
  // A stream takes no date: how the decoder ended counts in the verdict alone.
  DecodeEntry(state, localHeader, *outputStream_);
  if (streamSource_ && !CompleteStreamedEntry(index)) {
    ReportSkip(skCutShort, entry.StoredPath(), index);
    return;
  }
  JudgeCrc(index, state.Crc(), fName);
}

void TKestrelUnZip::MakeFolderEntry() {
  const std::string dir = EntryDestDir();
  // A folder entry fires no events; one that climbs out of DestDir, or leads
  // through a link, is not made and not counted.
  const std::string& stored = recreateDirs_ ? currentEntry_->StoredPath() : currentEntry_->FileName();
  if (StoredPathClimbs(stored, platform::HostPathRules()) || PathHasLinks(dir, destBase_.size())) return;
  if (recreateDirs_) {
    platform::ForceFolders(dir);
    folderTimes_.push_back({dir, currentEntry_->ModifiedTime, currentEntry_->DateTime});
  }
  ++fileCount_;
}

std::optional<std::string> TKestrelUnZip::EntryDestination(std::int32_t index, TDecodeState& state,
                                                           std::unique_ptr<TLFNFileStream>* created) {
  const TZipHeaderInfo& entry = *currentEntry_;
  const std::string allowedBefore = std::exchange(retryReplaces_, std::string());
  const platform::TPathRules& rules = platform::HostPathRules();
  std::string fName = EntryDestDir() + entry.FileName();
  // Without the stored folders only the file's own name reaches the disk.
  if (StoredPathClimbs(recreateDirs_ ? entry.StoredPath() : entry.FileName(), rules)) {
    ReportSkip(skPathClimbs, fName, index);
    DropFromTotals();
    return std::nullopt;
  }
  const std::string builtName = fName;

  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(*this, index, fName, skip);
  if (skip) return std::nullopt;

  // A name the handler chose is the handler's; one made from the archive must not
  // pass through a link below DestDir, which the archive cannot have made.
  // A link entry replaces a link that stands where it goes: only its folders count.
  const std::string folder = platform::PathFolder(fName, rules);
  const bool archiveMade = fName == builtName;
  if (archiveMade && (entry.IsSymbolicLink() ? PathHasLinks(folder, destBase_.size()) : FolderHasLinks(folder))) {
    ReportSkip(skPathThroughLink, fName, index);
    DropFromTotals();
    return std::nullopt;
  }
  // Most files are new: a creation that fails when anything stands at the name
  // answers every question below at once (no link there, nothing to keep, nothing
  // read-only). An encrypted entry asks for its password first.
  if (created != nullptr && !entry.Encrypted()) {
    *created = CreateNewOutput(fName);
    if (*created) return fName;
  }
  if (archiveMade && !entry.IsSymbolicLink() && platform::IsSymbolicLink(fName)) {
    ReportSkip(skPathThroughLink, fName, index);
    DropFromTotals();
    return std::nullopt;
  }
  if (entry.Encrypted() && !CheckPassword(index, state)) return std::nullopt;

  // Always asks nothing of the file, so its time need not be read. The retry of an
  // entry with another password finds the file its first try was allowed to replace.
  if (overwriteMode_ != TUZOverwriteMode::Always && fName != allowedBefore && DestinationTime(fName) &&
      !OverwriteAllowed(index, fName)) {
    ReportSkip(skFileExists, fName, index);
    DropFromTotals();
    return std::nullopt;
  }
  return fName;
}

void TKestrelUnZip::UnZipEntryToFile(std::int32_t index, TDecodeState& state, const std::uint8_t* localHeader) {
  if (currentEntry_->IsSymbolicLink()) {
    UnZipLinkEntry(index, state, localHeader);
    return;
  }
  std::unique_ptr<TLFNFileStream> output;
  TOutputGuard guard(output);
  const std::optional<std::string> destination = EntryDestination(index, state, &output);
  if (!destination) return;
  const std::string& fName = *destination;
  const TZipHeaderInfo& entry = *currentEntry_;

  // The folders are made only for a file that is written (CreateNewOutput makes
  // them when they are missing): an entry refused for its password or kept as it
  // was leaves no empty folder.
  if (!output) output = CreateOutput(fName);
  if (!output) {
    // The handler hears why from the system's last error code, as left by the
    // failed creation.
    const int error = platform::LastSystemError();
    DropFromTotals();
    platform::SetLastSystemError(error);
    ReportSkip(skCreateFailed, fName, index);
    return;
  }
  // A file that stood at the name is replaced only by an entry that checks out:
  // until then the entry's bytes go to a file of their own beside it.
  const std::string written = output->FileName();
  replacingFile_ = written != fName;
  guard.Watch(written);

  // Any exception but the size guard's ends the run: a failed write, the archive's
  // premature end, a cancel. The file being written is incomplete then, and goes
  // as a file that fails its CRC does.
  bool ok = false;
  if (std::optional<TDecodedAhead> decoded = decodeAhead_ ? decodeAhead_->Take(index) : std::nullopt) {
    decodeResult_ =
        state.TakeDecoded(DecodeEntryOf(entry, localHeader), decoded->Bytes, decoded->Pieces, decoded->Crc, *output);
    ok = true;
  } else {
    ok = DecodeEntry(state, localHeader, *output);
  }
  // A stream that ended inside the entry gave only the start of its data.
  if (streamSource_ && !CompleteStreamedEntry(index)) throw EFatalUnzipError("Premature end of file reached");
  // The window's last bytes reach the file only here; a failure to write them
  // would leave a short file behind a matching CRC.
  if (!output->Flush()) throw ECantWriteUCF("Cant write uncompressed file", platform::LastSystemError());
  if (ok) {
    // Every byte is in the file: the date and attributes go on through the open
    // handle, which spares opening the file again; closing and renaming change
    // neither.
    StampEntryTime(output->File(), entry);
    if (retainAttributes_) ApplyEntryAttributes(output->File());
  }
  output.reset();
  if (!JudgeCrc(index, state.Crc(), fName, !replacingFile_)) {
    if (retryEntry_ && replacingFile_) retryReplaces_ = fName;
    return;
  }
  if (replacingFile_) {
    if (!platform::RenameFileOver(written, fName)) {
      guard.Discard();
      ReportSkip(skCreateFailed, fName, index);
      return;
    }
    if (OnEndUnZip) OnEndUnZip(*this, index, fName);
    ++fileCount_;
  }
  guard.Keep();
  if (streamSource_) streamedFiles_.emplace_back(index, fName);
}

// The local header's lengths have served already: ReadEntryLocalHeader left the
// archive at the data.
TDecodeEntry TKestrelUnZip::DecodeEntryOf(const TZipHeaderInfo& entry, const std::uint8_t* /*localHeader*/) {
  TDecodeEntry decodeEntry;
  decodeEntry.Flags = entry.Flags;
  decodeEntry.CompressionMethod = entry.CompressionMethod;
  decodeEntry.CompressedSize = entry.CompressedSize;
  decodeEntry.UncompressedSize = entry.UncompressedSize;
  decodeEntry.LocalHeaderOffset = entry.LocalHeaderOffset;
  decodeEntry.Aes = entry.Aes;
  return decodeEntry;
}

bool TKestrelUnZip::DecodeEntry(TDecodeState& state, const std::uint8_t* localHeader, TStream& output) {
  decodeResult_ = DecodeEntryData(state, DecodeEntryOf(*currentEntry_, localHeader), output);
  decodeDetail_ = state.FailureDetail;
  return decodeResult_ == drDecoded;
}

bool TKestrelUnZip::JudgeCrc(std::int32_t index, std::uint32_t crc, const std::string& fName, bool announce) {
  const TZipHeaderInfo& entry = *currentEntry_;
  // A decoder that failed has written less, or other bytes, than the entry holds,
  // whatever the CRC of what it wrote. An AE-2 entry has no CRC: its
  // authentication code, checked in the decoding, vouches for it.
  const bool crcMatches = crc == entry.CRC32 || (entry.AesEncrypted() && !entry.Aes.HasCrc());
  if (crcMatches && decodeResult_ == drDecoded) {
    if (!announce) return true;
    if (OnEndUnZip) OnEndUnZip(*this, index, fName);
    ++fileCount_;
    return true;
  }
  // An AES entry's password passed its verifier, and a wrong one that passes by
  // chance (one in 65,536) fails the authentication code: what fails after that
  // is damage, not the password.
  if (entry.Encrypted() && !entry.AesEncrypted()) {
    // With a password that passed the header check by chance (one in 256), the
    // CRC is where a wrong password shows.
    if (OnBadPassword) {
      std::string newPassword = password_;
      OnBadPassword(*this, index, newPassword);
      if (newPassword != password_) {
        password_ = newPassword;
        retryEntry_ = true;
      }
    }
    if (!retryEntry_) ReportSkip(skBadPassword, entry.StoredPath(), index);
  } else if (OnBadCRC) {
    OnBadCRC(*this, crc, entry.CRC32, index);
  }
  return false;
}

bool TKestrelUnZip::CheckPassword(std::int32_t index, TDecodeState& state) {
  TZipHeaderInfo& entry = *currentEntry_;
  const std::uint8_t check = EncryptionCheckByte(entry.Flags, entry.DateTime, entry.CRC32);
  // The header is read once, which leaves the archive at the data for the
  // decoding; every password offered is tried on the same bytes.
  const TDecodeState::TEncryptionHeader header =
      TDecodeState::ReadEncryptionHeaderBytes(EntrySource(), entry.AesEncrypted(), entry.Aes, entry.CompressedSize);
  for (;;) {
    // The traditional cipher checks one byte of its 12-byte header; WinZip AES
    // the 2-byte verifier after its salt.
    if (entry.AesEncrypted() ? state.StartAes(password_, entry.Aes, header)
                             : state.StartKeys(password_, header) == check)
      return true;
    if (OnBadPassword) {
      std::string newPassword = password_;
      OnBadPassword(*this, index, newPassword);
      if (newPassword != password_) {
        password_ = newPassword;
        continue;
      }
    }
    ReportSkip(skBadPassword, entry.StoredPath(), index);
    DropFromTotals();
    return false;
  }
}

bool TKestrelUnZip::OverwriteAllowed(std::int32_t index, std::string& fName) {
  const TZipHeaderInfo& entry = *currentEntry_;
  switch (overwriteMode_) {
    case TUZOverwriteMode::Always:
      return true;
    case TUZOverwriteMode::Never:
      return false;
    case TUZOverwriteMode::Prompt: {
      if (OnPromptForOverwrite) {
        bool overWriteIt = false;
        OnPromptForOverwrite(*this, overWriteIt, index, fName);
        return overWriteIt;
      }
      // On a console without a terminal this is answered No at once.
      return platform::ShowMessageBox("File Exists Alert", "Replace existing file " + entry.FileName() + "?",
                                      platform::TMessageButtons::YesNo) == platform::TMessageAnswer::Yes;
    }
    case TUZOverwriteMode::ifNewer:
    case TUZOverwriteMode::ifOlder: {
      const std::optional<platform::TFileTime> fileTime = DestinationTime(fName);
      if (!fileTime) return true;
      // A date that cannot be compared keeps the existing file: replacing it on a
      // guess could lose the newer one.
      const std::optional<int> order = CompareEntryToFile(entry, *fileTime);
      if (!order) return false;
      return overwriteMode_ == TUZOverwriteMode::ifNewer ? *order > 0 : *order < 0;
    }
  }
  return false;
}

std::optional<int> TKestrelUnZip::CompareWithFile(std::int32_t index, const std::string& fName) {
  CheckIndex(index);
  const std::optional<platform::TFileTime> fileTime = DestinationTime(fName);
  if (!fileTime) return std::nullopt;
  return CompareEntryToFile(Entry(index), *fileTime);
}

bool TKestrelUnZip::FolderHasLinks(const std::string& folder) {
  // Entries of one folder come in runs, and most folders hold many files: a folder
  // found free of links needs no second look (the extraction only ever adds real
  // folders below DestDir, and makes the archive's links last).
  if (verifiedFolders_.contains(folder)) return false;
  if (PathHasLinks(folder, destBase_.size())) return true;
  verifiedFolders_.insert(folder);
  return false;
}

std::unique_ptr<TLFNFileStream> TKestrelUnZip::CreateNewOutput(const std::string& fName) {
  const auto open = [&] {
    return platform::TFile::Open(fName, platform::TFileAccess::ReadWrite, platform::TFileShare::None,
                                 platform::TFileCreation::CreateNew, CreationPermissions());
  };
  platform::TFile file = open();
  if (!file.IsOpen() && platform::IsMissingFolderError(platform::LastSystemError())) {
    // No folder, so no file either: the folders are made as they would be for it.
    platform::ForceFolders(platform::PathFolder(fName, platform::HostPathRules()));
    file = open();
  }
  if (!file.IsOpen()) return nullptr;
  return std::make_unique<TLFNFileStream>(std::move(file), fName, StreamBufferSize, flushFilesOnClose_);
}

std::unique_ptr<TLFNFileStream> TKestrelUnZip::CreateOutput(const std::string& fName) {
  const std::optional<std::uint32_t> attributes = platform::ReadAttributes(fName);
  if (!attributes) {
    if (std::unique_ptr<TLFNFileStream> created = CreateNewOutput(fName)) return created;
    // Something stands there that has no attributes of its own (a link that leads
    // nowhere): it is replaced like a file, never followed.
  } else if ((*attributes & platform::faDirectory) != 0) {
    // A folder is never replaced; the attempt to open it for writing leaves the
    // system's own reason.
    platform::TFile::Open(fName, platform::TFileAccess::Write, platform::TFileShare::None,
                          platform::TFileCreation::OpenExisting);
    return nullptr;
  } else if ((*attributes & platform::faReadOnly) != 0 && !replaceReadOnly_) {
    // A read-only file is not replaced, as on systems where even an
    // administrator cannot open one for writing; so the outcome does not depend
    // on who runs the extraction.
    platform::SetLastSystemError(platform::AccessDeniedError());
    return nullptr;
  }
  return CreateReplacement(fName);
}

std::unique_ptr<TLFNFileStream> TKestrelUnZip::CreateReplacement(const std::string& fName) {
  // A hidden name that no entry is likely to want, with a random part so that two
  // runs in one folder never meet; created exclusively, so nothing that stands
  // there (a link included) is written through, and another name is tried then.
  if (!temporaryNames_) temporaryNames_.emplace(std::random_device()());
  const std::string folder = platform::PathFolderPart(fName, platform::HostPathRules());
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string name = folder + ".kestrel-unzip-";
    for (int part = 0; part < 3; ++part) {
      constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
      for (std::uint32_t n = static_cast<std::uint32_t>((*temporaryNames_)()), i = 0; i < 5; ++i, n /= 36)
        name += digits[n % 36];
    }
    name += ".tmp";
    platform::TFile file = platform::TFile::Open(name, platform::TFileAccess::ReadWrite, platform::TFileShare::None,
                                                 platform::TFileCreation::CreateNew, CreationPermissions());
    if (file.IsOpen())
      return std::make_unique<TLFNFileStream>(std::move(file), name, StreamBufferSize, flushFilesOnClose_);
    const int error = platform::LastSystemError();
    const bool taken = platform::ReadAttributes(name) || platform::IsSymbolicLink(name);
    platform::SetLastSystemError(error);
    if (!taken) break;
  }
  return nullptr;
}

void TKestrelUnZip::UnZipLinkEntry(std::int32_t index, TDecodeState& state, const std::uint8_t* localHeader) {
  const std::optional<std::string> destination = EntryDestination(index, state, nullptr);
  if (!destination) return;
  const std::string& fName = *destination;
  const TZipHeaderInfo& entry = *currentEntry_;
  if (entry.UncompressedSize > LongestLinkTarget) {
    ReportSkip(skLinkTarget, fName, index);
    DropFromTotals();
    return;
  }
  TMemoryOutput target;
  DecodeEntry(state, localHeader, target);
  if (streamSource_ && !CompleteStreamedEntry(index)) throw EFatalUnzipError("Premature end of file reached");
  if (!JudgeCrc(index, state.Crc(), fName, false)) return;
  // The folder is made now, as for a file; the link itself once every file is in.
  platform::ForceFolders(platform::PathFolder(fName, platform::HostPathRules()));
  pendingLinks_.push_back({index, fName, std::move(target.Text), entry.ModifiedTime, entry.DateTime});
}

std::optional<std::string> TKestrelUnZip::LinkTarget(std::int32_t index) {
  CheckIndex(index);
  const TZipHeaderInfo& entry = Entry(index);
  if (!entry.IsSymbolicLink() || entry.Encrypted() || entry.UncompressedSize > LongestLinkTarget ||
      inputStream_ != nullptr || endCentral_->ThisDisk != 0)
    return std::nullopt;
  // The listing's own decoding: neither its progress nor its verdict reaches the
  // caller, and an archive that ends inside the entry only leaves the target unknown.
  const TDecodeResult savedResult = decodeResult_;
  const std::string savedDetail = decodeDetail_;
  const std::int64_t savedDone = btsDone_, savedTotal = totalBytes_;
  TMemoryOutput target;
  bool decoded = false;
  try {
    OpenZip();
    currentEntry_->Assign(entry);
    TDriverHost host(*this);
    TDecodeState state(host);
    std::uint8_t localHeader[TLocalHeaderLayout::Size] = {};
    ReadEntryLocalHeader(localHeader);
    decoded = DecodeEntry(state, localHeader, target) && state.Crc() == entry.CRC32;
  } catch (const Exception&) {
    decoded = false;
  }
  decodeResult_ = savedResult;
  decodeDetail_ = savedDetail;
  btsDone_ = savedDone;
  totalBytes_ = savedTotal;
  CloseZip();
  if (!decoded) return std::nullopt;
  return std::move(target.Text);
}

void TKestrelUnZip::FinishExtraction() {
  MakePendingLinks();
  for (const TFolderTime& folder : folderTimes_) StampPathTime(folder.Path, folder.Time, folder.DosTime);
  folderTimes_.clear();
}

void TKestrelUnZip::TakeBackStreamedLinks() {
  for (const auto& [index, fName] : streamedFiles_) {
    const TZipHeaderInfo& entry = *directoryList_->Items(index);
    // An empty name: the file was taken back when its entry was renamed.
    if (fName.empty() || !entry.IsSymbolicLink() || platform::IsSymbolicLink(fName)) continue;
    if (entry.UncompressedSize > LongestLinkTarget) {
      // A target longer than any path is refused, as it is from a file.
      platform::RemoveFile(fName);
      --fileCount_;
      ReportSkip(skLinkTarget, fName, index);
      continue;
    }
    platform::TFile file = platform::TFile::Open(fName, platform::TFileAccess::Read, platform::TFileShare::Read,
                                                 platform::TFileCreation::OpenExisting);
    // The target is what the file holds, as decoded: what a link from a file gets
    // too, should the data give fewer bytes than the header says.
    std::string target(static_cast<std::size_t>(entry.UncompressedSize), '\0');
    const std::int64_t got = file.IsOpen() ? file.Read(target.data(), target.size()) : -1;
    if (got < 0) continue;
    target.resize(static_cast<std::size_t>(got));
    file = platform::TFile();
    platform::RemoveFile(fName);
    pendingLinks_.push_back({index, fName, std::move(target), entry.ModifiedTime, entry.DateTime, true});
  }
  streamedFiles_.clear();
}

void TKestrelUnZip::MakePendingLinks() {
  const platform::TPathRules& rules = platform::HostPathRules();
  std::vector<std::string> linkNames;
  for (const TPendingLink& link : pendingLinks_) linkNames.push_back(link.FName);
  for (const TPendingLink& link : pendingLinks_) {
    auto refuse = [&](TSkipReason reason) {
      if (link.Counted) --fileCount_;
      ReportSkip(reason, link.FName, link.Index);
    };
    // A link made before this one may stand in its folders now.
    if (PathHasLinks(platform::PathFolder(link.FName, rules), destBase_.size())) {
      refuse(skPathThroughLink);
      continue;
    }
    if (!LinkTargetStaysInside(link.FName, link.Target, linkNames)) {
      refuse(skLinkTarget);
      continue;
    }
    // What stands there was allowed to go by the overwrite policy; a folder never
    // goes, and a link is replaced, never followed.
    if (platform::IsSymbolicLink(link.FName)) {
      platform::RemoveFile(link.FName);
    } else if (platform::FolderExists(link.FName)) {
      refuse(skLinkOverFolder);
      continue;
    } else if (platform::FileExists(link.FName)) {
      platform::RemoveFile(link.FName);
    }
    if (!platform::MakeSymbolicLink(link.Target, link.FName)) {
      refuse(skLinkFailed);
      continue;
    }
    StampPathTime(link.FName, link.Time, link.DosTime);
    if (link.Counted) continue;
    if (OnEndUnZip) OnEndUnZip(*this, link.Index, link.FName);
    ++fileCount_;
  }
  pendingLinks_.clear();
}

bool TKestrelUnZip::LinkTargetStaysInside(const std::string& fName, const std::string& target,
                                          const std::vector<std::string>& linkNames) const {
  const platform::TPathRules& rules = platform::HostPathRules();
  auto separator = [&](char c) { return c == '/' || platform::IsPathSeparator(c, rules); };
  // A root or a drive leads anywhere.
  if (target.empty() || target.find('\0') != std::string::npos || separator(target[0]) ||
      (target.size() > 1 && target[1] == ':'))
    return false;
  // The folders from DestDir down to the link; a name a handler chose outside
  // DestDir's own part allows no climbing at all.
  std::vector<std::string> steps;
  auto split = [&](const std::string& path, auto take) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
      if (i < path.size() && !separator(path[i])) continue;
      if (!take(path.substr(start, i - start))) return false;
      start = i + 1;
    }
    return true;
  };
  const std::string folder = platform::PathFolder(fName, rules);
  if (fName.starts_with(destBase_) && folder.size() > destBase_.size()) {
    split(folder.substr(destBase_.size()), [&](const std::string& step) {
      if (!step.empty() && step != ".") steps.push_back(step);
      return true;
    });
  }
  // Lexically, step by step. A ".." after a step through a link would climb from
  // wherever that link leads, which no spelling shows: refused.
  bool throughLink = false;
  return split(target, [&](const std::string& step) {
    if (step.empty() || step == ".") return true;
    if (step == "..") {
      if (steps.empty() || throughLink) return false;
      steps.pop_back();
      return true;
    }
    steps.push_back(step);
    if (!throughLink) {
      std::string path = destBase_;
      for (const std::string& part : steps) {
        if (!path.empty() && !platform::IsPathSeparator(path.back(), rules)) path += rules.Separator;
        path += part;
      }
      throughLink =
          platform::IsSymbolicLink(path) || std::find(linkNames.begin(), linkNames.end(), path) != linkNames.end();
    }
    return true;
  });
}

std::optional<std::uint32_t> TKestrelUnZip::EntryUnixMode() const {
  const TZipHeaderInfo& entry = *currentEntry_;
  // Made on Unix: the high 16 bits are the file's mode; only its permission
  // bits are taken, never setuid, setgid, sticky or a link type.
  if (entry.HasUnixMode()) return (entry.ExternalAttributes >> 16) & 0777;
  return std::nullopt;
}

std::uint32_t TKestrelUnZip::CreationPermissions() const {
  // The bits ApplyEntryAttributes will give the file, so that it seldom has to.
  if (!retainAttributes_) return 0666;
  const std::optional<std::uint32_t> unixMode = EntryUnixMode();
  std::uint32_t mode = unixMode ? (*unixMode | 0600) : 0666;
  if ((currentEntry_->ExternalAttributes & platform::faReadOnly) != 0) mode &= ~std::uint32_t{0222};
  return mode;
}

void TKestrelUnZip::ApplyEntryAttributes(platform::TFile& file) const {
  // The low byte holds the MS-DOS attributes, of which the read-only bit counts.
  file.ApplyAttributes(currentEntry_->ExternalAttributes & 0xFF, EntryUnixMode());
}

}  // namespace kestrel
