#pragma once
// kestrel-unzip: the command line over the zip component.

#include <optional>
#include <string>
#include <vector>

#include "unzip/kestrel_unzip.h"

namespace kestrel::tool {

/// Exit statuses of kestrel-unzip.
enum : int {
  ExitSuccess = 0,         ///< listed, or every selected entry extracted
  ExitEntryFailure = 1,    ///< an entry was skipped or failed its CRC
  ExitArchiveFailure = 2,  ///< the archive as a whole could not be read, or the run ended
  ExitUsage = 3,           ///< the command line is not valid
};

enum class TToolAction { List, Extract, Help, Version };

/// A parsed command line.
struct TToolCommand {
  TToolAction Action = TToolAction::List;
  std::string Archive;
  std::string DestDir;                                    ///< extraction: the destination folder
  std::vector<std::string> Patterns;                      ///< extraction: the entries to take; all without any
  std::string Password;                                   ///< -P: the bytes as given
  TUZOverwriteMode Overwrite = TUZOverwriteMode::Always;  ///< -o: always, never, newer or older
};

/// Parses the arguments (without the program name); nothing on a usage error.
std::optional<TToolCommand> ParseToolCommand(const std::vector<std::string>& arguments);

/// The usage text: one line per form.
std::vector<std::string> ToolUsage(const std::string& programName);

/// Runs the tool; returns the exit status.
int RunKestrelUnZip(const std::string& programName, const std::vector<std::string>& arguments);

}  // namespace kestrel::tool
