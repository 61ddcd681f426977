#include "chmtopic/tessaly.h"

#include <cstdint>
#include <string>
#include <vector>

#include "chmtopic/chmlib_file.h"
#include "chmtopic/default_topic.h"
#include "platform/file_system.h"

namespace tessaly {
namespace {

using platform::TConsoleStream;

/// One line on stderr: what failed, and the system's reason.
void ReportOutputFailure(const std::string& what, int code) {
  const std::string reason = code != 0 ? platform::SystemErrorText(code) : "the system gave no reason";
  platform::WriteConsoleLine(TConsoleStream::Error, "tessaly: " + what + ": " + reason);
}

/// Writes the address, with no line ending, into the named file (created, or
/// truncated when it exists). Reports a failure on stderr and returns false.
bool WriteAddressFile(const std::string& fileName, const std::string& address) {
  platform::SetLastSystemError(0);
  platform::TFile file = platform::TFile::Open(fileName, platform::TFileAccess::Write, platform::TFileShare::Read,
                                               platform::TFileCreation::CreateAlways);
  if (!file.IsOpen()) {
    ReportOutputFailure("cannot open output file \"" + fileName + "\"", platform::LastSystemError());
    return false;
  }
  const bool written = file.Write(address.data(), address.size()) == static_cast<std::int64_t>(address.size());
  const int writeError = platform::LastSystemError();
  // Closing can be where a full disk shows.
  const bool closed = file.Close();
  if (written && closed) return true;
  ReportOutputFailure("cannot write output file \"" + fileName + "\"",
                      written ? platform::LastSystemError() : writeError);
  return false;
}

/// Prints the address on standard output, with no line ending.
bool PrintAddress(const std::string& address) {
  platform::SetLastSystemError(0);
  if (platform::WriteConsoleText(TConsoleStream::Output, address)) return true;
  ReportOutputFailure("cannot write to standard output", platform::LastSystemError());
  return false;
}

}  // namespace

std::string FindDefaultTopic(const std::string& chmPath) {
  TChmlibFile chm(chmPath);
  if (!chm.IsOpen()) return {};
  return TopicAddress(chmPath, LookUpDefaultTopic(chm));
}

int RunTessaly(const std::string& programName, const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    platform::WriteConsoleLine(TConsoleStream::Output, "Tessaly");
    platform::WriteConsoleLine(TConsoleStream::Output, "usage: " + programName + " <chmfile> [output_filename]");
    return ExitUsage;
  }
  const std::string address = FindDefaultTopic(arguments[0]);
  if (address.empty()) {
    platform::WriteConsoleLine(TConsoleStream::Output, "Could not find CHM index...");
    return ExitNoChm;
  }
  if (arguments.size() >= 2) return WriteAddressFile(arguments[1], address) ? ExitSuccess : ExitOutputFailed;
  return PrintAddress(address) ? ExitSuccess : ExitOutputFailed;
}

}  // namespace tessaly
