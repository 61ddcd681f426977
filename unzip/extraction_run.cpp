// The run of one UnZip (TExtractionRun): its start, alike for both doors, the
// file door's selection and visit of the entries, and the per-entry routine
// (destination path, folders, password check, overwrite policy, output file,
// decoding, date and attributes, CRC verdict) with the events in their order.
//
// Destinations never leave DestDir: a stored path that climbs with ".." is refused,
// stored roots and drives are placed below DestDir, and a link met inside DestDir
// on the way to an archive-made name is never written through. The archive's own
// symbolic links are made last (extraction_links.cpp).

#include "unzip/extraction_run.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode_ahead.h"
#include "unzip/dest_paths.h"
#include "unzip/dos_date_time.h"
#include "unzip/driver_host.h"
#include "unzip/entry_damage.h"
#include "unzip/text_output.h"

namespace kestrel {
namespace {

// Stamps an open file with the entry's exact time, where it has one and the file
// system holds it (read back to the second), else with its DOS time.
void StampEntryTime(platform::TFile& file, const TZipHeaderInfo& entry) {
  if (entry.ModifiedTime && file.SetLastWriteTime(*entry.ModifiedTime)) {
    const std::optional<platform::TFileTime> written = file.LastWriteTime();
    if (written && written->Seconds == entry.ModifiedTime->Seconds) return;
  }
  ApplyDosDateTime(file, RepairDosDateTime(entry.DateTime));
}

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

std::optional<platform::TFileTime> DestinationTime(const std::string& fName) {
  platform::TFile file = platform::TFile::Open(fName, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  if (!file.IsOpen()) return std::nullopt;
  return file.LastWriteTime();
}

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

void StampPathTime(const std::string& path, const std::optional<platform::TFileTime>& exact, std::uint32_t dosTime) {
  if (exact && platform::SetPathLastWriteTime(path, *exact)) return;
  if (const auto utc = DosDateTimeToUtc(RepairDosDateTime(dosTime))) platform::SetPathLastWriteTime(path, *utc);
}

TExtractionRun::TExtractionRun(TKestrelUnZip& unzip, TRunOutcome carried)
    : unzip_(unzip), outcome_(std::move(carried)) {}

TExtractionRun::~TExtractionRun() = default;

void TExtractionRun::Begin() {
  fileCount_ = 0;
  skipRetry_ = false;
  destBase_ = EntryDestFolder(unzip_.destDir_, std::string(), std::string(), false, platform::HostPathRules());
  verifiedFolders_.clear();
  pendingLinks_.clear();
  folderTimes_.clear();
  streamedFiles_.clear();
  totalBytes_ = 0;
  outcome_.BtsDone = 0;
  // An archive that came from the internet hands its mark on to every file made
  // of it, as Windows' own zip folder does; read once, by its name.
  zoneMark_ =
      unzip_.stream_.Source || unzip_.zipName_.empty() ? std::nullopt : platform::ReadZoneIdentifier(unzip_.zipName_);
}

std::int32_t TExtractionRun::UnZipSelected() {
  TKestrelUnZip& unzip = unzip_;
  const bool savedKeepZipOpen = unzip.keepZipOpen_;
  unzip.keepZipOpen_ = true;
  std::optional<TZipSortMode> savedSortMode;
  TKestrelUnZip::TDriverHost host(unzip);
  std::unique_ptr<TDecodeState> state;

  auto finish = [&] {
    decodeAhead_ = nullptr;
    state.reset();
    unzip.filesList_.clear();
    if (savedSortMode) unzip.SortDirectory(*savedSortMode);
    unzip.keepZipOpen_ = savedKeepZipOpen;
    if (unzip.OnUnZipComplete) unzip.OnUnZipComplete(unzip, fileCount_);
  };

  try {
    // Before anything is written: entries that share bytes, or run past the end
    // of the archive, are left out one by one.
    const TEndCentral& end = *unzip.endCentral_;
    TDamageScope scope;
    scope.Entries = unzip.ZipInfo();
    scope.Archive = unzip.archiveStream_.get();
    scope.OneVolume = !unzip.PerVolume();
    scope.Volumes = unzip.volumeSet_.get();
    // A rebuilt directory knows no parts: its entries are where their local
    // headers were found.
    scope.PartsByDisk = unzip.VolumeSetIsSplit() && !unzip.findings_.Rebuilt;
    // A rebuilt directory has no central directory of its own to keep clear of.
    scope.HasDirectory = !unzip.findings_.Rebuilt && unzip.companionStream_ == nullptr && end.TotalEntries > 0;
    scope.DirectoryStart = end.CentralDirOffset;
    scope.DirectoryEnd = end.CentralDirOffset + end.CentralDirSize;
    scope.Unended = &unzip.findings_.UnendedEntries;
    outcome_.Damage = FindDamagedEntries(scope);
    // One set of decoding buffers serves every entry of the run.
    state = std::make_unique<TDecodeState>(host);
    Begin();
    // The volumes of a set are visited in archive order, one after the other.
    if (unzip.PerVolume() && unzip.sortMode_ != ByNone) {
      savedSortMode = unzip.sortMode_;
      unzip.SortDirectory(ByNone);
    }
    std::int32_t numFiles = 0;
    const std::vector<bool> visit = SelectVisits(numFiles);
    bool stopNow = false;
    if (unzip.OnStartUnZipInfo) unzip.OnStartUnZipInfo(unzip, numFiles, totalBytes_, stopNow);
    if (numFiles > 0 && !stopNow) VisitEntries(visit, *state);
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return fileCount_;
}

std::vector<bool> TExtractionRun::SelectVisits(std::int32_t& numFiles) {
  const TSortedZip* list = unzip_.ZipInfo();
  const std::int32_t count = list ? list->Count() : 0;
  std::vector<bool> visit(static_cast<std::size_t>(count), false);
  TEntrySelection selection(unzip_.doAll_, unzip_.filesList_, unzip_.excludeList_, false, unzip_.matchMode_,
                            unzip_.nameCase_);
  numFiles = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const TZipHeaderInfo& entry = *list->Items(i);
    if (!selection.Takes(entry)) continue;
    // A nameless entry is no folder: it is visited, to be refused. A folder entry
    // is made only with RecreateDirs; DoAll visits it anyway, to count it.
    const bool isFolder = entry.FileName().empty() && !entry.Nameless();
    visit[static_cast<std::size_t>(i)] = unzip_.doAll_ || !isFolder || unzip_.recreateDirs_;
    if (isFolder) continue;
    totalBytes_ += entry.UncompressedSize;
    ++numFiles;
  }
  return visit;
}

void TExtractionRun::VisitEntries(const std::vector<bool>& visit, TDecodeState& state) {
  TKestrelUnZip& unzip = unzip_;
  // Made only now, when something goes there: a selection of nothing leaves no
  // empty folder behind.
  if (!unzip.destDir_.empty() && unzip.outputStream_ == nullptr) platform::ForceFolders(unzip.destDir_);
  // Workers decode the entries ahead of their turn, and this thread with them
  // while it waits; everything else stays here.
  std::unique_ptr<TDecodeAhead> ahead;
  if (unzip.threads_ > 1 && unzip.outputStream_ == nullptr && !unzip.zipName_.empty() && !unzip.PerVolume() &&
      unzip.companionStream_ == nullptr)
    ahead = std::make_unique<TDecodeAhead>(unzip.ArchiveOpener(), unzip.threads_ - 1);
  decodeAhead_ = ahead.get();
  const TSortedZip& list = *unzip.ZipInfo();
  std::int32_t nextOffer = 0;
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    if (ahead) nextOffer = OfferAhead(*ahead, visit, std::max(nextOffer, i + 1));
    if (!visit[static_cast<std::size_t>(i)]) continue;
    const TSkipReason damage = outcome_.Damage[static_cast<std::size_t>(i)].Reason;
    if (list.Items(i)->Nameless() || damage != skNotReported) {
      unzip.currentEntry_->Assign(*list.Items(i));
      ReportSkip(list.Items(i)->Nameless() ? skBadName : damage,
                 list.Items(i)->Nameless() ? std::string() : unzip.currentEntry_->StoredPath(), i);
      DropFromTotals();
      continue;
    }
    do {
      UnZipEntry(i, state);
    } while (retryEntry_);
    if (ahead) ahead->DropThrough(i);
  }
  decodeAhead_ = nullptr;
  ahead.reset();
  FinishExtraction();
}

std::int32_t TExtractionRun::OfferAhead(TDecodeAhead& ahead, const std::vector<bool>& visit, std::int32_t from) {
  const TSortedZip& list = *unzip_.ZipInfo();
  if (!ahead.WantsMore()) return from;
  std::int32_t next = from;
  for (; next < list.Count(); ++next) {
    const TZipHeaderInfo& entry = *list.Items(next);
    // Only what a file gets in the end, and only as much as the queue holds: a
    // link, an encrypted entry (its password comes in its turn) or a large file
    // is decoded in its turn.
    if (!visit[static_cast<std::size_t>(next)] ||
        outcome_.Damage[static_cast<std::size_t>(next)].Reason != skNotReported || entry.FileName().empty() ||
        entry.IsSymbolicLink() || entry.Encrypted() || entry.UncompressedSize > TDecodeAhead::LargestEntry)
      continue;
    // The local header is the worker's to read, in its own stream.
    if (!ahead.Offer(next, unzip_.DecodeEntryOf(entry), entry.CRC32)) break;
  }
  return next;
}

std::string TExtractionRun::EntryDestDir() const {
  const platform::TPathRules& rules = platform::HostPathRules();
  const std::string& stored = unzip_.currentEntry_->Directory();
  return EntryDestFolder(unzip_.destDir_, unzip_.rootDir_, rules.HasDrives ? WindowsSafeStoredPath(stored) : stored,
                         unzip_.recreateDirs_, rules);
}

std::string TExtractionRun::EntryDestFile(std::int32_t index) const {
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;
  const platform::TPathRules& rules = platform::HostPathRules();
  if (!rules.HasDrives) return EntryDestDir() + entry.FileName();
  // Windows opens a device for "aux.txt" and refuses "a|b": such names, of the file
  // or of a folder on its way, are written under safe ones.
  const std::string stored = unzip_.recreateDirs_ ? entry.StoredPath() : entry.FileName();
  const std::string safe = WindowsSafeStoredPath(stored);
  if (safe == stored) return EntryDestDir() + entry.FileName();
  const std::size_t split = safe.find_last_of('\\') + 1;  // 0 without a folder
  const std::string fName =
      EntryDestFolder(unzip_.destDir_, unzip_.rootDir_, safe.substr(0, split), unzip_.recreateDirs_, rules) +
      safe.substr(split);
  if (unzip_.OnRenamedFile) unzip_.OnRenamedFile(unzip_, index, fName);
  return fName;
}

void TExtractionRun::ReportSkip(TSkipReason reason, const std::string& fName, std::int32_t index) {
  if (unzip_.OnSkippingFile) unzip_.OnSkippingFile(unzip_, reason, fName, index, skipRetry_);
}

void TExtractionRun::DropFromTotals() {
  // An archive read from a stream has no totals: its sizes arrive with its entries.
  if (!unzip_.stream_.Source) totalBytes_ -= unzip_.currentEntry_->UncompressedSize;
}

void TExtractionRun::UnZipEntry(std::int32_t index, TDecodeState& state) {
  // RetryEntry still set says this is the retry of the entry before; any other
  // entry asks about the file it would replace anew.
  if (!retryEntry_) retryReplaces_.clear();
  retryEntry_ = false;
  outcome_.ReplacingFile = false;
  outcome_.DecodeResult = drDecoded;
  outcome_.DecodeDetail.clear();
  unzip_.currentEntry_->Assign(unzip_.Entry(index));
  // A local header does not say where its entry was made: from a stream only
  // ncAll lowers a name.
  if (unzip_.nameCase_ == ncAll || (unzip_.nameCase_ == ncUpperCaseHosts && !unzip_.stream_.Source))
    unzip_.currentEntry_->SetStoredPath(CasedStoredPath(*unzip_.currentEntry_, unzip_.nameCase_));
  const bool isFolder = unzip_.currentEntry_->FileName().empty();
  // The local header's name and extra-field lengths may differ from the central
  // header's; only they tell where the data starts.
  if (!isFolder) unzip_.ReadEntryLocalHeader();
  if (unzip_.outputStream_ != nullptr) {
    // Into the caller's stream: nothing is made on disk, and a folder entry has
    // nothing to give.
    if (!isFolder) unzip_.UnZipEntryToStream(index, state);
  } else if (isFolder) {
    MakeFolderEntry(index);
  } else {
    UnZipEntryToFile(index, state);
  }
}

void TExtractionRun::MakeFolderEntry(std::int32_t index) {
  const std::string dir = EntryDestDir();
  // A folder entry fires no events; one that climbs out of DestDir, or leads
  // through a link, is not made and not counted.
  const std::string& stored =
      unzip_.recreateDirs_ ? unzip_.currentEntry_->StoredPath() : unzip_.currentEntry_->FileName();
  if (StoredPathClimbs(stored, platform::HostPathRules()) || PathHasLinks(dir, destBase_.size())) return;
  if (unzip_.recreateDirs_) {
    const TZipHeaderInfo& entry = *unzip_.currentEntry_;
    // Under ExactModes a folder that stands already (made for an entry before,
    // or before the run) is left as it is, its bits and time too.
    const bool standing = unzip_.exactModes_ && platform::FolderExists(dir);
    platform::ForceFolders(dir);
    if (!standing)
      folderTimes_.push_back({dir, entry.ModifiedTime, entry.DateTime, index, entry.Owner, PermissionsOf(entry)});
  }
  ++fileCount_;
}

std::optional<std::string> TExtractionRun::EntryDestination(std::int32_t index, TDecodeState& state,
                                                            std::unique_ptr<TLFNFileStream>* created) {
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;
  const std::string allowedBefore = std::exchange(retryReplaces_, std::string());
  const platform::TPathRules& rules = platform::HostPathRules();
  // Without the stored folders only the file's own name reaches the disk.
  if (StoredPathClimbs(unzip_.recreateDirs_ ? entry.StoredPath() : entry.FileName(), rules)) {
    ReportSkip(skPathClimbs, EntryDestDir() + entry.FileName(), index);
    DropFromTotals();
    return std::nullopt;
  }
  std::string fName = EntryDestFile(index);
  const std::string builtName = fName;

  bool skip = false;
  if (unzip_.OnStartUnZip) unzip_.OnStartUnZip(unzip_, index, fName, skip);
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
  if (entry.Encrypted() && !unzip_.CheckPassword(index, state)) return std::nullopt;

  // Always asks nothing of the file, so its time need not be read. The retry of an
  // entry with another password finds the file its first try was allowed to replace.
  if (unzip_.overwriteMode_ != TUZOverwriteMode::Always && fName != allowedBefore && DestinationTime(fName) &&
      !OverwriteAllowed(index, fName)) {
    ReportSkip(skFileExists, fName, index);
    DropFromTotals();
    return std::nullopt;
  }
  return fName;
}

void TExtractionRun::UnZipEntryToFile(std::int32_t index, TDecodeState& state) {
  if (unzip_.currentEntry_->IsSymbolicLink()) {
    UnZipLinkEntry(index, state);
    return;
  }
  std::unique_ptr<TLFNFileStream> output;
  TOutputGuard guard(output);
  const std::optional<std::string> destination = EntryDestination(index, state, &output);
  if (!destination) return;
  const std::string& fName = *destination;
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;

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
  outcome_.ReplacingFile = written != fName;
  guard.Watch(written);

  // Any exception but the size guard's ends the run: a failed write, the archive's
  // premature end, a cancel. The file being written is incomplete then, and goes
  // as a file that fails its CRC does.
  bool ok = false;
  // A text entry reaches its file through the conversion of its line ends.
  std::optional<TTextOutput> text;
  if (TKestrelUnZip::ConvertsAsText(entry, unzip_.textMode_)) text.emplace(*output);
  TStream& target = text ? static_cast<TStream&>(*text) : *output;
  if (std::optional<TDecodedAhead> decoded = decodeAhead_ ? decodeAhead_->Take(index) : std::nullopt) {
    outcome_.DecodeResult =
        state.TakeDecoded(unzip_.DecodeEntryOf(entry), decoded->Bytes, decoded->Pieces, decoded->Crc, target);
    ok = true;
  } else {
    ok = unzip_.DecodeEntry(state, target);
  }
  // A stream that ended inside the entry gave only the start of its data.
  if (unzip_.stream_.Source && !unzip_.CompleteStreamedEntry(index))
    throw EFatalUnzipError("Premature end of file reached");
  // The window's last bytes reach the file only here; a failure to write them
  // would leave a short file behind a matching CRC.
  if (!output->Flush()) throw ECantWriteUCF("Cant write uncompressed file", platform::LastSystemError());
  if (ok) {
    // Every byte is in the file: the date and attributes go on through the open
    // handle, which spares opening the file again; closing and renaming change
    // neither.
    if (unzip_.timeRestore_ != trNone) StampEntryTime(output->File(), entry);
    // A new owner first: the change of owner clears a set-uid bit given before it.
    RestoreOwner(index, written, entry.Owner, &output->File());
    if (unzip_.retainAttributes_) ApplyEntryAttributes(output->File());
  }
  output.reset();
  if (!JudgeCrc(index, state.Crc(), fName, !outcome_.ReplacingFile)) {
    if (retryEntry_ && outcome_.ReplacingFile) retryReplaces_ = fName;
    return;
  }
  if (outcome_.ReplacingFile) {
    if (!platform::RenameFileOver(written, fName)) {
      guard.Discard();
      ReportSkip(skCreateFailed, fName, index);
      return;
    }
    if (unzip_.OnEndUnZip) unzip_.OnEndUnZip(unzip_, index, fName);
    ++fileCount_;
  }
  guard.Keep();
  if (zoneMark_) platform::WriteZoneIdentifier(fName, *zoneMark_);
  if (unzip_.stream_.Source) streamedFiles_.emplace_back(index, fName);
}

bool TExtractionRun::JudgeCrc(std::int32_t index, std::uint32_t crc, const std::string& fName, bool announce) {
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;
  // A decoder that failed has written less, or other bytes, than the entry holds,
  // whatever the CRC of what it wrote. An AE-2 entry has no CRC: its
  // authentication code, checked in the decoding, vouches for it.
  const bool crcMatches = crc == entry.CRC32 || (entry.AesEncrypted() && !entry.Aes.HasCrc());
  if (crcMatches && outcome_.DecodeResult == drDecoded) {
    if (!announce) return true;
    if (unzip_.OnEndUnZip) unzip_.OnEndUnZip(unzip_, index, fName);
    ++fileCount_;
    return true;
  }
  // An AES entry's password passed its verifier, and a wrong one that passes by
  // chance (one in 65,536) fails the authentication code: what fails after that
  // is damage, not the password.
  if (entry.Encrypted() && !entry.AesEncrypted()) {
    // With a password that passed the header check by chance (one in 256), the
    // CRC is where a wrong password shows.
    if (unzip_.OnBadPassword) {
      std::string newPassword = unzip_.password_;
      unzip_.OnBadPassword(unzip_, index, newPassword);
      if (newPassword != unzip_.password_) {
        unzip_.password_ = newPassword;
        retryEntry_ = true;
      }
    }
    if (!retryEntry_) ReportSkip(skBadPassword, entry.StoredPath(), index);
  } else if (unzip_.OnBadCRC) {
    unzip_.OnBadCRC(unzip_, crc, entry.CRC32, index);
  }
  return false;
}

bool TExtractionRun::OverwriteAllowed(std::int32_t index, std::string& fName) {
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;
  switch (unzip_.overwriteMode_) {
    case TUZOverwriteMode::Always:
      return true;
    case TUZOverwriteMode::Never:
      return false;
    case TUZOverwriteMode::Prompt: {
      if (unzip_.OnPromptForOverwrite) {
        bool overWriteIt = false;
        unzip_.OnPromptForOverwrite(unzip_, overWriteIt, index, fName);
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
      return unzip_.overwriteMode_ == TUZOverwriteMode::ifNewer ? *order > 0 : *order < 0;
    }
  }
  return false;
}

bool TExtractionRun::FolderHasLinks(const std::string& folder) {
  // Entries of one folder come in runs, and most folders hold many files: a folder
  // found free of links needs no second look (the extraction only ever adds real
  // folders below DestDir, and makes the archive's links last).
  if (verifiedFolders_.contains(folder)) return false;
  if (PathHasLinks(folder, destBase_.size())) return true;
  verifiedFolders_.insert(folder);
  return false;
}

std::unique_ptr<TLFNFileStream> TExtractionRun::CreateNewOutput(const std::string& fName) {
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
  return std::make_unique<TLFNFileStream>(std::move(file), fName, TKestrelUnZip::StreamBufferSize,
                                          unzip_.flushFilesOnClose_);
}

std::unique_ptr<TLFNFileStream> TExtractionRun::CreateOutput(const std::string& fName) {
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
  } else if ((*attributes & platform::faReadOnly) != 0 && !unzip_.replaceReadOnly_) {
    // A read-only file is not replaced, as on systems where even an
    // administrator cannot open one for writing; so the outcome does not depend
    // on who runs the extraction.
    platform::SetLastSystemError(platform::AccessDeniedError());
    return nullptr;
  }
  return CreateReplacement(fName);
}

std::unique_ptr<TLFNFileStream> TExtractionRun::CreateReplacement(const std::string& fName) {
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
      return std::make_unique<TLFNFileStream>(std::move(file), name, TKestrelUnZip::StreamBufferSize,
                                              unzip_.flushFilesOnClose_);
    const int error = platform::LastSystemError();
    const bool taken = platform::ReadAttributes(name) || platform::IsSymbolicLink(name);
    platform::SetLastSystemError(error);
    if (!taken) break;
  }
  return nullptr;
}

void TExtractionRun::FinishExtraction() {
  MakePendingLinks();
  FinishFolders();
}

void TExtractionRun::FinishFolders() {
  // The deepest first: a folder's path sorts after its parent's.
  std::sort(folderTimes_.begin(), folderTimes_.end(),
            [](const TFolderTime& a, const TFolderTime& b) { return a.Path > b.Path; });
  for (TFolderTime& folder : folderTimes_) {
    // From a stream a folder's bits come with the central directory, after it.
    const TSortedZip* list = unzip_.directoryList_.get();
    if (unzip_.stream_.Source && unzip_.stream_.Check.DirectorySeen && folder.Index >= 0 && list != nullptr &&
        folder.Index < list->Count())
      folder.Permissions = EntryPermissions(*list->Items(folder.Index), unzip_.keepSpecialBits_);
    RestoreOwner(folder.Index, folder.Path, folder.Owner, nullptr);
    if (unzip_.exactModes_ && unzip_.retainAttributes_)
      platform::SetPathPermissions(folder.Path, folder.Permissions.Mode, folder.Permissions.ReadOnly);
    if (unzip_.timeRestore_ == trAll) StampPathTime(folder.Path, folder.Time, folder.DosTime);
  }
  folderTimes_.clear();
}

void TExtractionRun::RestoreOwner(std::int32_t index, const std::string& path,
                                  const std::optional<platform::TFileOwner>& owner, platform::TFile* file) const {
  if (!unzip_.restoreOwners_ || !owner) return;
  if (file != nullptr ? file->SetOwner(*owner) : platform::SetPathOwner(path, *owner)) return;
  if (unzip_.OnOwnerNotSet) unzip_.OnOwnerNotSet(unzip_, index, path, *owner);
}

std::optional<std::uint32_t> TExtractionRun::EntryUnixMode() const {
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;
  // Made on Unix: the high 16 bits are the file's mode; only its permission
  // bits are taken, never setuid, setgid, sticky or a link type.
  if (entry.HasUnixMode()) return (entry.ExternalAttributes >> 16) & 0777;
  return std::nullopt;
}

std::uint32_t TExtractionRun::CreationPermissions() const {
  // The bits ApplyEntryAttributes will give the file, so that it seldom has to.
  if (!unzip_.retainAttributes_) return 0666;
  if (unzip_.exactModes_) {
    // The owner writes the file first, whatever its bits will be.
    const TEntryPermissions permissions = PermissionsOf(*unzip_.currentEntry_);
    return permissions.Mode ? (*permissions.Mode | 0600) & 0777 : permissions.Defaults;
  }
  const std::optional<std::uint32_t> unixMode = EntryUnixMode();
  std::uint32_t mode = unixMode ? (*unixMode | 0600) : 0666;
  if ((unzip_.currentEntry_->ExternalAttributes & platform::faReadOnly) != 0) mode &= ~std::uint32_t{0222};
  return mode;
}

TEntryPermissions TExtractionRun::PermissionsOf(const TZipHeaderInfo& entry) const {
  // A local header holds no attributes: read from a stream, an entry gets the
  // system's defaults until its central header tells more.
  if (unzip_.stream_.Source) return {};
  return EntryPermissions(entry, unzip_.keepSpecialBits_);
}

void TExtractionRun::ApplyEntryAttributes(platform::TFile& file) const {
  if (unzip_.exactModes_) {
    const TEntryPermissions permissions = PermissionsOf(*unzip_.currentEntry_);
    if (permissions.Mode) {
      file.SetMode(*permissions.Mode);
      return;
    }
    file.ApplyAttributes(permissions.ReadOnly ? std::uint32_t{platform::faReadOnly} : std::uint32_t{0}, std::nullopt);
    return;
  }
  // The low byte holds the MS-DOS attributes, of which the read-only bit counts.
  file.ApplyAttributes(unzip_.currentEntry_->ExternalAttributes & 0xFF, EntryUnixMode());
}

}  // namespace kestrel
