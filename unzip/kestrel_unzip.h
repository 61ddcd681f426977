#pragma once
// TKestrelUnZip, the zip extraction component: its settings with their defaults and
// setters, its enumerations and events, the per-entry accessors, and the reading of
// the archive directory (zip_directory.cpp). Each UnZip is a run of its own
// (TExtractionRun, extraction_run.h), kept until the next for what callers read after it.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/decode_result.h"
#include "unzip/entry_selection.h"
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
  /// An archive cut short (a download that stopped early, a write never
  /// finished): without an end record it is read from its local headers, when
  /// they hold entries. One whose end record is there but implausible, or in which
  /// they find no entry, is no archive: ENotAZipFile, as with izAssumeNotAZip.
  izAssumeCutShort = 3,
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
  /// Its bytes lie, wholly or in part, in a part of a split set or of numbered
  /// volumes that is missing, cut short or not the part the records say: nothing
  /// made. EntryDamage's Part names the part.
  skMissingPart = 13,
};

/// Which entries an extraction writes as text, with the line ends of this system.
enum TTextMode : std::uint8_t {
  tmBinary = 0,      ///< every entry as stored
  tmMarkedText = 1,  ///< the entries the archive marks as text (internal attributes, bit 0)
  tmAllText = 2,     ///< every entry
};

/// Which of the stored times an extraction gives what it makes.
enum TTimeRestore : std::uint8_t {
  trAll = 0,
  trFilesOnly = 1,  ///< files and links; folders keep the time of the extraction
  trNone = 2,       ///< nothing: everything keeps the time of the extraction
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

struct TVolumePart;
class TVolumeSet;

/// Why an entry that the directory lists cannot come out whole.
struct TEntryDamage {
  /// skOverlaps or skCutShort; skNotReported for an entry that is whole.
  TSkipReason Reason = skNotReported;
  /// The entry whose bytes it runs into (or shares a local header with); null for
  /// the central directory and the end of the archive.
  const TZipHeaderInfo* Other = nullptr;
  /// For skMissingPart: the part of the set (VolumeSet) its bytes need.
  const TVolumePart* Part = nullptr;
};

class TKestrelUnZip;
class TDecodeState;
struct TDecodeEntry;
class TDecodeAhead;
class TExtractionRun;

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
/// On Windows: the entry's name (or a folder's on its path) is one Windows reserves
/// or refuses ("aux.txt", "ab:c"), and it is written as FName instead.
using TRenamedFile = std::function<void(TKestrelUnZip& Sender, std::int32_t FileIndex, const std::string& FName)>;
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
using TOwnerNotSet = std::function<void(TKestrelUnZip& Sender, std::int32_t FileIndex, const std::string& FName,
                                        const platform::TFileOwner& Owner)>;

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
  std::int64_t BtsDone() const;
  /// The entry list callers index, in SortMode order; null before a directory is read.
  TSortedZip* ZipInfo() const { return sortedView_ ? sortedView_.get() : directoryList_.get(); }
  std::int32_t ThisVersion() const { return VersionNumber; }
  /// The version cannot be set: code written for this interface may still try,
  /// and keeps compiling, but the value stays.
  void SetThisVersion(std::int32_t) {}

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
  /// How FilesList and ExcludeList are read: mmComponent (the default) ignores case
  /// and knows "<...>" classes; mmExactCase and mmAnyCase read them as unzip does,
  /// with "[...]" classes and "\" escapes, case counting or not.
  TMatchMode MatchMode() const { return matchMode_; }
  void SetMatchMode(TMatchMode value) { matchMode_ = value; }
  bool OEMConvert() const { return oemConvert_; }
  void SetOEMConvert(bool value);
  /// The character sets of stored names without the UTF-8 flag (empty: the
  /// default reading); a Unicode path field still wins over them. A change drops
  /// a directory read under the old sets, to be read again when next needed.
  const TNameCharsets& NameCharsets() const { return nameCharsets_; }
  void SetNameCharsets(const TNameCharsets& value);

