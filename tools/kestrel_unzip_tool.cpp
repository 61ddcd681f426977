#include "tools/kestrel_unzip_tool.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "tools/archive_operands.h"
#include "tools/entry_lines.h"
#include "tools/extraction_options.h"
#include "tools/json_listing.h"
#include "tools/progress_line.h"
#include "tools/run_report.h"
#include "tools/terminal_questions.h"
#include "tools/terminal_text.h"
#include "tools/unzip_listing.h"
#include "tools/volume_lines.h"
#include "tools/zipinfo_listing.h"
#include "unzip/decode/decode_errors.h"
#include "unzip/decode/methods.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/unzip_errors.h"
#include "unzip/volume_set.h"

namespace kestrel::tool {
namespace {

/// The archive name that stands for standard input.
constexpr const char* StandardInputName = "-";

/// What an archive cut off inside its first entry gets: unzip calls such a file
/// unusable.
constexpr const char* NothingWhole = "the archive is cut short, and no entry in it is whole: nothing can be recovered";

/// Why the component cannot decode an entry, or nothing when it can.
std::optional<std::string> UnsupportedReason(const TZipHeaderInfo& entry) {
  // Bit 6: the strong encryption of the format's owner, whose keys are not ours.
  if ((entry.Flags & FlagStrongEncryption) != 0) return "skipped, strong encryption is not supported";
  // WinZip's AES marks the entry as method 99 and keeps the real method in an
  // extra field: that method is the one to decode.
  const TCompressionMethod* method = FindMethod(entry.DataMethod());
  if (method != nullptr && method->Decode != nullptr) return std::nullopt;
  if (method != nullptr && method->Encryption)
    return std::string("skipped, ") + method->Name + " without a valid extra field (0x9901) is not supported";
  std::string reason = "skipped, unsupported compression method " + std::to_string(entry.DataMethod());
  if (method != nullptr) reason += std::string(" (") + method->Name + ")";
  return reason;
}

/// The refusal of an entry without a name: which entry of the directory (from
/// 1), and the bytes stored for its name, escaped.
std::string NamelessEntry(const TZipHeaderInfo& entry, std::int32_t index) {
  return "entry " + std::to_string(index + 1) + " (stored name \"" + TerminalText(entry.RawName()) +
         "\"): refused: its name is empty";
}

/// One run over one archive: the directory loaded, the members matched, then a
/// listing or an extraction (into files, into nothing for -t, to stdout for -p).
class TArchiveRun {
 public:
  TArchiveRun(const TToolCommand& command, const std::string& archive)
      : command_(command), archive_(archive), report_(archive), questions_(command, report_) {
    unzip_.SetIncompleteZipMode(izAssumeCutShort);
    unzip_.SetNameCharsets({command.NameCharset, command.UnixNameCharset});
    if (archive == StandardInputName) {
      pipe_.emplace(platform::TFile::StandardInput());
      unzip_.SetInputStream(&*pipe_);
    }
    unzip_.OnGetNextDisk = [this](TKestrelUnZip& sender, std::int32_t part, std::string& fName) {
      questions_.FindPart(sender, part, fName);
    };
  }

