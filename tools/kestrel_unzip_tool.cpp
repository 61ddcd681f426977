#include "tools/kestrel_unzip_tool.h"

#include <cstdio>
#include <exception>

#include "platform/file_system.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel::tool {
namespace {

/// One listing line: method, compressed size, uncompressed size, CRC-32 and the
/// stored path with "/" separators.
std::string ListingLine(const TZipHeaderInfo& entry) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(entry.CRC32));
  std::string path = entry.StoredPath();
  for (char& c : path)
    if (c == '\\') c = '/';
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
      out += '\n';
    }
  }
  unzip.CloseZip();
  platform::WriteConsoleText(platform::TConsoleStream::Output, out);
  return kExitSuccess;
}

}  // namespace

std::optional<TToolCommand> ParseToolCommand(const std::vector<std::string>& arguments) {
  TToolCommand command;
  std::vector<std::string> operands;
  bool list = false;
  bool optionsEnded = false;
  for (const std::string& argument : arguments) {
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && argument == "-l") {
      if (list) return std::nullopt;
      list = true;
    } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
      return std::nullopt;
    } else {
      operands.push_back(argument);
    }
  }
  if (!list || operands.size() != 1 || operands[0].empty()) return std::nullopt;
  command.Action = TToolAction::List;
  command.Archive = operands[0];
  return command;
}

std::string ToolUsage(const std::string& programName) {
  return "usage: " + programName + " -l ARCHIVE";
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
    }
  } catch (const std::exception& failure) {
    platform::WriteConsoleLine(platform::TConsoleStream::Error, failure.what());
    return kExitArchiveFailure;
  }
  return kExitUsage;
}

}  // namespace kestrel::tool
