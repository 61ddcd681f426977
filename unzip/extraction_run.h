#pragma once
// TExtractionRun, one UnZip of TKestrelUnZip: made for each call, begun alike by
// both doors (an archive file, extraction_run.cpp; a stream read once,
// zip_stream.cpp), it holds everything that lives for one extraction: the totals
// and counts, the entry being retried, where DestDir's own part ends, the folders
// found free of links, the links and folder times kept for the end, the files
// written from a stream. The component keeps its settings, its events and the open
// archive with its directory; every event still names the component as Sender.
//
// What callers read after the run (BtsDone, DecodeResult, DecodeDetail,
// ReplacingFile, EntryDamage) is the run's TRunOutcome: the component keeps the
// last run alive until the next one begins, which takes that outcome over, so
// that each value stays as the last run that set it left it (a run from a stream
// finds no damage, and keeps what the run before found).

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/decode_result.h"
#include "unzip/entry_permissions.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel {

class TDecodeState;
class TDecodeAhead;
class TStreamSource;

/// What an extraction leaves for callers to read, during the run and after it.
struct TRunOutcome {
  /// Uncompressed bytes written so far in the run.
  std::int64_t BtsDone = 0;
  /// How the decoder ended the entry decoded last, in its own words too.
  TDecodeResult DecodeResult = drDecoded;
  std::string DecodeDetail;
  /// The entry being written replaces a file that stood at its name.
  bool ReplacingFile = false;
  /// The damage of each entry of ZipInfo, found before anything was written.
  std::vector<TEntryDamage> Damage;
};

/// True when a part of path after its first baseLength bytes is a symbolic link.
/// The archive never makes links, so one found there was put in place by someone
/// else, and writing through it could land anywhere.
bool PathHasLinks(const std::string& path, std::size_t baseLength);
/// The last-write time of an existing destination; nothing when it cannot be read
/// (then it is taken as absent).
std::optional<platform::TFileTime> DestinationTime(const std::string& fName);
/// The entry's time against the existing file's: negative when the entry is older;
/// nothing when either has no calendar form.
std::optional<int> CompareEntryToFile(const TZipHeaderInfo& entry, platform::TFileTime fileTime);
/// Stamps a folder or a link, by its path, with its entry's exact time where the
/// file system takes it, else with its DOS time.
void StampPathTime(const std::string& path, const std::optional<platform::TFileTime>& exact, std::uint32_t dosTime);

/// A symbolic link of a run, made once every file is written.
struct TPendingLink {
  std::int32_t Index;
  std::string FName;
  std::string Target;
  std::optional<platform::TFileTime> Time;
  std::uint32_t DosTime;
  /// Written as a file first (read from a stream, before its mode was known): its
  /// event and count came then, and a refusal takes the count back.
  bool Counted = false;
  /// The owner its entry stores, given to the link itself under RestoreOwners.
  std::optional<platform::TFileOwner> Owner;
};

class TExtractionRun {
 public:
  /// The longest link target kept: longer ones name nothing a system can follow.
  static constexpr std::uint64_t LongestLinkTarget = 4095;

  /// A run of unzip that starts from what the run before it left (carried).
  TExtractionRun(TKestrelUnZip& unzip, TRunOutcome carried);
  ~TExtractionRun();
  TExtractionRun(const TExtractionRun&) = delete;
  TExtractionRun& operator=(const TExtractionRun&) = delete;

  /// The door of an archive file, opened with its directory: extracts the selected
  /// entries and returns the number done (see TKestrelUnZip::UnZip).
  std::int32_t UnZipSelected();
  /// The door of InputStream: extracts the entries in one pass as they arrive.
  std::int32_t UnZipStream();

  TRunOutcome& Outcome() { return outcome_; }
  const TRunOutcome& Outcome() const { return outcome_; }

  // ---- For the component's decoding routines and the decoding frame --------------
  /// Fires OnSkippingFile with the run's Retry variable.
  void ReportSkip(TSkipReason reason, const std::string& fName, std::int32_t index);
  /// Takes CurrentEntry's size out of TotalBytes, the denominator of the total
  /// percentage.
  void DropFromTotals();
  /// The verdict on CurrentEntry's CRC and its decoder's result: OnEndUnZip and a
  /// count when the CRC matches (an AE-2 entry has none) and the decoder succeeded;
  /// otherwise OnBadPassword (a new password asks for a retry of the entry) or
  /// OnSkippingFile for an entry of the traditional cipher, OnBadCRC for another (an
  /// AES entry's password passed its verifier already). False when it failed.
  /// With announce false a success is only returned: its event and count come
  /// later (a link, once it is made).
  bool JudgeCrc(std::int32_t index, std::uint32_t crc, const std::string& fName, bool announce = true);
  std::int64_t AddBytesDone(std::int32_t count) { return outcome_.BtsDone += count; }
  std::int64_t TotalBytes() const { return totalBytes_; }

