#pragma once
// kestrel-unzip: unzip's command line over the zip component.

#include <string>
#include <vector>

#include "tools/unzip_options.h"

namespace kestrel::tool {

/// Exit statuses of kestrel-unzip, unzip's own, which scripts test for.
enum : int {
  ExitSuccess = 0,
  ExitWarning = 1,      ///< some entries were skipped or failed, or the archive needed a work-around
  ExitFormatError = 2,  ///< a format error: an entry failed its CRC; the destination cannot be made
  ExitSevereError = 3,  ///< a severe format error: the archive cannot be read, or ended inside an entry
  ExitNotFound = 9,     ///< the archive was not found, or is no zip archive
  ExitUsage = 10,       ///< bad options
  ExitNoMatch = 11,     ///< a member matched no entry
  ExitDiskFull = 50,    ///< a file could not be written
  ExitInterrupted = 80,
  ExitUnsupported = 81,  ///< entries skipped for a compression method or an encryption without a decoder
  ExitBadPassword = 82,  ///< no entry came out, and some were skipped for a wrong password
};

/// Runs the tool on the arguments (without the program name); returns the exit status.
int RunKestrelUnZip(const std::vector<std::string>& arguments);

}  // namespace kestrel::tool
