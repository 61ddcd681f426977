#pragma once
// TKestrelUnZip, the zip extraction component: its settings with their defaults and
// setters, its enumerations and events, the per-entry accessors, and the reading of
// the archive directory (zip_directory.cpp).

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/decode_result.h"
#include "unzip/lfn_file_stream.h"
#include "unzip/sorted_zip.h"
#include "unzip/stream_source.h"
#include "unzip/unzip_errors.h"
#include "unzip/zip_records.h"

namespace kestrel {

/// What to do when an entry's destination file exists.
enum class TUZOverwriteMode : std::uint8_t { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };

/// How an input without an end-of-central-directory record is taken.
enum TIncompleteZipMode : std::uint8_t {
  izAssumeMulti = 0,    ///< a volume of a multi-volume set: EIncompleteZip
  izAssumeBad = 1,      ///< a damaged archive: rebuild the directory from the local headers
  izAssumeNotAZip = 2,  ///< not an archive at all: ENotAZipFile
};

/// Why an entry was skipped.
enum TSkipReason : std::uint8_t {
  skBadPassword = 0,
  skFileExists = 1,
  skNotReported = 2,      ///< a value this component never reports
  skCreateFailed = 3,     ///< the system refused the file: its last error code says why
  skPathClimbs = 4,       ///< the stored path climbs out of DestDir with ".."; refused
  skPathThroughLink = 5,  ///< the path leads through a symbolic link below DestDir; refused
  skOverlaps = 6,         ///< its bytes run into another entry or the central directory (EntryDamage says which)
  skCutShort = 7,         ///< the archive ends inside its bytes
  /// Read from a stream, its sizes follow its data, and it is not deflated: where
  /// such data ends cannot be told in a stream (a stored entry may hold anything).
  skStreamedSize = 8,
  /// A symbolic link whose target is absolute, climbs out of DestDir (or back out
  /// of another link), or is longer than any path: refused, nothing made.
  skLinkTarget = 9,
  /// A symbolic link where a folder stands: refused, the folder stays.
  skLinkOverFolder = 10,
  /// The system made no symbolic link (on Windows without developer mode or the
  /// privilege): its last error code says why; nothing was written for it.
  skLinkFailed = 11,
  /// The entry has no name (TZipHeaderInfo::Nameless: its stored name is empty,
  /// or empty up to its first NUL): refused, nothing made. FName is empty; the
  /// entry's RawName tells what was stored.
  skBadName = 12,
};

/// What the end of an archive read from a stream said of the entries before it.
struct TStreamCheck {
  bool DirectorySeen = false;  ///< the central directory arrived
  /// Entries that it does not confirm (name, CRC, sizes, method and encryption at
  /// their local header offset), central headers that name no entry read,
  /// stretches of damage passed over between entries, and names it gives that
  /// the files already written could not take.
  std::int32_t Disagreements = 0;
};

/// Why an entry that the directory lists cannot come out whole.
struct TEntryDamage {
  /// skOverlaps or skCutShort; skNotReported for an entry that is whole.
  TSkipReason Reason = skNotReported;
  /// The entry whose bytes it runs into (or shares a local header with); null for
  /// the central directory and the end of the archive.
  const TZipHeaderInfo* Other = nullptr;
};

/// The selection rule of an extraction, for one list of patterns: a pattern
/// matches an entry when WildcardMatch takes it for the entry's stored path, both
/// lower-cased, with the host's separator standing for the stored backslash. A
/// caller that lists entries selects them as an extraction would.
class TEntryPatterns {
 public:
  explicit TEntryPatterns(const std::vector<std::string>& patterns);
  /// True when one of the patterns matches the entry.
  bool MatchAny(const TZipHeaderInfo& entry) const;
  /// True when pattern i (in the order given) matches the entry.
  bool Match(std::size_t i, const TZipHeaderInfo& entry) const;
  std::size_t Count() const { return patterns_.size(); }