  int Run() {
    const bool listing = command_.Action == TToolAction::List || command_.Action == TToolAction::ListVerbose ||
                         command_.Action == TToolAction::ListNames || command_.Action == TToolAction::ZipInfo;
    // -Z1 and -p print the names or the bytes alone, without the archive's line;
    // zipinfo mode prints its own; --json prints its objects alone.
    if (command_.Action != TToolAction::ListNames && command_.Action != TToolAction::ZipInfo &&
        command_.Action != TToolAction::Pipe && command_.Action != TToolAction::Timestamp && command_.Quiet == 0 &&
        !command_.Json)
      platform::WriteConsoleLine(platform::TConsoleStream::Output, TListing::ArchiveLine(archive_));
    std::optional<TZipInfoRun> zipInfo;
    // -Z1 is zipinfo's too.
    if (command_.Action == TToolAction::ZipInfo || command_.Action == TToolAction::ListNames)
      zipInfo.emplace(command_, archive_, Filtered());
    try {
      if (!pipe_) unzip_.SetZipName(archive_);
      // A stream is extracted as it arrives: its directory is known only at its end.
      if (!pipe_ || listing || command_.Action == TToolAction::Comment || command_.Action == TToolAction::Timestamp) {
        LoadDirectory();
        opened_ = true;
        SayFaultyParts(unzip_, report_);
        if (zipInfo && unzip_.EntryCount() == 0) return zipInfo->ListEmpty(unzip_);
        // -z shows the comment of an empty archive too, and nothing else.
        if (command_.Action == TToolAction::Comment) return ShowComment(command_.Quiet < 3);
        if (!CheckArchive()) return report_.Status();
        if (!listing) ShowComment(command_.Quiet == 0 && command_.Action != TToolAction::Pipe);
      }
      switch (command_.Action) {
        case TToolAction::List:
          return List(TListingKind::Short);
        case TToolAction::ListVerbose:
          return List(TListingKind::Verbose);
        case TToolAction::ListNames:
          return List(TListingKind::NamesOnly);
        case TToolAction::ZipInfo:
          for (std::int32_t i = 0; i < unzip_.EntryCount(); ++i)
            if (selected_[static_cast<std::size_t>(i)] && !NameChecked(*unzip_.ZipInfo()->Items(i), i))
              selected_[static_cast<std::size_t>(i)] = false;
          zipInfo->List(unzip_, selected_);
          return ListStatus();
        case TToolAction::Timestamp:
          return std::max(report_.Status(), StampArchiveTime(unzip_, selected_, archive_, command_, report_));
        default:
          return Extract();
      }
    } catch (const std::exception& failure) {
      return Failure(failure);
    }
  }

  /// Whether the archive was read: its directory loaded (or its stream begun).
  bool Opened() const { return opened_ || pipe_.has_value(); }

 private:
  // ---- Before any entry -------------------------------------------------------

  /// The archive's comment on stdout, after the archive's line, when shown.
  int ShowComment(bool shown) {
    const std::string comment = unzip_.ZipComment();
    if (shown && !comment.empty()) report_.Print(CommentLines(comment));
    return report_.Status();
  }

  /// Loads the directory. An archive without an end record (cut off, or never
  /// finished) is read from its local headers, as unzip repairs what it can; a
  /// file in which they find no entry is no archive, as first said.
  void LoadDirectory() {
    unzip_.LoadZipDirectory();
    if (pipe_) StreamFindings();
    if (!unzip_.EndRecordMissing()) return;
    // Numbered volumes end where the last one found ends: the next may be missing.
    if (const std::string next = NextVolumeName(unzip_, archive_); !pipe_ && !next.empty()) {
      report_.Say("warning: no end record in the volumes found: " + TerminalText(next) + " may be missing");
      report_.Raise(ExitFormatError);
    }
    // The end cuts into the first entry that makes anything.
    if (unzip_.CutShortEntry() != nullptr && !HoldsMoreThan(unzip_.CutShortEntry())) throw ENotAZipFile(NothingWhole);
    cutShort_ = true;
  }

  /// Whether an entry other than cut is in the directory that makes anything: a
  /// folder entry of the archive's root ("./", as bsdtar writes one) makes nothing.
  bool HoldsMoreThan(const TZipHeaderInfo* cut) const {
    const TSortedZip* entries = unzip_.ZipInfo();
    for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i) {
      const TZipHeaderInfo& entry = *entries->Items(i);
      const bool root = entry.FileName().empty() && (entry.Directory().empty() || entry.Directory() == ".\\");
      if (&entry != cut && !root) return true;
    }
    return false;
  }

  /// What the end of a streamed archive said: no central directory (the stream
  /// was cut off), or one that disagrees with the entries read.
  void StreamFindings() {
    const TStreamCheck& check = unzip_.StreamCheck();
    if (!check.DirectorySeen && unzip_.EntryCount() > 0) {
      cutShort_ = true;
    } else if (check.Disagreements > 0) {
      report_.Say("warning: the central directory disagrees with the local headers read from the stream (" +
                  std::to_string(check.Disagreements) + (check.Disagreements == 1 ? " entry)" : " entries)"));
      report_.Raise(ExitWarning);
    }
  }