  /// Text conversion (tmBinary, the default, writes every entry as stored): a
  /// text entry's CR LF and lone CR become LF and its Ctrl-Z bytes go, in files
  /// and in OutputStream alike; its CRC is checked on the bytes as stored. From
  /// a stream, whose local headers do not say which entries are text, only
  /// tmAllText converts.
  TTextMode TextMode() const { return textMode_; }
  void SetTextMode(TTextMode value) { textMode_ = value; }
  /// Whether an entry is written as text under TextMode.
  static bool ConvertsAsText(const TZipHeaderInfo& entry, TTextMode mode);
  /// Lower case for the names that NameCase says (ncAsStored, the default, keeps
  /// them): the files and folders made get them, and the events hear them. From a
  /// stream, whose local headers do not say where an entry was made, only ncAll
  /// lowers names.
  TNameCase NameCase() const { return nameCase_; }
  void SetNameCase(TNameCase value) { nameCase_ = value; }
  /// Which stored times are given (trAll, the default).
  TTimeRestore TimeRestore() const { return timeRestore_; }
  void SetTimeRestore(TTimeRestore value) { timeRestore_ = value; }
  /// Permission bits as the archive stores them (false, the default: a
  /// Unix-made file's bits with the owner's read and write kept, folders as the
  /// system makes them). True: every file and folder gets the bits its entry
  /// gives on this system, exactly, whatever the owner may do with it, folders
  /// at the end of the run (after their files, never through a link standing
  /// at their place); an entry without Unix bits gets the system's defaults,
  /// less the write bits when it is read-only. A folder that stands already at
  /// its entry's turn keeps its bits and its time. With RetainAttributes only.
  bool ExactModes() const { return exactModes_; }
  void SetExactModes(bool value) { exactModes_ = value; }
  /// Keeps the set-uid, set-gid and sticky bits of ExactModes (false, the
  /// default, clears them).
  bool KeepSpecialBits() const { return keepSpecialBits_; }
  void SetKeepSpecialBits(bool value) { keepSpecialBits_ = value; }
  /// Gives files, folders and links the Unix owner their entries store (false,
  /// the default, leaves them the extracting user's); a link's own owner, never
  /// what it leads to. An owner the system refuses (a user may not give files
  /// away) is reported through OnOwnerNotSet, and the entry stays extracted.
  bool RestoreOwners() const { return restoreOwners_; }
  void SetRestoreOwners(bool value) { restoreOwners_ = value; }

  TStartUnzipInfo OnStartUnZipInfo;
  TFilePercentDone OnFilePercentDone;
  TTotalPercentDone OnTotalPercentDone;
  TStartUnZipEvent OnStartUnZip;
  TEndUnZipEvent OnEndUnZip;
  TPromptForOverwrite OnPromptForOverwrite;
  TSkippingFile OnSkippingFile;
  TRenamedFile OnRenamedFile;
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
  /// With RestoreOwners: the system refused the entry's Owner for what it made at
  /// FName (its last error code says why).
  TOwnerNotSet OnOwnerNotSet;

  // ---- Multi-volume settings -------------------------------------------------------

