#pragma once
// kestrel-unzip: the command line over the zip component.

#include <optional>
#include <string>
#include <vector>

namespace kestrel::tool {

/// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitArchiveFailure = 2;  ///< the archive as a whole could not be read
inline constexpr int kExitUsage = 3;

enum class TToolAction { List };

/// A parsed command line.
struct TToolCommand {
  TToolAction Action = TToolAction::List;
  std::string Archive;
};

/// Parses the arguments (without the program name); nothing on a usage error.
std::optional<TToolCommand> ParseToolCommand(const std::vector<std::string>& arguments);

/// The usage text, one line per form.
std::string ToolUsage(const std::string& programName);

/// Runs the tool; returns the exit status.
int RunKestrelUnZip(const std::string& programName, const std::vector<std::string>& arguments);

}  // namespace kestrel::tool