  /// Says what the archive as a whole needs said; false when there is nothing to do.
  bool CheckArchive() {
    const TSortedZip* entries = unzip_.ZipInfo();
    if (entries == nullptr || entries->Count() == 0) {
      report_.Say("warning: zipfile is empty");
      report_.Raise(ExitWarning);
      return false;
    }
    if (cutShort_ && command_.Action != TToolAction::Extract && command_.Action != TToolAction::Test &&
        command_.Action != TToolAction::Pipe) {
      report_.Say(
          "warning: the archive is cut short (no end-of-central-directory record): its entries were read "
          "from their local headers");
      report_.Raise(ExitWarning);
    } else if (unzip_.PrependedBytes() > 0) {
      // unzip's words: the offsets are read as moved by that many bytes.
      report_.Say("warning: " + std::to_string(unzip_.PrependedBytes()) +
                  " extra bytes at the beginning or within the archive");
      report_.Raise(ExitWarning);
    } else if (unzip_.Rebuilt() && !cutShort_) {
      report_.Say("warning: the central directory does not match the entries; they were read from their local headers");
      report_.Raise(ExitWarning);
    }
    MatchMembers();
    return true;
  }

  /// Which members and exclusions match which entries, and what is selected.
  void MatchMembers() {
    // Members match the names as -L makes them; from a stream, whose local headers
    // do not say where an entry was made, only -LL lowers them.
    const auto nameCase = static_cast<TNameCase>(pipe_ && command_.LowerCase == 1 ? 0 : command_.LowerCase);
    TEntrySelection selection(command_.Members.empty(), command_.Members, command_.Exclusions, true, MatchMode(),
                              nameCase);
    const TSelection selected = selection.Select(unzip_.ZipInfo());
    selected_ = selected.Taken;
    selectedCount_ += static_cast<std::uint64_t>(selected.Count);
    // -T says nothing of the members.
    for (std::size_t m = 0; m < command_.Members.size() && command_.Action != TToolAction::Timestamp; ++m) {
      if (selected.FilesMatched[m]) continue;
      ++unmatched_;
      report_.Say("caution: filename not matched: " + TerminalText(command_.Members[m]));
    }
    for (std::size_t x = 0; x < command_.Exclusions.size(); ++x) {
      if (!selected.ExcludesMatched[x])
        report_.Say("caution: excluded filename not matched: " + TerminalText(command_.Exclusions[x]));
    }
  }

  /// unzip's reading of members: case counts unless -C.
  TMatchMode MatchMode() const { return command_.IgnoreCase ? mmAnyCase : mmExactCase; }

  bool Filtered() const { return !command_.Members.empty() || !command_.Exclusions.empty(); }

  // ---- Listings -----------------------------------------------------------------

  int List(TListingKind kind) {
    TListing listing(kind, command_.Quiet);
    listing.SetNameCase(static_cast<TNameCase>(command_.LowerCase));
    if (!command_.Json) listing.Begin(unzip_.ZipComment());
    const TSortedZip& entries = *unzip_.ZipInfo();
    for (std::int32_t i = 0; i < entries.Count(); ++i) {
      if (platform::InterruptRequested()) throw EUserCanceled("User Aborted Operation");
      if (!selected_[static_cast<std::size_t>(i)]) continue;
      if (!NameChecked(*entries.Items(i), i)) continue;
      if (command_.Json) {
        JsonLine(*entries.Items(i), i);
        continue;
      }
      listing.Entry(*entries.Items(i), kind == TListingKind::NamesOnly ? std::string() : unzip_.FileComment(i));
    }
    if (!command_.Json) {
      listing.End();
      platform::WriteConsoleText(platform::TConsoleStream::Output, listing.Text());
    }
    return ListStatus();
  }

  int ListStatus() const {
    // A listing of a few entries does not fail for a member that matched nothing.
    if (report_.Status() <= ExitWarning && Filtered() && selectedCount_ == 0) return ExitNoMatch;
    return report_.Status();
  }

  /// One entry of the listing for scripts (--json), on a line of its own.
  void JsonLine(const TZipHeaderInfo& entry, std::int32_t index) {
    const TJsonEntryFacts facts{archive_, unzip_.FileComment(index),
                                entry.IsSymbolicLink() ? unzip_.LinkTarget(index) : std::nullopt};
    platform::WriteConsoleLine(platform::TConsoleStream::Output, JsonEntryLine(entry, facts));
  }

  /// What a listing says of an entry's name: a nameless entry is refused
  /// (false: it is not listed), a name cut at a NUL is a warning.
  bool NameChecked(const TZipHeaderInfo& entry, std::int32_t index) {
    if (entry.Nameless()) {
      report_.Say(NamelessEntry(entry, index));
      report_.Raise(ExitFormatError);
      return false;
    }
    NameCutWarning(entry);
    return true;
  }