 private:
  std::vector<std::string> patterns_;
};

class TKestrelUnZip;
class TDecodeState;
struct TDecodeEntry;
class TDecodeAhead;

// Events. An unassigned event is not called; reference parameters are the ones a
// handler may change.
using TStartUnzipInfo =
    std::function<void(TKestrelUnZip& Sender, std::int32_t NumFiles, std::int64_t TotalBytes, bool& StopNow)>;
using TStartUnZipEvent =
    std::function<void(TKestrelUnZip& Sender, std::int32_t FileIndex, std::string& FName, bool& Skip)>;
using TEndUnZipEvent = std::function<void(TKestrelUnZip& Sender, std::int32_t FileIndex, const std::string& FName)>;
using TFilePercentDone = std::function<void(TKestrelUnZip& Sender, std::int32_t Percent)>;
using TTotalPercentDone = std::function<void(TKestrelUnZip& Sender, std::int32_t Percent)>;
using TPromptForOverwrite =
    std::function<void(TKestrelUnZip& Sender, bool& OverWriteIt, std::int32_t FileIndex, std::string& FName)>;
using TSkippingFile = std::function<void(TKestrelUnZip& Sender, TSkipReason Reason, const std::string& FName,
                                         std::int32_t FileIndex, bool& Retry)>;
using TBadPassword = std::function<void(TKestrelUnZip& Sender, std::int32_t FileIndex, std::string& NewPassword)>;
using TBadCRC =
    std::function<void(TKestrelUnZip& Sender, std::uint32_t CalcCRC, std::uint32_t StoredCRC, std::int32_t FileIndex)>;
using TIncompleteZip = std::function<void(TKestrelUnZip& Sender, TIncompleteZipMode& IncompleteMode)>;
using TGetNextDisk = std::function<void(TKestrelUnZip& Sender, std::int32_t NextDisk, std::string& FName)>;
using TUnZipComplete = std::function<void(TKestrelUnZip& Sender, std::int32_t FileCount)>;
using TGetNextBuffer = std::function<void(TKestrelUnZip& Sender, char*& Buffer, const std::string& FName,
                                          std::int32_t AmountUsed, std::int32_t BufferNum, bool& Quit)>;
using TDecryptEvent =
    std::function<void(TKestrelUnZip& Sender, std::uint8_t* Buffer, std::int32_t Length, const std::string& Password)>;
using TReadZip = std::function<void(TKestrelUnZip& Sender, TZipHeaderInfo& Info)>;

/// The zip extraction component. It reads an archive's directory lazily, when an
/// operation first needs it, and keeps it while the archive file is unchanged.
class TKestrelUnZip {
 public:
  /// The version number that ThisVersion gives: handlers written for this
  /// interface may ask for it, and it never changes.
  static constexpr std::int32_t VersionNumber = 223;
  /// The window of every file stream the component opens, but the archive's.
  static constexpr std::int32_t StreamBufferSize = 8192;
  /// The archive's window: entries follow each other in it, so one read serves
  /// the headers and data of many small entries, and the step back to a local
  /// header after a directory read lands inside it.
  static constexpr std::int32_t ArchiveWindowSize = 65536;

  TKestrelUnZip();
  ~TKestrelUnZip();
  TKestrelUnZip(const TKestrelUnZip&) = delete;
  TKestrelUnZip& operator=(const TKestrelUnZip&) = delete;

  /// Copies the settings and the handlers (not OnReadZip) of another component;
  /// ZipName and DestDir are copied as they are, without their setters. A caller's
  /// OutputStream stays the caller's: it is not copied.
  void Assign(const TKestrelUnZip& source);

  // ---- Settings and state ----------------------------------------------------------

  /// Uncompressed bytes written so far in this extraction.
  std::int64_t BtsDone() const { return btsDone_; }
  /// The entry list callers index, in SortMode order; null before a directory is read.
  TSortedZip* ZipInfo() const { return sortedView_ ? sortedView_.get() : directoryList_.get(); }
  std::int32_t ThisVersion() const { return thisVersion_; }
  /// The version cannot be set: code written for this interface may still try,
  /// and keeps compiling, but the value stays.
  void SetThisVersion(std::int32_t) { thisVersion_ = VersionNumber; }

  const std::string& ZipName() const { return zipName_; }
  /// Drops the directory and closes the archive when the name changes; a name
  /// ending in "?" asks for the archive in a file-open dialog (cancelled on a
  /// console: EUserCanceled "User canceled setting zip file name."), unless a file
  /// of that very name exists (where names may hold "?").
  void SetZipName(const std::string& value);

  const std::string& DestDir() const { return destDir_; }
  /// "?" asks for a folder (cancelled on a console: EUserCanceled); one trailing
  /// backslash is removed.
  void SetDestDir(const std::string& value);
  const std::string& RootDir() const { return rootDir_; }
  /// Empty clears it; otherwise a backslash is appended when missing.
  void SetRootDir(const std::string& value);

