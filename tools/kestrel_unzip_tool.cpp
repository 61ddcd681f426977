#include "tools/kestrel_unzip_tool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "platform/file_system.h"
#include "unzip/decode/decode_errors.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/unzip_errors.h"

namespace kestrel::tool {
namespace {

/// The stored path with "/" between folders.
std::string SlashPath(const TZipHeaderInfo& entry) {
  std::string path = entry.StoredPath();
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

/// One listing line: method, compressed size, uncompressed size, CRC-32 and the
/// stored path with "/" separators.
std::string ListingLine(const TZipHeaderInfo& entry) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(entry.CRC32));
  const std::string path = SlashPath(entry);
  return std::to_string(entry.CompressionMethod) + ' ' + std::to_string(entry.CompressedSize) + ' ' +
         std::to_string(entry.UncompressedSize) + ' ' + crc + ' ' + path;
}

/// Why the component cannot decode an entry, or nothing when it can: the line
/// kestrel-unzip prints instead of a misleading CRC error or wrong-password line.
std::optional<std::string> UnsupportedReason(const TZipHeaderInfo& entry) {
  // Bit 6: the strong encryption of the format's owner, whose keys are not ours.
  if ((entry.Flags & FlagStrongEncryption) != 0) return "skipped, strong encryption is not supported";
  // WinZip's AES marks the entry as method 99 and keeps the real method in an
  // extra field.
  if (entry.CompressionMethod == 99) return "skipped, AES encryption is not supported";
  switch (entry.CompressionMethod) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8:
      return std::nullopt;
    default:
      break;
  }
  struct TMethodName {
    std::uint16_t Method;
    const char* Name;
  };
  static constexpr TMethodName KnownMethods[] = {{9, "Deflate64"}, {12, "bzip2"},     {14, "LZMA"}, {18, "IBM TERSE"},
                                                 {19, "IBM LZ77"}, {93, "Zstandard"}, {95, "xz"},   {96, "JPEG"},
                                                 {97, "WavPack"},  {98, "PPMd"}};
  std::string reason = "skipped, unsupported compression method " + std::to_string(entry.CompressionMethod);
  for (const TMethodName& known : KnownMethods)
    if (known.Method == entry.CompressionMethod) reason += std::string(" (") + known.Name + ")";
  return reason;
}

/// The name a part of a split archive has beside its last part (NAME.zip):
/// NAME.z01, NAME.z02, ...; the last part is the archive itself.
std::string SplitPartName(const std::string& archive, std::int32_t part, std::int32_t parts) {
  if (part >= parts) return archive;
  char extension[8];
  std::snprintf(extension, sizeof extension, ".z%02d", static_cast<int>(part % 100));
  return platform::ChangeExtension(archive, extension);
}

/// The archive-level refusal of a split archive, naming its first missing part.
[[noreturn]] void RefuseSplitArchive(const std::string& archive, std::int32_t parts) {
  for (std::int32_t part = 1; part <= parts; ++part) {
    const std::string name = SplitPartName(archive, part, parts);
    if (!platform::QueryFileKind(name)) {
      throw EBadZipFile("split archives are not supported (the part " + name + " is missing)");
    }
  }
  throw EBadZipFile("split archives are not supported (this is the last of " + std::to_string(parts) + " parts)");
}

/// Keeps the component from asking for another part of a split archive, and turns
/// its cancelled request into the refusal that names the missing part.
class TSplitGuard {
 public:
  explicit TSplitGuard(TKestrelUnZip& unzip) {
    unzip.OnGetNextDisk = [this](TKestrelUnZip& sender, std::int32_t, std::string& fName) {
      parts_ = sender.EndCentral().ThisDisk + 1;
      fName.clear();
    };
  }
  template <class TWork>
  void Run(const std::string& archive, TWork work) {
    try {
      work();
    } catch (const EUserCanceled&) {
      if (parts_ == 0) throw;
      RefuseSplitArchive(archive, parts_);
    }
  }

 private:
  std::int32_t parts_ = 0;
};

int ListArchive(const std::string& archive) {
  TKestrelUnZip unzip;
  // An input without an end record is reported, not guessed at.
  unzip.SetIncompleteZipMode(izAssumeNotAZip);
  unzip.SetZipName(archive);
  TSplitGuard split(unzip);
  split.Run(archive, [&] {
    unzip.LoadZipDirectory();
    // As an extraction does: this raises what loading the directory let pass.
    unzip.OpenZip();
  });
  std::string out;
  if (const TSortedZip* entries = unzip.ZipInfo()) {
    for (std::int32_t i = 0; i < entries->Count(); ++i) {
      out += ListingLine(*entries->Items(i));
      out += platform::ConsoleLineEnding();
    }
  }
  unzip.CloseZip();
  platform::WriteConsoleText(platform::TConsoleStream::Output, out);
  return ExitSuccess;
}

