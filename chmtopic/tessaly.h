#pragma once
// The tessaly program: prints the address of a CHM file's default topic.

#include <string>
#include <vector>

namespace tessaly {

/// Exit statuses of tessaly.
enum : int {
  ExitSuccess = 0,       ///< the address was printed or written
  ExitUsage = 1,         ///< no CHM path: the usage text was printed
  ExitNoChm = 2,         ///< the file could not be opened as a CHM
  ExitOutputFailed = 3,  ///< the output file (or standard output) could not be written
};

/// "mk:@msitstore:" + CHM path + "::/" + the default topic when the CHM names one.
/// Empty only when the file cannot be opened as a CHM.
std::string FindDefaultTopic(const std::string& chmPath);

/// The whole program. programName is the invocation name the usage text shows;
/// arguments exclude it. Returns the exit status.
int RunTessaly(const std::string& programName, const std::vector<std::string>& arguments);

}  // namespace tessaly