 private:
  friend class TKestrelUnZip;  // LinkTarget's own decoding keeps the run's counters

  /// Begins the run as both doors do: nothing done yet, no total, the destination
  /// paths checked for links below DestDir's own part.
  void Begin();
  /// The entries the file door visits (the selected ones; with DoAll folder
  /// entries too, which then count without being made), with the count and total
  /// that OnStartUnZipInfo hears.
  std::vector<bool> SelectVisits(std::int32_t& numFiles);
  /// Extracts the visited entries in their order, with workers decoding ahead when
  /// Threads allows, then makes the links and stamps the folders.
  void VisitEntries(const std::vector<bool>& visit, TDecodeState& state);
  /// Queues the entries from index from on that workers may decode ahead (files to
  /// visit, undamaged, neither links nor encrypted nor large) while the queue has
  /// room; returns the index to go on from.
  std::int32_t OfferAhead(TDecodeAhead& ahead, const std::vector<bool>& visit, std::int32_t from);
  /// Extracts entry index of ZipInfo (through CurrentEntry): into the caller's
  /// OutputStream when one is set, else into its file under DestDir, or makes its
  /// folder. Per-entry problems are reported through the events and leave the
  /// entry out; retryEntry_ is set when a new password asks for another try; the
  /// archive's own failures (its premature end, a failed write, a cancel) leave as
  /// exceptions, with no partial file left behind.
  void UnZipEntry(std::int32_t index, TDecodeState& state);
  /// The destination folder of CurrentEntry, ending with the host separator.
  std::string EntryDestDir() const;
  /// The file CurrentEntry (entry index) goes to. On Windows a name it reserves
  /// or refuses is made safe (WindowsSafeStoredPath), and OnRenamedFile says so.
  std::string EntryDestFile(std::int32_t index) const;
  /// Makes CurrentEntry's folder (a folder entry) below DestDir and counts it;
  /// fires no event.
  void MakeFolderEntry(std::int32_t index);
  /// Where CurrentEntry's file goes, after the checks that may leave it out, each
  /// reported: a path that climbs out or leads through a link, OnStartUnZip, the
  /// password, an existing file. Nothing when it is left out. With created given,
  /// a file that is new is created at once, and handed back open there; otherwise
  /// the caller creates it. A retry of the entry with another password replaces
  /// the file its first try was allowed to, without asking again.
  std::optional<std::string> EntryDestination(std::int32_t index, TDecodeState& state,
                                              std::unique_ptr<TLFNFileStream>* created);
  /// Writes CurrentEntry's file where EntryDestination says, stamps its date and
  /// attributes, and judges its CRC. A new file that fails is removed; a file that
  /// replaces another is written beside it and renamed over it only when it checks
  /// out, so that any failure leaves the old one as it was.
  void UnZipEntryToFile(std::int32_t index, TDecodeState& state);
  /// Whether an existing destination may be replaced under OverwriteMode.
  bool OverwriteAllowed(std::int32_t index, std::string& fName);
  /// Creates the output file: in place where nothing stands (as CreateNewOutput);
  /// where a file stands, a temporary file beside it (the stream's FileName) for
  /// the caller to rename over it. A folder is never replaced, a read-only file
  /// only when ReplaceReadOnly allows it. Null when it cannot be created (the
  /// system's last error code says why).
  std::unique_ptr<TLFNFileStream> CreateOutput(const std::string& fName);
  /// Creates CurrentEntry's file where nothing stands yet, its folders too; null
  /// when something stands there or the creation fails otherwise.
  std::unique_ptr<TLFNFileStream> CreateNewOutput(const std::string& fName);
  /// A new file beside fName, under a hidden name of its own, that will replace it;
  /// null when none can be created.
  std::unique_ptr<TLFNFileStream> CreateReplacement(const std::string& fName);
  /// Gives an extracted file the entry's stored attributes.
  void ApplyEntryAttributes(platform::TFile& file) const;
  /// The bits an entry gets under ExactModes (the defaults from a stream's local
  /// header).
  TEntryPermissions PermissionsOf(const TZipHeaderInfo& entry) const;
  /// The permission bits of a Unix-made entry; nothing for another.
  std::optional<std::uint32_t> EntryUnixMode() const;
  /// Gives what stands at path (an open file, else a link or folder by its path)
  /// the owner CurrentEntry stores, under RestoreOwners; a refusal is reported.
  void RestoreOwner(std::int32_t index, const std::string& path, const std::optional<platform::TFileOwner>& owner,
                    platform::TFile* file) const;
  /// Gives the folders made for folder entries their owners, bits and times,
  /// the deepest first: a parent's bits may close it to its children's changes.
  void FinishFolders();
  /// The permission bits a new file of CurrentEntry is created with.
  std::uint32_t CreationPermissions() const;
  /// True when a folder of an archive-made name, below DestDir, is a link.
  bool FolderHasLinks(const std::string& folder);
  /// What comes once every file is written: the links, then the folders' times
  /// (making a link inside a folder would change its time).
  void FinishExtraction();