  TZipSortMode SortMode() const { return sortMode_; }
  /// Only stores the mode; it takes effect at the next directory read.
  void SetSortMode(TZipSortMode value) { sortMode_ = value; }
  bool RecreateDirs() const { return recreateDirs_; }
  void SetRecreateDirs(bool value) { recreateDirs_ = value; }
  TUZOverwriteMode OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(TUZOverwriteMode value) { overwriteMode_ = value; }
  /// The selection patterns.
  std::vector<std::string>& FilesList() { return filesList_; }
  const std::vector<std::string>& FilesList() const { return filesList_; }
  void SetFilesList(const std::vector<std::string>& value) { filesList_ = value; }
  /// Patterns of entries to leave out, whatever FilesList and DoAll select;
  /// cleared with FilesList.
  std::vector<std::string>& ExcludeList() { return excludeList_; }
  const std::vector<std::string>& ExcludeList() const { return excludeList_; }
  void SetExcludeList(const std::vector<std::string>& value) { excludeList_ = value; }
  bool DoAll() const { return doAll_; }
  void SetDoAll(bool value) { doAll_ = value; }
  TIncompleteZipMode IncompleteZipMode() const { return incompleteZipMode_; }
  void SetIncompleteZipMode(TIncompleteZipMode value) { incompleteZipMode_ = value; }
  bool KeepZipOpen() const { return keepZipOpen_; }
  void SetKeepZipOpen(bool value) { keepZipOpen_ = value; }
  bool DoProcessMessages() const { return doProcessMessages_; }
  void SetDoProcessMessages(bool value) { doProcessMessages_ = value; }
  bool RetainAttributes() const { return retainAttributes_; }
  void SetRetainAttributes(bool value) { retainAttributes_ = value; }
  bool ReplaceReadOnly() const { return replaceReadOnly_; }
  void SetReplaceReadOnly(bool value) { replaceReadOnly_ = value; }
  bool FlushFilesOnClose() const { return flushFilesOnClose_; }
  void SetFlushFilesOnClose(bool value) { flushFilesOnClose_ = value; }
  /// How many threads an extraction to files may use (at least 1, the default):
  /// with more, workers decode entries ahead of their turn, while the events, the
  /// files and every result stay as with one. An archive read from a stream, a set
  /// of volumes and the output to OutputStream use one; so does an encrypted,
  /// link or large entry (decoded in its turn).
  std::int32_t Threads() const { return threads_; }
  void SetThreads(std::int32_t value) { threads_ = std::clamp<std::int32_t>(value, 1, 64); }
  bool OEMConvert() const { return oemConvert_; }
  void SetOEMConvert(bool value);
  /// The character sets of stored names without the UTF-8 flag (empty: the
  /// default reading); a Unicode path field still wins over them. A change drops
  /// a directory read under the old sets, to be read again when next needed.
  const TNameCharsets& NameCharsets() const { return nameCharsets_; }
  void SetNameCharsets(const TNameCharsets& value);

  TStartUnzipInfo OnStartUnZipInfo;
  TFilePercentDone OnFilePercentDone;
  TTotalPercentDone OnTotalPercentDone;
  TStartUnZipEvent OnStartUnZip;
  TEndUnZipEvent OnEndUnZip;
  TPromptForOverwrite OnPromptForOverwrite;
  TSkippingFile OnSkippingFile;
  TBadPassword OnBadPassword;
  TBadCRC OnBadCRC;
  TIncompleteZip OnInCompleteZip;
  /// Assigned at creation to the built-in next-disk handler.
  TGetNextDisk OnGetNextDisk;
  TUnZipComplete OnUnZipComplete;
  TGetNextBuffer OnGetNextBuffer;
  /// Stands in for the traditional cipher on the refilled input of a compressed
  /// entry; WinZip AES entries never come here.
  TDecryptEvent OnDecrypt;
  /// Kept so that handlers written for this interface keep compiling: no operation
  /// here hands an entry over while reading, so it is never called, and Assign
  /// leaves it alone.
  TReadZip OnReadZip;

  // ---- Multi-volume settings -------------------------------------------------------

  bool VerifyDiskLabels() const { return verifyDiskLabels_; }
  void SetVerifyDiskLabels(bool value) { verifyDiskLabels_ = value; }
  /// 0 single archive, 1 split across removable disks, 2 split across numbered files.
  std::uint8_t SpanMode() const { return spanMode_; }
  void SetSpanMode(std::uint8_t value) { spanMode_ = value; }