  bool VerifyDiskLabels() const { return verifyDiskLabels_; }
  void SetVerifyDiskLabels(bool value) { verifyDiskLabels_ = value; }
  /// 0 single archive, 1 split across removable disks, 2 split across numbered files.
  std::uint8_t SpanMode() const { return spanMode_; }
  void SetSpanMode(std::uint8_t value) { spanMode_ = value; }
  /// The parts of the archive read last, when it is a split set of files or
  /// numbered volumes (NAME.zip.001, ...): each part's file, and which of them are
  /// missing, cut short or do not fit; null for a single file. A split set's parts
  /// are found when its directory is read: OnGetNextDisk is asked for parts 1 to
  /// N - 1 in order, once each (again while the name it gives names no file).
  const TVolumeSet* VolumeSet() const { return volumeSet_.get(); }
  /// Whether VolumeSet is a split set's (its records count by part) rather than
  /// numbered volumes (NAME.zip.001, ...: one archive cut into pieces).
  bool VolumeSetIsSplit() const { return volumeSet_ && splitSet_; }
  /// The built-in next-disk handler: the part of a split set beside its last part
  /// (NAME.z01, ..., NAME.zx01 for NAME.zipx, or NAME.001 where that exists); a
  /// removable disk is asked for in a message box.
  void DefaultGetNextDisk(std::int32_t nextDisk, std::string& fName);

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
  TDecodeResult DecodeResult() const;
  const std::string& DecodeDetail() const;
  /// Read in the verdict's events (OnBadCRC, OnBadPassword, OnSkippingFile): true
  /// when the entry's file replaces one that stood at its name. That file stays as
  /// it was unless the entry checks out; a new file that fails is removed.
  bool ReplacingFile() const;
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
  const TStreamCheck& StreamCheck() const { return stream_.Check; }
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
  bool Rebuilt() const { return findings_.Rebuilt; }
  /// True when it was rebuilt for want of an end record (izAssumeBad or
  /// izAssumeCutShort), not because its central directory could not be read.
  bool EndRecordMissing() const { return findings_.EndRecordMissing; }
  /// Of a directory rebuilt from the local headers: the entry that the end of the
  /// archive cuts into (its data or its data descriptor does not end before it),
  /// or null. It is the last entry found, and an UnZip leaves it out (skCutShort).
  const TZipHeaderInfo* CutShortEntry() const { return findings_.CutShortEntry; }
  /// Bytes that stand before the archive without its offsets counting them (a
  /// self-extractor's program, a browser extension's header): the central
  /// directory was found that many bytes past where the end record says, just in
  /// front of the end records, and the first entry's local header as far past
  /// where the directory says. Every offset of the directory is moved by it; 0
  /// when the offsets are right as they are (or the directory was rebuilt).
  std::int64_t PrependedBytes() const { return findings_.PrependedBytes; }
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
  TS_BufferStream* ArchiveStream() const { return archiveStream_.get(); }

 private:
  // The run of one UnZip, in its own object (extraction_run.h), reaches the
  // settings, the events and the directory; the decoding routines below, and the
  // decoding frame, reach the run through run_.
  friend class TExtractionRun;
  class TDriverHost;

  // ---- The decoding of an entry (extraction.cpp) ----------------------------------
  /// Makes the run of this UnZip, which takes over the outcome of the last one.
  TExtractionRun& BeginRun();
  /// Reads CurrentEntry's local header, opening its volume of a set, and leaves
  /// the archive at the entry's data: only the local header's own name and
  /// extra-field lengths tell where that is.
  void ReadEntryLocalHeader();
  /// Decodes CurrentEntry into the caller's OutputStream, after OnStartUnZip and
  /// the password check, and judges its CRC.
  void UnZipEntryToStream(std::int32_t index, TDecodeState& state);
  /// The stream the entries' data is read from.
  TStream& EntrySource();
  /// The password check of an encrypted entry (the traditional header's check byte,
  /// or an AES entry's verifier), retried through OnBadPassword; false when it
  /// rejects the entry (reported and taken out of the totals). Reads the header
  /// once and leaves the archive at the entry's data.
  bool CheckPassword(std::int32_t index, TDecodeState& state);
  /// The decoding frame's view of an entry (the local header has served already).
  static TDecodeEntry DecodeEntryOf(const TZipHeaderInfo& entry);
  /// Decodes CurrentEntry into output and keeps the decoder's result.
  bool DecodeEntry(TDecodeState& state, TStream& output);

  // ---- An archive read from a stream (zip_stream.cpp) -----------------------------
  /// Starts the one reading of InputStream, with an empty directory.
  TStreamSource& StartStream();
  /// Reads the whole stream into the directory, for a listing.
  void ReadStreamDirectory();
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

  // ---- The archive and its directory (zip_directory.cpp) -------------------------
  void FreeDirectory();
  void CheckIndex(std::int32_t index) const;
  TZipHeaderInfo& Entry(std::int32_t index) const { return *ZipInfo()->Items(index); }
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