  void NameCutWarning(const TZipHeaderInfo& entry) {
    // Once for an entry: another password makes it start again.
    if (!entry.NameCutAtNul() || &entry == nameCutSaid_) return;
    nameCutSaid_ = &entry;
    report_.SayEntry(entry, "warning: its stored name \"" + TerminalText(entry.RawName()) +
                                "\" ends at a NUL byte; the rest is left out");
    report_.Raise(ExitWarning);
  }

  // ---- Extraction, test and pipe ------------------------------------------------

  /// Extracts the selected entries into files, or tests them (-t), or writes
  /// them to standard output (-p): the component set up, its run, and what the
  /// end says; returns the run's status.
  int Extract() {
    lines_.emplace(command_, unzip_, report_, selected_);
    const bool toScreen = command_.Action == TToolAction::ToScreen;
    TEntrySink sink(command_.Action == TToolAction::Pipe || toScreen, toScreen ? &*lines_ : nullptr);
    if (!ToFiles()) unzip_.SetOutputStream(&sink);
    ApplySettings();
    lines_->ReadLinkTargets();
    StartProgress();
    ConnectEvents();

    unzip_.UnZip();
    lines_->End();
    if (progress_) progress_->Clear();
    report_.SetProgress(nullptr);
    if (pipe_) {
      StreamFindings();
      if (!CheckArchive()) return report_.Status();
    }
    SayExtractionEnd();
    if (command_.Action == TToolAction::Test && command_.Quiet < 2) TestSummary();
    return ExtractionStatus();
  }

  /// Whether the entries become files (neither -t nor -p).
  bool ToFiles() const { return command_.Action == TToolAction::Extract; }

