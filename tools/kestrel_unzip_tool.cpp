#include "tools/kestrel_unzip_tool.h"

#include <cstdio>
#include <exception>

#include "platform/file_system.h"
#include "unzip/kestrel_unzip.h"

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

int ListArchive(const std::string& archive) {
  TKestrelUnZip unzip;
  // An input without an end record is reported, not guessed at.
  unzip.SetIncompleteZipMode(izAssumeNotAZip);
  unzip.SetZipName(archive);
  unzip.LoadZipDirectory();
  // As an extraction does: this raises what loading the directory let pass.
  unzip.OpenZip();
  std::string out;
  if (const TSortedZip* entries = unzip.ZipInfo()) {
    for (std::int32_t i = 0; i < entries->Count(); ++i) {
      out += ListingLine(*entries->Items(i));
      out += platform::ConsoleLineEnding();
    }
  }
  unzip.CloseZip();
  platform::WriteConsoleText(platform::TConsoleStream::Output, out);
  return kExitSuccess;
}

// One line on stderr for an entry that did not come out.
void ReportEntry(const std::string& what, const TKestrelUnZip& unzip, std::int32_t index) {
  std::string path;
  if (const TSortedZip* entries = unzip.ZipInfo(); entries != nullptr && index >= 0 && index < entries->Count()) {
    path = SlashPath(*entries->Items(index));
  }
  platform::WriteConsoleLine(platform::TConsoleStream::Error, what + ": " + path);
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

int ExtractArchive(const TToolCommand& command) {
  TKestrelUnZip unzip;
  unzip.SetIncompleteZipMode(izAssumeNotAZip);
  unzip.SetRecreateDirs(true);
  unzip.SetZipName(command.Archive);
  unzip.SetDestDir(command.DestDir);
  unzip.SetPassword(command.Password);
  if (command.Overwrite == "never") unzip.SetOverwriteMode(TUZOverwriteMode::Never);
  else if (command.Overwrite == "newer") unzip.SetOverwriteMode(TUZOverwriteMode::ifNewer);
  else if (command.Overwrite == "older") unzip.SetOverwriteMode(TUZOverwriteMode::ifOlder);
  else unzip.SetOverwriteMode(TUZOverwriteMode::Always);
  if (command.Patterns.empty()) unzip.SetDoAll(true);
  else unzip.SetFilesList(command.Patterns);

  bool entryFailed = false;
  unzip.OnSkippingFile = [&](TKestrelUnZip& sender, TSkipReason reason, const std::string&, std::int32_t index,
                             bool&) {
    entryFailed = true;
    const char* why = reason == skBadPassword  ? "skipped, wrong password"
                      : reason == skFileExists ? "skipped, file exists"
                                               : "skipped, cannot create the file";
    ReportEntry(why, sender, index);
  };
  unzip.OnBadCRC = [&](TKestrelUnZip& sender, std::uint32_t computed, std::uint32_t stored, std::int32_t index) {
    entryFailed = true;
    ReportEntry("CRC error (computed " + Hex8(computed) + ", stored " + Hex8(stored) + ")", sender, index);
  };
  unzip.UnZip();
  return entryFailed ? kExitEntryFailure : kExitSuccess;
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
    } else if (argument == "-l" && !list) {
      list = true;
    } else if (argument == "-P" && !havePassword && i + 1 < arguments.size()) {
      havePassword = true;
      command.Password = arguments[++i];
    } else if (argument == "-o" && !haveOverwrite && i + 1 < arguments.size()) {
      haveOverwrite = true;
      command.Overwrite = arguments[++i];
      if (command.Overwrite != "always" && command.Overwrite != "never" && command.Overwrite != "newer" &&
          command.Overwrite != "older") {
        return std::nullopt;
      }
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

std::string ToolUsage(const std::string& programName) {
  return "usage: " + programName + " -l ARCHIVE\n       " + programName +
         " [-P PASSWORD] [-o always|never|newer|older] ARCHIVE DESTDIR [PATTERN ...]";
}

int RunKestrelUnZip(const std::string& programName, const std::vector<std::string>& arguments) {
  const auto command = ParseToolCommand(arguments);
  if (!command) {
    platform::WriteConsoleLine(platform::TConsoleStream::Error, ToolUsage(programName));
    return kExitUsage;
  }
  try {
    switch (command->Action) {
      case TToolAction::List: return ListArchive(command->Archive);
      case TToolAction::Extract: return ExtractArchive(*command);
    }
  } catch (const std::exception& failure) {
    platform::WriteConsoleLine(platform::TConsoleStream::Error, failure.what());
    return kExitArchiveFailure;
  }
  return kExitUsage;
}

}  // namespace kestrel::tool