  // ---- Sets of several files (zip_volumes.cpp) -----------------------------------
  /// A set read volume by volume, as its disks are asked for (spanned over
  /// removable disks); false for a single file and for a joined set.
  bool PerVolume() const;
  /// Asks OnGetNextDisk for part n of a split set until it names a file; nothing
  /// when the handler gives no name, or names no file twice.
  std::optional<std::string> FindPart(std::int32_t n);
  /// Given a name like NAME.zip.001, makes the archive the joined volumes; false
  /// for any other name.
  bool OpenNumberedVolumes();
  /// Finds the parts of the split set whose end record was just read, makes the
  /// archive their joined bytes and moves the end record's offsets there.
  /// EBadZipFile when the central directory lies in a part that is not there.
  void JoinSplitSet();
  /// The joined offset of an offset on one part of the split set.
  std::int64_t JoinedOffset(std::uint32_t disk, std::uint64_t offset) const;
  /// Marks the parts whose first entry's local header is not where the records say.
  void CheckSplitParts();
  /// How a worker opens a reading of its own of the archive read last.
  std::function<std::unique_ptr<TStream>()> ArchiveOpener() const;

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
  TMatchMode matchMode_ = mmComponent;
  bool oemConvert_ = true;
  TNameCharsets nameCharsets_;
  TTextMode textMode_ = tmBinary;
  TNameCase nameCase_ = ncAsStored;
  TTimeRestore timeRestore_ = trAll;
  bool exactModes_ = false;
  bool keepSpecialBits_ = false;
  bool restoreOwners_ = false;
  bool verifyDiskLabels_ = true;
  std::uint8_t spanMode_ = 0;

  std::string password_;

  /// The entry being extracted (or decoded for LinkTarget), a copy of its directory
  /// entry that takes the component's OEMConvert and NameCharsets.
  std::unique_ptr<TZipHeaderInfo> currentEntry_;
  /// The run of the UnZip going on, else of the last one, for what callers read
  /// after it (BtsDone, DecodeResult, ...); null before the first.
  std::unique_ptr<TExtractionRun> run_;

  // The directory.
  std::unique_ptr<TEndCentral> endCentral_;
  std::unique_ptr<TSortedZip> directoryList_;  ///< owns the entries, archive order
  std::unique_ptr<TSortedZip> sortedView_;     ///< a SortMode view over them, or null
  std::unique_ptr<TS_BufferStream> archiveStream_;
  /// The parts of a split set or of numbered volumes, shared with every reader
  /// of a run; null for a single file.
  std::shared_ptr<TVolumeSet> volumeSet_;
  bool splitSet_ = false;
  std::unique_ptr<TFileStream> companionStream_;  ///< the .zfc file while the directory is read from it
  std::optional<platform::TFileTime> archiveDate_;
  std::int32_t currentDisk_ = 0;
  /// What the reading of the directory found out about the archive.
  struct TDirectoryFindings {
    /// The directory was rebuilt from the local headers (Rebuilt) ...
    bool Rebuilt = false;
    /// ... for want of an end record (EndRecordMissing).
    bool EndRecordMissing = false;
    std::int64_t PrependedBytes = 0;
    /// Of a rebuilt directory: the entries whose sizes follow their data and whose
    /// descriptor was not found, with where their bytes run to (the next record,
    /// or the archive's end). None of them comes out.
    std::unordered_map<const TZipHeaderInfo*, std::uint64_t> UnendedEntries;
    const TZipHeaderInfo* CutShortEntry = nullptr;
  };
  TDirectoryFindings findings_;

  /// The one reading of InputStream, front to back.
  struct TStreamReading {
    std::unique_ptr<TStreamSource> Source;
    TStreamCheck Check;
    std::int64_t DataStart = 0;  ///< where the current entry's data starts
    bool SizeUnknown = false;    ///< its sizes follow its data
    /// The entries whose central header names them otherwise than their local
    /// header did: the index and the local header's Directory and FileName.
    struct TLocalName {
      std::int32_t Index;
      std::string Directory, FileName;
    };
    std::vector<TLocalName> LocalNames;
  };
  TStreamReading stream_;
};

}  // namespace kestrel