  /// The component's settings for the run: paths, threads, destination,
  /// password, overwriting, and the entries to take and leave out.
  void ApplySettings() {
    unzip_.SetRecreateDirs(!command_.JunkPaths);
    unzip_.SetMatchMode(MatchMode());
    unzip_.SetThreads(command_.Threads > 0
                          ? command_.Threads
                          : static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency())));
    // The component takes "?" alone for a request to pick a folder; here it is a name.
    unzip_.SetDestDir(command_.DestDir == "?" ? "./?" : command_.DestDir);
    if (command_.Password) unzip_.SetPassword(*command_.Password);
    unzip_.SetOverwriteMode(OverwriteMode());
    if (command_.Members.empty())
      unzip_.SetDoAll(true);
    else
      unzip_.SetFilesList(command_.Members);
    unzip_.SetExcludeList(command_.Exclusions);
    // -f makes nothing new, not even a folder.
    if (command_.Freshen) unzip_.ExcludeList().push_back("*\\");
    ApplyExtractionOptions(unzip_, command_);
  }

  TUZOverwriteMode OverwriteMode() const {
    switch (command_.Overwrite) {
      case TOverwrite::Never:
        return TUZOverwriteMode::Never;
      case TOverwrite::Always:
        return command_.Update || command_.Freshen ? TUZOverwriteMode::ifNewer : TUZOverwriteMode::Always;
      case TOverwrite::Ask:
        break;
    }
    return TUZOverwriteMode::Prompt;
  }

  /// The progress line, for files and -t on a terminal. The run keeps it: a
  /// failure that ends the extraction is said after it, and clears it first.
  void StartProgress() {
    if (command_.Action != TToolAction::Pipe && command_.Action != TToolAction::ToScreen && command_.Quiet == 0 &&
        platform::ConsoleIsTerminal(platform::TConsoleStream::Error)) {
      progress_.emplace();
      report_.SetProgress(&*progress_);
    }
  }

  /// The component's events, each handed to the run's handler of it.
  void ConnectEvents() {
    unzip_.OnTotalPercentDone = [this](TKestrelUnZip& sender, std::int32_t percent) { PercentDone(sender, percent); };
    unzip_.OnStartUnZipInfo = [this](TKestrelUnZip&, std::int32_t numFiles, std::int64_t, bool& stopNow) {
      lines_->Begin();
      StartUnZipInfo(numFiles, stopNow);
    };
    unzip_.OnStartUnZip = [this](TKestrelUnZip& sender, std::int32_t index, std::string& fName, bool& skip) {
      StartEntry(sender, index, fName, skip);
    };
    unzip_.OnEndUnZip = [this](TKestrelUnZip&, std::int32_t index, const std::string& fName) {
      ++succeeded_;
      lines_->Done(index, fName);
    };
    unzip_.OnSkippingFile = [this](TKestrelUnZip& sender, TSkipReason reason, const std::string&, std::int32_t index,
                                   bool&) {
      lines_->Dropped(index);
      Skipped(*sender.ZipInfo()->Items(index), index, reason);
    };
    unzip_.OnRenamedFile = [this](TKestrelUnZip& sender, std::int32_t index, const std::string& fName) {
      report_.Say("warning: " + TerminalText(ListedPath(*sender.ZipInfo()->Items(index))) +
                  " is reserved on Windows: written as " + TerminalText(fName));
      report_.Raise(ExitWarning);
    };
    unzip_.OnBadCRC = [this](TKestrelUnZip& sender, std::uint32_t computed, std::uint32_t stored, std::int32_t index) {
      BadCrc(sender, computed, stored, index);
    };
    unzip_.OnBadPassword = [this](TKestrelUnZip& sender, std::int32_t index, std::string& newPassword) {
      lines_->Reach(index);
      questions_.AskPassword(*sender.ZipInfo()->Items(index), index, newPassword);
    };
    ReportRefusedOwners(unzip_, report_);
    unzip_.OnPromptForOverwrite = [this](TKestrelUnZip& sender, bool& overWriteIt, std::int32_t index,
                                         std::string& fName) {
      lines_->Reach(index);
      overWriteIt = questions_.MayReplace(sender, index, fName);
    };
  }

  // ---- The component's events ---------------------------------------------------

  void PercentDone(TKestrelUnZip& sender, std::int32_t percent) {
    // Ctrl-C stops the decoding at its next chunk; the component deletes the
    // partial file.
    if (platform::InterruptRequested()) sender.CancelRequested = true;
    if (progress_) progress_->Update(percent, sender.BtsDone());
  }

  /// Before the first entry: the destination of the files is made.
  void StartUnZipInfo(std::int32_t numFiles, bool& stopNow) {
    // Folders alone give the component nothing to visit.
    if (ToFiles() && numFiles == 0 && !command_.JunkPaths && !command_.Freshen) MakeFolderEntries(unzip_, selected_);
    if (!ToFiles() || numFiles == 0) return;
    // Where there is no destination, -f finds nothing to freshen.
    if (command_.Freshen && !command_.DestDir.empty() && !platform::FolderExists(command_.DestDir))
      stopNow = true;
    else
      stopNow = !MakeDestination();
  }

  /// Makes the destination folder, or says in one line why it cannot be made.
  bool MakeDestination() {
    const std::string& folder = command_.DestDir;
    if (folder.empty()) return true;
    platform::ForceFolders(folder);
    if (platform::FolderExists(folder)) return true;
    // Asked once more, the system says why: a file in the way, a missing right.
    const int error = platform::MakeFolder(folder) ? 0 : platform::LastSystemError();
    if (error == 0 && platform::FolderExists(folder)) return true;
    report_.Say("cannot create the destination " + TerminalText(folder) + ": " + platform::SystemErrorText(error));
    report_.Raise(ExitFormatError);
    return false;
  }

  /// Before each entry: whether it is skipped, and what is said of it.
  void StartEntry(TKestrelUnZip& sender, std::int32_t index, const std::string& fName, bool& skip) {
    if (platform::InterruptRequested()) throw EUserCanceled("User Aborted Operation");
    lines_->Reach(index);
    const TZipHeaderInfo& entry = *sender.ZipInfo()->Items(index);
    NameCutWarning(entry);
    if (const auto reason = UnsupportedReason(entry)) {
      ++unsupported_;
      skip = true;
      report_.SayEntry(entry, *reason);
      report_.Raise(ExitWarning);
      return;
    }
    // -f makes no file that is not there yet.
    if (ToFiles() && command_.Freshen && !platform::FileExists(fName)) {
      skip = true;
      return;
    }
    const std::string stored = entry.StoredPath();
    if (ToFiles() && !command_.JunkPaths && (stored.starts_with('\\') || (stored.size() > 1 && stored[1] == ':'))) {
      report_.SayEntry(entry, "warning: stripped the absolute path; it goes below the destination");
      report_.Raise(ExitWarning);
    }
    if (progress_) progress_->File(ListedPath(entry));
    lines_->Started(index, fName);
  }

  /// An entry whose bytes failed their CRC, or whose decoder saw damage.
  void BadCrc(TKestrelUnZip& sender, std::uint32_t computed, std::uint32_t stored, std::int32_t index) {
    ++crcErrors_;
    // Where the decoder saw the damage, it says so, and the CRC of what it wrote
    // has nothing to add; output past the declared size is cut off and leaves
    // the CRC to tell.
    const TDecodeResult result = sender.DecodeResult();
    lines_->Failed(index, computed, stored, result != drDecoded && result != drTooLarge);
    std::string text = "bad CRC " + CrcText(computed) + " (should be " + CrcText(stored) + ")";
    if (result == drTooLarge)
      text += "; " + DecodeResultText(result, sender.DecodeDetail());
    else if (result != drDecoded)
      text = DecodeResultText(result, sender.DecodeDetail());
    // A file that the entry would have replaced stays as it was.
    if (ToFiles()) text += sender.ReplacingFile() ? "; the existing file was kept" : "; the damaged file was removed";
    const TZipHeaderInfo& entry = *sender.ZipInfo()->Items(index);
    report_.SayEntry(entry, text + CrossedPartsText(sender, entry));
    report_.Raise(ExitFormatError);
  }

  /// An entry the component skipped (OnSkippingFile): why, in one line, and what
  /// it costs the status.
  void Skipped(const TZipHeaderInfo& entry, std::int32_t index, TSkipReason reason) {
    switch (reason) {
      case skBadPassword:
        ++badPasswords_;
        report_.SayEntry(entry, command_.Password || questions_.PasswordAsked() ? "skipped, incorrect password"
                                : platform::InputIsTerminal()
                                    ? "skipped, no password given"
                                    : "skipped, encrypted and no password given (-P, or a terminal to ask on)");
        break;
      case skFileExists:
        // Kept as asked (-n, -u, -f, an answer) needs no word; kept unasked does, once.
        if (questions_.TakeKeptWithoutAsking()) ++keptUnasked_;
        return;
      case skPathClimbs:
        report_.SayEntry(entry, "refused: its path climbs out of the destination");
        break;
      case skPathThroughLink:
        report_.SayEntry(entry, "refused: its path leads through a symbolic link");
        break;
      case skOverlaps: {
        const TZipHeaderInfo* other = unzip_.EntryDamage(index).Other;
        report_.SayEntry(entry, "skipped: its data overlaps " +
                                    (other != nullptr ? ListedPath(*other) : std::string("the central directory")) +
                                    " (the archive is damaged or a zip bomb)");
        ++damaged_;
        report_.Raise(ExitFormatError);
        break;
      }
      case skCutShort:
        ++damaged_;
        ++cutEntries_;
        report_.SayEntry(entry, "skipped: the archive ends inside its data");
        break;
      case skMissingPart: {
        const TVolumePart* part = unzip_.EntryDamage(index).Part;
        ++damaged_;
        report_.SayEntry(entry,
                         part != nullptr
                             ? "skipped, its bytes lie in " + TerminalText(part->Name) + ", " + VolumeFaultText(*part)
                             : std::string("skipped, its bytes lie in a part of the set that is missing"));
        report_.Raise(ExitFormatError);
        break;
      }
      case skLinkTarget:
        report_.SayEntry(entry,
                         "refused: the symbolic link leads out of the destination (an absolute or climbing target)");
        break;
      case skLinkOverFolder:
        report_.SayEntry(entry, "refused: a symbolic link does not replace the folder that stands there");
        break;
      case skLinkFailed: {
        const int error = platform::LastSystemError();
        report_.SayEntry(entry, "skipped, the system made no symbolic link" +
                                    (error != 0 ? ": " + platform::SystemErrorText(error) : std::string()));
        break;
      }
      case skBadName:
        ++nameless_;
        report_.Say(NamelessEntry(entry, index));
        report_.Raise(ExitFormatError);
        break;
      case skStreamedSize:
        ++damaged_;
        report_.SayEntry(entry,
                         "skipped: its sizes follow its data, and in a stream only a deflated entry so "
                         "written shows where it ends");
        break;
      default: {
        const int error = platform::LastSystemError();
        report_.SayEntry(entry, "skipped, cannot create the file" +
                                    (error != 0 ? ": " + platform::SystemErrorText(error) : std::string()));
        break;
      }
    }
    report_.Raise(ExitWarning);
  }

  // ---- After the last entry -----------------------------------------------------

  /// What the run says of itself once the entries are done: existing files kept
  /// for want of a terminal, and what was recovered of an archive cut short.
  void SayExtractionEnd() {
    if (keptUnasked_ > 0) {
      report_.Say(Plural(keptUnasked_, "existing file") +
                  " kept: there is no terminal to ask on (-o replaces them, -n keeps them without this warning)");
      report_.Raise(ExitWarning);
    }
    if (cutShort_ && pipe_ && cutEntries_ > 0 && !HoldsMoreThan(unzip_.ZipInfo()->Items(unzip_.EntryCount() - 1))) {
      // From a stream the entries are known only as they pass: the last one read,
      // where the stream ended, was the first to make anything.
      report_.Say(NothingWhole);
      report_.Raise(ExitNotFound);
    } else if (cutShort_) {
      report_.Say("the archive is cut short: " + std::to_string(succeeded_) +
                  (succeeded_ == 1 ? " entry" : " entries") + " recovered");
      report_.Raise(ExitWarning);
    }
  }

  void TestSummary() {
    // unzip counts the folder entries it passed as tested.
    std::uint64_t tested = succeeded_ + crcErrors_;
    const TSortedZip* entries = unzip_.ZipInfo();
    for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i) {
      const TZipHeaderInfo& entry = *entries->Items(i);
      if (static_cast<std::size_t>(i) < selected_.size() && selected_[static_cast<std::size_t>(i)] &&
          entry.FileName().empty() && !entry.Nameless())
        ++tested;
    }
    std::vector<std::string> lines;
    const std::string& name = report_.Archive();
    // What could not be tested is no success, nor is a member that matched
    // nothing: the standard output says so as well as the lines on stderr.
    if (crcErrors_ + damaged_ + nameless_ + unmatched_ > 0)
      lines.push_back("At least one error was detected in " + name + ".");
    else if (tested == 0)
      lines.push_back("Caution: zero files tested in " + name + ".");
    else if (badPasswords_ + unsupported_ == 0 && !Filtered())
      lines.push_back("No errors detected in compressed data of " + name + ".");
    else
      lines.push_back("No errors detected in " + name + " for the " + Plural(tested, "file") + " tested.");
    if (damaged_ > 0)
      lines.push_back(Plural(damaged_, "file") + " skipped because the archive is damaged or cut short.");
    if (badPasswords_ > 0) lines.push_back(Plural(badPasswords_, "file") + " skipped because of incorrect password.");
    if (unsupported_ > 0)
      lines.push_back(Plural(unsupported_, "file") + " skipped because of unsupported compression or encoding.");
    if (nameless_ > 0) lines.push_back(Plural(nameless_, "file") + " skipped because of an empty name.");
    for (const std::string& line : lines) platform::WriteConsoleLine(platform::TConsoleStream::Output, line);
  }

  /// The worst status said; where that is at most a warning, the status of
  /// members that matched nothing, of passwords that opened nothing, of methods
  /// without a decoder.
  int ExtractionStatus() const {
    const int status = report_.Status();
    if (status > ExitWarning) return status;
    if (unmatched_ > 0 || (Filtered() && selectedCount_ == 0)) return ExitNoMatch;
    if (badPasswords_ > 0 && succeeded_ == 0) return ExitBadPassword;
    if (unsupported_ > 0) return ExitUnsupported;
    return status;
  }

  // ---- Archive-level failures ---------------------------------------------------

  int Failure(const std::exception& failure) {
    std::string message = failure.what();
    int status = ExitSevereError;
    if (const auto* notZip = dynamic_cast<const ENotAZipFile*>(&failure)) {
      if (!notZip->Cause.empty()) message += " (" + notZip->Cause + ")";
      // unzip's status for a file without an end record: no zip archive was found.
      if (!notZip->RecordFound) status = ExitNotFound;
    } else if (const auto* bad = dynamic_cast<const EBadZipFile*>(&failure)) {
      if (!bad->Cause.empty()) message += " (" + bad->Cause + ")";
    } else if (dynamic_cast<const EFOpenError*>(&failure) != nullptr) {
      status = ExitNotFound;
    } else if (const auto* write = dynamic_cast<const ECantWriteUCF*>(&failure)) {
      // Which write failed is the component's to say; why, the system's.
      if (write->SystemError != 0) message += ": " + platform::SystemErrorText(write->SystemError);
      status = ExitDiskFull;
    } else if (dynamic_cast<const EUserCanceled*>(&failure) != nullptr && platform::InterruptRequested()) {
      message = "interrupted";
      status = ExitInterrupted;
    }
    report_.Say(TerminalText(message));
    return std::max(status, report_.Status());
  }

  const TToolCommand& command_;
  std::string archive_;
  TRunReport report_;
  TTerminalQuestions questions_;
  TKestrelUnZip unzip_;
  std::vector<bool> selected_;
  std::uint64_t selectedCount_ = 0, unmatched_ = 0;
  std::uint64_t succeeded_ = 0, crcErrors_ = 0, badPasswords_ = 0, unsupported_ = 0, keptUnasked_ = 0, nameless_ = 0;
  /// Entries left out for the archive's damage: overlapping, cut short, of no
  /// telling end in a stream.
  std::uint64_t damaged_ = 0;
  /// The entry whose name cut at a NUL was said last.
  const TZipHeaderInfo* nameCutSaid_ = nullptr;
  /// The archive has no end record: its entries come from their local headers.
  bool cutShort_ = false;
  /// Entries skipped because the archive ends inside them.
  std::int64_t cutEntries_ = 0;
  /// Standard input, when the archive is read from it ("-").
  std::optional<TPipeStream> pipe_;
  /// The progress line of an extraction on a terminal; report_ clears it before
  /// each of its lines, the last one too.
  std::optional<TProgressLine> progress_;
  /// The entries' lines on stdout, during an extraction, a test or -c.
  std::optional<TEntryLines> lines_;
  /// The directory was loaded.
  bool opened_ = false;
};