// One line on stderr for an entry that did not come out.
void ReportEntry(const std::string& what, const TKestrelUnZip& unzip, std::int32_t index) {
  std::string path;
  if (const TSortedZip* entries = unzip.ZipInfo(); entries != nullptr && index >= 0 && index < entries->Count()) {
    path = SlashPath(*entries->Items(index));
  }
  platform::WriteConsoleLine(platform::TConsoleStream::Error, what + ": " + path);
}

/// The progress line of an extraction on a terminal: shown once the extraction has
/// run for a second, redrawn in place at most ten times a second, and cleared at
/// the end, so that it never mixes with the lines about entries.
class TProgressLine {
 public:
  using TClock = std::chrono::steady_clock;

  void File(const std::string& path) { file_ = path; }
  void Update(std::int32_t percent, std::int64_t bytes) {
    const auto now = TClock::now();
    if (now - started_ < std::chrono::seconds(1) || (shown_ && now - drawn_ < std::chrono::milliseconds(100))) return;
    drawn_ = now;
    char figures[48];
    std::snprintf(figures, sizeof figures, "%3d%%  %8.1f MB  ", static_cast<int>(percent),
                  static_cast<double>(bytes) / 1e6);
    std::string line = figures;
    // One terminal line: a long path keeps its end, which names the file.
    constexpr std::size_t LineWidth = 79;
    const std::size_t room = LineWidth - line.size();
    line += file_.size() <= room ? file_ : "..." + file_.substr(file_.size() - (room - 3));
    Draw(line);
  }
  /// Called before any other line goes to stderr, and at the end.
  void Clear() {
    if (shown_) Draw(std::string());
    shown_ = false;
  }
  ~TProgressLine() { Clear(); }

 private:
  void Draw(const std::string& line) {
    // Back to the line's start; blanks cover what the last line had beyond this one.
    std::string text = "\r" + line;
    if (line.size() < width_) text += std::string(width_ - line.size(), ' ') + "\r" + line;
    platform::WriteConsoleText(platform::TConsoleStream::Error, text);
    width_ = line.size();
    shown_ = !line.empty();
  }

  TClock::time_point started_ = TClock::now();
  TClock::time_point drawn_;
  std::string file_;
  std::size_t width_ = 0;
  bool shown_ = false;
};

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

int ExtractArchive(const TToolCommand& command) {
  TKestrelUnZip unzip;
  unzip.SetIncompleteZipMode(izAssumeNotAZip);
  TSplitGuard split(unzip);
  unzip.SetRecreateDirs(true);
  unzip.SetZipName(command.Archive);
  unzip.SetDestDir(command.DestDir);
  unzip.SetPassword(command.Password);
  unzip.SetOverwriteMode(command.Overwrite);
  if (command.Patterns.empty())
    unzip.SetDoAll(true);
  else
    unzip.SetFilesList(command.Patterns);

  std::optional<TProgressLine> progress;
  if (platform::ConsoleIsTerminal(platform::TConsoleStream::Error)) {
    progress.emplace();
    unzip.OnTotalPercentDone = [&](TKestrelUnZip& sender, std::int32_t percent) {
      progress->Update(percent, sender.BtsDone());
    };
  }
  auto report = [&](const std::string& what, const TKestrelUnZip& sender, std::int32_t index) {
    if (progress) progress->Clear();
    ReportEntry(what, sender, index);
  };

  bool entryFailed = false;
  // What the component cannot decode is said as such, and never started: no
  // "wrong password" for an AES entry, no CRC error after an unknown method.
  unzip.OnStartUnZip = [&](TKestrelUnZip& sender, std::int32_t index, std::string&, bool& skip) {
    const TZipHeaderInfo& entry = *sender.ZipInfo()->Items(index);
    if (const auto reason = UnsupportedReason(entry)) {
      entryFailed = true;
      skip = true;
      report(*reason, sender, index);
      return;
    }
    if (progress) progress->File(SlashPath(entry));
  };
  unzip.OnSkippingFile = [&](TKestrelUnZip& sender, TSkipReason reason, const std::string&, std::int32_t index, bool&) {
    entryFailed = true;
    const char* why = reason == skBadPassword  ? "skipped, wrong password"
                      : reason == skFileExists ? "skipped, file exists"
                                               : "skipped, cannot create the file";
    report(why, sender, index);
  };
  unzip.OnBadCRC = [&](TKestrelUnZip& sender, std::uint32_t computed, std::uint32_t stored, std::int32_t index) {
    entryFailed = true;
    report("CRC error (computed " + Hex8(computed) + ", stored " + Hex8(stored) + ")", sender, index);
  };
  split.Run(command.Archive, [&] {
    unzip.LoadZipDirectory();
    // Even with the directory at hand, the entries lie in the other parts.
    if (unzip.EndCentral().ThisDisk != 0) RefuseSplitArchive(command.Archive, unzip.EndCentral().ThisDisk + 1);
    unzip.UnZip();
  });
  return entryFailed ? ExitEntryFailure : ExitSuccess;
}

}  // namespace