  /// A caller may set this to stop the rebuild search at its next message pump.
  bool CancelRequested = false;

  // ---- Extraction (extraction.cpp) ------------------------------------------------

  /// Extracts the selected entries (DoAll, or the FilesList patterns) under DestDir
  /// and returns the number of entries done. Per-entry problems are reported
  /// through the events and skip the entry; failures of the archive as a whole
  /// leave as exceptions (ENotAZipFile, EBadZipFile, EIncompleteZip, ...).
  /// FilesList is cleared once the directory is loaded.
  std::int32_t UnZip();
  /// How the decoder ended the entry decoded last: drDecoded, or why it failed,
  /// with the decoder's own words (a library's message) in DecodeDetail. Read in
  /// OnBadCRC and OnSkippingFile, it tells damaged data from a mere CRC mismatch.
  /// An entry whose decoder failed fails even when its CRC matches.
  TDecodeResult DecodeResult() const { return decodeResult_; }
  const std::string& DecodeDetail() const { return decodeDetail_; }
  /// Read in the verdict's events (OnBadCRC, OnBadPassword, OnSkippingFile): true
  /// when the entry's file replaces one that stood at its name. That file stays as
  /// it was unless the entry checks out; a new file that fails is removed.
  bool ReplacingFile() const { return replacingFile_; }
  /// The password for encrypted entries; empty by default.
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  /// Where the entries go instead of files, or null (the default: files under
  /// DestDir). When set, every selected file entry is decoded into this stream in
  /// turn: no folder or file is made, no destination is checked or compared, and
  /// the entry's name reaches the events as its stored path. Folder entries are
  /// passed over. Decoding into a stream that drops the bytes tests the entries.
  TStream* OutputStream() const { return outputStream_; }
  void SetOutputStream(TStream* value) { outputStream_ = value; }
  /// The archive as a stream that is read once, front to back (standard input, a
  /// pipe), instead of ZipName; null (the default) reads ZipName. UnZip then
  /// extracts the entries in one pass by their local headers, as they arrive
  /// (OnStartUnZipInfo hears -1 for the count and the total, which are not known
  /// yet; no new password can be tried on an entry that has passed), and
  /// LoadZipDirectory reads the stream through for a listing: either once. An
  /// entry whose sizes follow its data ends at its data descriptor when it is
  /// deflated, and is left out (skStreamedSize) otherwise. The central directory,
  /// when it arrives, completes the entries read and is checked against them
  /// (StreamCheck). The stream stays the caller's.
  TStream* InputStream() const { return inputStream_; }
  void SetInputStream(TStream* value);
  /// What the central directory of a streamed archive said of its entries.
  const TStreamCheck& StreamCheck() const { return streamCheck_; }
  /// The entry's date-time against the last-write time of the file fName, as the
  /// overwrite modes ifNewer and ifOlder compare them: negative when the entry is
  /// older, 0 when both are the same, positive when newer; nothing when the file
  /// cannot be read or either time has no calendar form.
  std::optional<int> CompareWithFile(std::int32_t index, const std::string& fName);

  // ---- Entries -----------------------------------------------------------------------

  /// Entries in the directory; 0 when none is loaded.
  std::int32_t EntryCount() const { return directoryList_ ? directoryList_->Count() : 0; }
  /// A fresh entry that takes the component's OEMConvert.
  std::unique_ptr<TZipHeaderInfo> NewEntry() const;
  /// The entry's name without its folder. EListError "Index N is out of range".
  std::string FileName(std::int32_t index);
  /// The entry's comment, loaded from the archive on first use; empty without one.
  std::string FileComment(std::int32_t index);
  /// Replaces an entry's comment and marks the directory as modified.
  void SetFileComment(std::int32_t index, const std::string& value);
  /// The archive comment, loaded on first use.
  std::string ZipComment();
  void SetZipComment(const std::string& value);
  /// The end-of-central-directory record of the loaded archive.
  const TEndCentral& EndCentral() const { return *endCentral_; }
  /// True when the directory was rebuilt from the local headers.
  bool Rebuilt() const { return rebuilt_; }
  /// Of a directory rebuilt from the local headers: the entry that the end of the
  /// archive cuts into (its data or its data descriptor does not end before it),
  /// or null. It is the last entry found, and an UnZip leaves it out (skCutShort).
  const TZipHeaderInfo* CutShortEntry() const { return cutShortEntry_; }
  /// Bytes that stand before the archive without its offsets counting them (a
  /// self-extractor's program, a browser extension's header): the central
  /// directory was found that many bytes past where the end record says, just in
  /// front of the end records, and the first entry's local header as far past
  /// where the directory says. Every offset of the directory is moved by it; 0
  /// when the offsets are right as they are (or the directory was rebuilt).
  std::int64_t PrependedBytes() const { return prependedBytes_; }
  /// The target of a symbolic link entry, decoded from its data, for a listing;
  /// nothing for another entry, an encrypted or damaged one, or an archive read
  /// from a stream (its data has passed). Fires no event.
  std::optional<std::string> LinkTarget(std::int32_t index);
  /// What keeps entry index from coming out whole, as the last UnZip found before
  /// it wrote anything; a whole entry (or any entry before an UnZip) has none.
  TEntryDamage EntryDamage(std::int32_t index) const;