  // ---- Links (extraction_links.cpp) ------------------------------------------------
  /// Decodes a symbolic link entry's target (its data) after the same checks as a
  /// file's, and keeps it for MakePendingLinks.
  void UnZipLinkEntry(std::int32_t index, TDecodeState& state);
  /// From a stream, the files that the central directory shows to be links: each
  /// is taken back and kept as a link, its data as the target.
  void TakeBackStreamedLinks();
  /// Makes the links kept in this run, each after its checks.
  void MakePendingLinks();

  // ---- From a stream (zip_stream.cpp) -----------------------------------------------
  /// The extraction of one entry as it arrives (entry, at index); false when the
  /// stream ends inside it, and nothing follows.
  bool UnZipStreamedEntry(TZipHeaderInfo& entry, std::int32_t index, TStreamSource& source, TEntrySelection& selection,
                          TDecodeState& state);
  /// Under ExactModes, the files written from a stream get the bits of their
  /// central headers, which arrive after every entry's data.
  void ApplyStreamedModes();
  /// Where the central directory names an entry other than its local header did
  /// (the Unicode path field only there, the host system's character set), the
  /// central name wins: the file or folder written under the local name moves to
  /// the central one, after the same checks. A name that climbs out, leads through
  /// a link or names nothing takes the entry back (its file removed, its count
  /// undone, the refusal reported); where something stands at the new name
  /// already, or the move fails, the file keeps its name and the stream check
  /// counts a disagreement.
  void RenameStreamedEntries();

  TKestrelUnZip& unzip_;
  TRunOutcome outcome_;
  std::int64_t totalBytes_ = 0;
  std::int32_t fileCount_ = 0;
  /// Set when the same entry must be extracted again with a new password.
  bool retryEntry_ = false;
  /// The file a retried entry's first try was allowed to replace.
  std::string retryReplaces_;
  /// The random part of replacements' temporary names, seeded at the first.
  std::optional<std::minstd_rand> temporaryNames_;
  /// The Retry variable handed to OnSkippingFile; its value has no effect.
  bool skipRetry_ = false;
  /// Where DestDir's own part of a destination path ends: the folders below it
  /// are the archive's, and are never followed through a link.
  std::string destBase_;
  /// The workers of this run, when it has some.
  TDecodeAhead* decodeAhead_ = nullptr;
  /// The folder parts of archive-made names found free of links in this run.
  std::unordered_set<std::string> verifiedFolders_;
  /// The symbolic links of this run, made once every file is written: no entry is
  /// ever written through a link that the archive made.
  std::vector<TPendingLink> pendingLinks_;
  /// The files written from a stream, in the order of their indexes: the central
  /// directory at its end may show that one is a link, or name it otherwise.
  std::vector<std::pair<std::int32_t, std::string>> streamedFiles_;
  /// The folder entries made in this run, given their times at its end, with
  /// their owners and permission bits where those are restored.
  struct TFolderTime {
    std::string Path;
    std::optional<platform::TFileTime> Time;
    std::uint32_t DosTime;
    std::int32_t Index = -1;
    std::optional<platform::TFileOwner> Owner;
    TEntryPermissions Permissions;
  };
  std::vector<TFolderTime> folderTimes_;
  /// The archive's Mark of the Web (platform::ReadZoneIdentifier), for each file
  /// extracted; nothing when it has none.
  std::optional<std::string> zoneMark_;
};

}  // namespace kestrel