std::optional<TToolCommand> ParseToolCommand(const std::vector<std::string>& arguments) {
  TToolCommand command;
  std::vector<std::string> operands;
  bool list = false;
  bool optionsEnded = false;
  bool havePassword = false;
  bool haveOverwrite = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      operands.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help" || argument == "--version") {
      // Asked for alone, whatever else the line holds.
      command.Action = argument == "--version" ? TToolAction::Version : TToolAction::Help;
      return command;
    } else if (argument == "-l" && !list) {
      list = true;
    } else if (argument == "-P" && !havePassword && i + 1 < arguments.size()) {
      havePassword = true;
      command.Password = arguments[++i];
    } else if (argument == "-o" && !haveOverwrite && i + 1 < arguments.size()) {
      haveOverwrite = true;
      const std::string& mode = arguments[++i];
      if (mode == "always")
        command.Overwrite = TUZOverwriteMode::Always;
      else if (mode == "never")
        command.Overwrite = TUZOverwriteMode::Never;
      else if (mode == "newer")
        command.Overwrite = TUZOverwriteMode::ifNewer;
      else if (mode == "older")
        command.Overwrite = TUZOverwriteMode::ifOlder;
      else
        return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (list) {
    if (havePassword || haveOverwrite || operands.size() != 1 || operands[0].empty()) return std::nullopt;
    command.Action = TToolAction::List;
    command.Archive = operands[0];
    return command;
  }
  if (operands.size() < 2 || operands[0].empty() || operands[1].empty()) return std::nullopt;
  command.Action = TToolAction::Extract;
  command.Archive = operands[0];
  command.DestDir = operands[1];
  command.Patterns.assign(operands.begin() + 2, operands.end());
  return command;
}

std::vector<std::string> ToolUsage(const std::string& programName) {
  const std::string indent(7, ' ');  // under the first form, after "usage: "
  return {"usage: " + programName + " -l ARCHIVE",
          indent + programName + " [-P PASSWORD] [-o always|never|newer|older] ARCHIVE DESTDIR [PATTERN ...]",
          indent + programName + " -h | --help | --version"};
}

namespace {
void PrintUsage(platform::TConsoleStream stream, const std::string& programName) {
  for (const std::string& line : ToolUsage(programName)) platform::WriteConsoleLine(stream, line);
}
}  // namespace

int RunKestrelUnZip(const std::string& programName, const std::vector<std::string>& arguments) {
  const auto command = ParseToolCommand(arguments);
  if (!command) {
    PrintUsage(platform::TConsoleStream::Error, programName);
    return ExitUsage;
  }
  try {
    switch (command->Action) {
      case TToolAction::List:
        return ListArchive(command->Archive);
      case TToolAction::Extract:
        return ExtractArchive(*command);
      case TToolAction::Help:
        PrintUsage(platform::TConsoleStream::Output, programName);
        return ExitSuccess;
      case TToolAction::Version:
        platform::WriteConsoleLine(platform::TConsoleStream::Output, "kestrel-unzip " KESTREL_VERSION);
        return ExitSuccess;
    }
  } catch (const ECantWriteUCF& failure) {
    // Which write failed is the component's to say; why, the system's.
    std::string message = failure.what();
    if (failure.SystemError != 0) message += ": " + platform::SystemErrorText(failure.SystemError);
    platform::WriteConsoleLine(platform::TConsoleStream::Error, message);
    return ExitArchiveFailure;
  } catch (const std::exception& failure) {
    platform::WriteConsoleLine(platform::TConsoleStream::Error, failure.what());
    return ExitArchiveFailure;
  }
  return ExitUsage;
}

}  // namespace kestrel::tool