  // ---- The archive and its directory (zip_directory.cpp) -------------------------

  /// Reads the directory for an extraction or a listing: opens the archive and
  /// reads it, retrying after EIncompleteZip while OnInCompleteZip is assigned, and
  /// closes it again. Any other failure resets the archive state and propagates.
  void LoadZipDirectory();
  /// Opens ZipName when it is not open and reads the directory when none is loaded
  /// or the file changed since.
  void OpenZip();
  /// Closes the archive unless KeepZipOpen is set. The directory stays.
  void CloseZip();
  /// Closes the archive, drops the directory and empties ZipName.
  void ResetZip();
  /// Reads the directory of the open archive into DirectoryList and builds
  /// ZipInfo: from the central directory that the end records name (or the .zfc
  /// companion of a set), or, without one, as IncompleteZipMode says (rebuilt from
  /// the local headers, or ENotAZipFile, or EIncompleteZip). A central directory
  /// that cannot be read is rebuilt from the local headers too; EBadZipFile when
  /// that finds nothing. Any previous directory is dropped first.
  void ReadZip();
  /// Rebuilds the directory from the local headers; false when none was found or a
  /// rebuild was done already in this read.
  bool RebuildFromLocalHeaders();
  /// Builds ZipInfo for a sort mode and makes it SortMode.
  void SortDirectory(TZipSortMode mode);
  /// Opens volume n (1-based) of a multi-volume set and makes it the archive.
  void OpenVolume(std::int32_t n);

  /// The open archive, or null.
  TLFNFileStream* ArchiveStream() const { return archiveStream_.get(); }

 private:
  // ---- The extraction driver (extraction.cpp) ---------------------------------
  class TDriverHost;
  std::int32_t UnZipSelected();
  /// Finds, before anything is written, the entries whose bytes (local header
  /// through data) run into another entry's local header or into the central
  /// directory, of the entries that share one local header all but the one it
  /// names (or the first), and those that the end of the archive cuts short.
  /// Fills damage_, by the index of ZipInfo.
  void FindDamagedEntries();
  /// The destination folder of CurrentEntry, ending with the host separator.
  std::string EntryDestDir() const;
  /// Extracts entry index of ZipInfo (through CurrentEntry): into the caller's
  /// OutputStream when one is set, else into its file under DestDir, or makes its
  /// folder. Per-entry problems are reported through the events and leave the
  /// entry out; RetryEntry is set when a new password asks for another try; the
  /// archive's own failures (its premature end, a failed write, a cancel) leave
  /// as exceptions, with no partial file left behind.
  void UnZipEntry(std::int32_t index, TDecodeState& state);
  /// Reads CurrentEntry's local header (30 bytes) into localHeader, opening its
  /// volume of a set, and leaves the archive at the entry's data.
  void ReadEntryLocalHeader(std::uint8_t* localHeader);
  /// Decodes CurrentEntry into the caller's OutputStream, after OnStartUnZip and
  /// the password check, and judges its CRC.
  void UnZipEntryToStream(std::int32_t index, TDecodeState& state, const std::uint8_t* localHeader);
  /// Makes CurrentEntry's folder (a folder entry) below DestDir and counts it;
  /// fires no event.
  void MakeFolderEntry();
  /// Where CurrentEntry's file goes, after the checks that may leave it out, each
  /// reported: a path that climbs out or leads through a link, OnStartUnZip, the
  /// password, an existing file. Nothing when it is left out.
  /// With created given, a file that is new is created at once, and handed back
  /// open there; otherwise the caller creates it. A retry of the entry with another
  /// password replaces the file its first try was allowed to, without asking again.
  std::optional<std::string> EntryDestination(std::int32_t index, TDecodeState& state,
                                              std::unique_ptr<TLFNFileStream>* created);
  /// Writes CurrentEntry's file where EntryDestination says, stamps its date and
  /// attributes, and judges its CRC. A new file that fails is removed; a file that
  /// replaces another is written beside it and renamed over it only when it
  /// checks out, so that any failure leaves the old one as it was.
  void UnZipEntryToFile(std::int32_t index, TDecodeState& state, const std::uint8_t* localHeader);
  /// The stream the entries' data is read from.
  TStream& EntrySource();
  /// Queues the entries from index from on that workers may decode ahead (files
  /// to visit, undamaged, neither links nor encrypted nor large) while the queue
  /// has room; returns the index to go on from.
  std::int32_t OfferAhead(TDecodeAhead& ahead, const std::vector<bool>& visit, std::int32_t from);