/// The archive as named, or NAME.zip (NAME.ZIP) when NAME is not there, as unzip
/// finds it; a folder is no archive. Nothing when none is there, with why the
/// name as given is none.
std::optional<std::string> FindArchive(const std::string& name, std::string& why) {
  const std::optional<platform::TFileKind> kind = platform::QueryFileKind(name);
  if (kind && *kind != platform::TFileKind::Folder) return name;
  why = kind ? std::string("it is a folder") : platform::SystemErrorText(platform::LastSystemError());
  for (const char* extension : {".zip", ".ZIP"}) {
    const std::optional<platform::TFileKind> other = platform::QueryFileKind(name + extension);
    if (other && *other != platform::TFileKind::Folder) return name + extension;
  }
  return std::nullopt;
}

}  // namespace

int RunKestrelUnZip(const std::vector<std::string>& arguments) {
  const TParsedCommand parsed = ParseToolCommand(arguments);
  if (!parsed.Command) {
    platform::WriteConsoleLine(platform::TConsoleStream::Error, "kestrel-unzip: " + TerminalText(parsed.Error));
    platform::WriteConsoleLine(platform::TConsoleStream::Error, ToolSynopsis());
    platform::WriteConsoleLine(platform::TConsoleStream::Error, "(kestrel-unzip -h lists the options)");
    return ExitUsage;
  }
  const TToolCommand& command = *parsed.Command;
  if (command.Action == TToolAction::Help) {
    for (const std::string& line : ToolUsage()) platform::WriteConsoleLine(platform::TConsoleStream::Output, line);
    return ExitSuccess;
  }
  if (command.Action == TToolAction::Version) {
    platform::WriteConsoleLine(platform::TConsoleStream::Output, "kestrel-unzip " KESTREL_VERSION);
    return ExitSuccess;
  }
  for (const std::string* charset : {&command.NameCharset, &command.UnixNameCharset}) {
    if (charset->empty() || platform::CharsetKnown(*charset)) continue;
    platform::WriteConsoleLine(platform::TConsoleStream::Error,
                               "kestrel-unzip: unknown character set " + TerminalText(*charset));
    return ExitUsage;
  }
  platform::TInterruptCatcher interrupts;
  if (command.Archive == StandardInputName) return TArchiveRun(command, command.Archive).Run();
  if (HasWildcards(command.Archive) && !platform::QueryFileKind(command.Archive)) {
    return RunMatchingArchives(command, [&command](const std::string& archive, bool& read) {
      TArchiveRun run(command, archive);
      const int status = run.Run();
      read = run.Opened();
      return status;
    });
  }
  std::string why;
  const std::optional<std::string> archive = FindArchive(command.Archive, why);
  if (!archive) {
    TRunReport(command.Archive).Say("cannot find or open the archive: " + why);
    return ExitNotFound;
  }
  // A split set is read by its last part, whichever part was named.
  if (const std::string last = SplitSetLastPart(*archive); !last.empty()) {
    TRunReport(*archive).Say("note: a part of a split archive; reading the set by its last part, " +
                             TerminalText(last));
    return TArchiveRun(command, last).Run();
  }
  return TArchiveRun(command, *archive).Run();
}

}  // namespace kestrel::tool