  // ---- An archive read from a stream (zip_stream.cpp) -----------------------------
  /// Starts the one reading of InputStream, with an empty directory.
  TStreamSource& StartStream();
  /// Reads the whole stream into the directory, for a listing.
  void ReadStreamDirectory();
  /// The extraction of a streamed archive, in one pass.
  std::int32_t UnZipStream();
  /// The entry whose local header comes next, added to the directory; null at
  /// the central directory or the stream's end. Damage between entries is passed
  /// over to the next local header; a stream that starts with none is no archive
  /// (ENotAZipFile).
  TZipHeaderInfo* NextStreamedEntry();
  /// Whether a local header leaves the sizes to a data descriptor.
  static bool StreamedSizeUnknown(const TZipHeaderInfo& entry);
  /// After the decoding of a streamed entry: false when the stream ended inside
  /// its data; otherwise, for an entry whose sizes follow its data, its CRC from
  /// the descriptor, for the verdict.
  bool CompleteStreamedEntry(std::int32_t index);
  /// Moves the stream past the entry's data and descriptor, and gives an entry
  /// whose sizes followed its data the descriptor's.
  void FinishStreamedEntry(TZipHeaderInfo& entry);
  /// Reads the central directory and the end records that follow the entries.
  void CheckStreamedDirectory();
  /// Where the central directory names an entry other than its local header did
  /// (the Unicode path field only there, the host system's character set), the
  /// central name wins: the file or folder written under the local name moves
  /// to the central one, after the same checks. A name that climbs out, leads
  /// through a link or names nothing takes the entry back (its file removed, its
  /// count undone, the refusal reported); where something stands at the new name
  /// already, or the move fails, the file keeps its name and the stream check
  /// counts a disagreement.
  void RenameStreamedEntries();
  /// The password check of an encrypted entry (the traditional header's check byte,
  /// or an AES entry's verifier), retried through OnBadPassword; false when it
  /// rejects the entry (reported and taken out of the totals). Reads the header
  /// once and leaves the archive at the entry's data.
  bool CheckPassword(std::int32_t index, TDecodeState& state);
  /// The decoding frame's view of an entry (the local header has served already).
  static TDecodeEntry DecodeEntryOf(const TZipHeaderInfo& entry, const std::uint8_t* localHeader);
  /// Decodes CurrentEntry into output and keeps the decoder's result.
  bool DecodeEntry(TDecodeState& state, const std::uint8_t* localHeader, TStream& output);
  /// The verdict on CurrentEntry's CRC and its decoder's result: OnEndUnZip and a
  /// count when the CRC matches (an AE-2 entry has none) and the decoder succeeded;
  /// otherwise OnBadPassword (a new password sets RetryEntry) or OnSkippingFile for
  /// an entry of the traditional cipher, OnBadCRC for another (an AES entry's
  /// password passed its verifier already). False when it failed.
  /// With announce false a success is only returned: its event and count
  /// come later (a link, once it is made).
  bool JudgeCrc(std::int32_t index, std::uint32_t crc, const std::string& fName, bool announce = true);
  /// Whether an existing destination may be replaced under OverwriteMode.
  bool OverwriteAllowed(std::int32_t index, std::string& fName);
  /// Creates the output file: in place where nothing stands (as CreateNewOutput);
  /// where a file stands, a temporary file beside it (the stream's FileName) for
  /// the caller to rename over it. A folder is never replaced, a read-only file
  /// only when ReplaceReadOnly allows it. Null when it cannot be created (the
  /// system's last error code says why).
  std::unique_ptr<TLFNFileStream> CreateOutput(const std::string& fName);
  /// A new file beside fName, under a hidden name of its own, that will replace
  /// it; null when none can be created.
  std::unique_ptr<TLFNFileStream> CreateReplacement(const std::string& fName);
  /// Fires OnSkippingFile with the run's Retry variable.
  void ReportSkip(TSkipReason reason, const std::string& fName, std::int32_t index);
  /// Takes CurrentEntry's size out of TotalBytes, the denominator of the total
  /// percentage.
  void DropFromTotals();
  /// Decodes a symbolic link entry's target (its data) after the same checks as
  /// a file's, and keeps it for MakePendingLinks.
  void UnZipLinkEntry(std::int32_t index, TDecodeState& state, const std::uint8_t* localHeader);
  /// What comes once every file is written: the links, then the folders' times
  /// (making a link inside a folder would change its time).
  void FinishExtraction();
  /// From a stream, the files that the central directory shows to be links: each
  /// is taken back and kept as a link, its data as the target.
  void TakeBackStreamedLinks();
  /// Makes the links kept in this extraction, each after its checks.
  void MakePendingLinks();
  /// Whether the link's target, taken from the link's folder, stays below
  /// DestDir and never steps back out of another link.
  bool LinkTargetStaysInside(const std::string& fName, const std::string& target,
                             const std::vector<std::string>& linkNames) const;
  /// Creates CurrentEntry's file where nothing stands yet, its folders too;
  /// null when something stands there or the creation fails otherwise.
  std::unique_ptr<TLFNFileStream> CreateNewOutput(const std::string& fName);
  /// Gives an extracted file the entry's stored attributes.
  void ApplyEntryAttributes(platform::TFile& file) const;
  /// The permission bits of a Unix-made entry; nothing for another.
  std::optional<std::uint32_t> EntryUnixMode() const;
  /// The permission bits a new file of CurrentEntry is created with.
  std::uint32_t CreationPermissions() const;
  /// True when a folder of an archive-made name, below DestDir, is a link.
  bool FolderHasLinks(const std::string& folder);

  void FreeDirectory();
  void CheckIndex(std::int32_t index) const;
  TZipHeaderInfo& Entry(std::int32_t index) const { return *ZipInfo()->Items(index); }
  /// The built-in next-disk handler: numbered volume files get the extension
  /// ".NNN"; a removable disk is asked for in a message box.
  void DefaultGetNextDisk(std::int32_t nextDisk, std::string& fName);
  /// The raw last-write time of the open archive, compared to see whether the
  /// directory is still current.
  std::optional<platform::TFileTime> ArchiveFileTime();
  /// The stream the directory is being read from: the .zfc companion while it is
  /// in use, the archive otherwise.
  TStream& DirectoryStream();
  /// Reads count bytes at offset of the archive, opening it for the read when it is
  /// closed.
  std::string ReadArchiveText(std::uint64_t offset, std::uint16_t count);
  /// Finds the end records and settles the ZIP64 ones; false, with what is
  /// missing for the user, when the archive has none that an archive can have
  /// (recordFound: one was there, but implausible). EBadZipFile when the records
  /// contradict each other.
  bool LocateEndRecords(std::string& missing, bool& recordFound);
  /// Opens the .zfc companion of a set and finds its end record; false without one.
  bool OpenCompanionDirectory();
  /// Sets the span mode from the end record (reading a set's archive comment at
  /// once) and places the directory stream at the first central header.
  void StartDirectoryRead();
  /// What an archive without a usable end record is taken for, as
  /// IncompleteZipMode (or OnInCompleteZip) says: rebuilt from its local headers,
  /// or one of the exceptions.
  void TakeMissingDirectory(const std::string& missing, bool recordFound);
  /// Of a single archive whose central directory is not where the end record
  /// says: how many bytes stand before the archive that its offsets do not count
  /// (PrependedBytes), or 0.
  std::int64_t MeasurePrependedBytes();
  void ReadDirectoryEntries();
  TStream& NextVolumeForHeader();

  std::int32_t thisVersion_ = VersionNumber;
  std::string zipName_;
  std::string destDir_;
  std::string rootDir_;
  TZipSortMode sortMode_ = ByNone;
  bool recreateDirs_ = false;
  TUZOverwriteMode overwriteMode_ = TUZOverwriteMode::Prompt;
  std::vector<std::string> filesList_;
  std::vector<std::string> excludeList_;
  TStream* outputStream_ = nullptr;
  TStream* inputStream_ = nullptr;
  bool doAll_ = false;
  TIncompleteZipMode incompleteZipMode_ = izAssumeMulti;
  bool keepZipOpen_ = false;
  bool doProcessMessages_ = true;
  bool retainAttributes_ = true;
  bool replaceReadOnly_ = false;
  bool flushFilesOnClose_ = false;
  std::int32_t threads_ = 1;
  bool oemConvert_ = true;
  TNameCharsets nameCharsets_;
  bool verifyDiskLabels_ = true;
  std::uint8_t spanMode_ = 0;

  // State of an extraction, for the extraction driver.
  std::int64_t btsDone_ = 0;
  std::int64_t totalBytes_ = 0;
  std::int32_t fileCount_ = 0;
  std::string password_;
  std::unique_ptr<TZipHeaderInfo> currentEntry_;
  TDecodeResult decodeResult_ = drDecoded;
  std::string decodeDetail_;
  /// Set when the same entry must be extracted again with a new password.
  bool retryEntry_ = false;
  /// The entry being written replaces a file (see ReplacingFile).
  bool replacingFile_ = false;
  /// The file a retried entry's first try was allowed to replace.
  std::string retryReplaces_;
  /// The random part of replacements' temporary names, seeded at the first.
  std::optional<std::minstd_rand> temporaryNames_;
  /// The Retry variable handed to OnSkippingFile; its value has no effect.
  bool skipRetry_ = false;
  /// Where DestDir's own part of a destination path ends: the folders below it
  /// are the archive's, and are never followed through a link.
  std::string destBase_;
  /// The workers of this extraction, when it has some.
  TDecodeAhead* decodeAhead_ = nullptr;
  /// The folder parts of archive-made names found free of links in this extraction.
  std::unordered_set<std::string> verifiedFolders_;
  /// A symbolic link of this extraction, made once every file is written: no
  /// entry is ever written through a link that the archive made.
  struct TPendingLink {
    std::int32_t Index;
    std::string FName;
    std::string Target;
    std::optional<platform::TFileTime> Time;
    std::uint32_t DosTime;
    /// Written as a file first (read from a stream, before its mode was known):
    /// its event and count came then, and a refusal takes the count back.
    bool Counted = false;
  };
  std::vector<TPendingLink> pendingLinks_;
  /// The files written from a stream, in the order of their indexes: the central
  /// directory at its end may show that one is a link, or name it otherwise.
  std::vector<std::pair<std::int32_t, std::string>> streamedFiles_;
  /// The folder entries made in this extraction, given their times at its end.
  struct TFolderTime {
    std::string Path;
    std::optional<platform::TFileTime> Time;
    std::uint32_t DosTime;
  };
  std::vector<TFolderTime> folderTimes_;
  /// The damage of each entry of ZipInfo, found by the last UnZip.
  std::vector<TEntryDamage> damage_;

  // The directory.
  std::unique_ptr<TEndCentral> endCentral_;
  std::unique_ptr<TSortedZip> directoryList_;  ///< owns the entries, archive order
  std::unique_ptr<TSortedZip> sortedView_;     ///< a SortMode view over them, or null
  std::unique_ptr<TLFNFileStream> archiveStream_;
  std::unique_ptr<TFileStream> companionStream_;  ///< the .zfc file while the directory is read from it
  std::optional<platform::TFileTime> archiveDate_;
  bool rebuilt_ = false;
  std::int32_t currentDisk_ = 0;
  std::int64_t prependedBytes_ = 0;
  /// Of a rebuilt directory: the entries whose sizes follow their data and whose
  /// descriptor was not found, with where their bytes run to (the next record,
  /// or the archive's end). None of them comes out.
  std::unordered_map<const TZipHeaderInfo*, std::uint64_t> unendedEntries_;
  const TZipHeaderInfo* cutShortEntry_ = nullptr;

  // An archive read from a stream.
  std::unique_ptr<TStreamSource> streamSource_;
  TStreamCheck streamCheck_;
  std::int64_t streamedDataStart_ = 0;  ///< where the current entry's data starts
  bool streamedSizeUnknown_ = false;    ///< its sizes follow its data
  /// The entries whose central header names them otherwise than their local
  /// header did: the index and the local header's Directory and FileName.
  struct TLocalName {
    std::int32_t Index;
    std::string Directory, FileName;
  };
  std::vector<TLocalName> localNames_;
};

}  // namespace kestrel
