#include "chmtopic/tessaly.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "chmtopic/chmlib_file.h"
#include "chmtopic/default_topic.h"
#include "platform/file_system.h"

namespace tessaly {
namespace {

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFileHandle = std::unique_ptr<std::FILE, TFileCloser>;

/// One line on stderr: what failed, and the system's reason.
void ReportOutputFailure(const std::string& what, int code) {
  const std::string reason = code != 0 ? platform::SystemErrorText(code) : "the system gave no reason";
  std::fprintf(stderr, "tessaly: %s: %s\n", what.c_str(), reason.c_str());
}

/// Writes the address, with no line ending, into the named file (created, or
/// truncated when it exists). Reports a failure on stderr and returns false.
bool WriteAddressFile(const std::string& fileName, const std::string& address) {
  platform::SetLastSystemError(0);
  TFileHandle file(std::fopen(fileName.c_str(), "w"));
  if (!file) {
    ReportOutputFailure("cannot open output file \"" + fileName + "\"", platform::LastSystemError());
    return false;
  }
  const bool written = std::fwrite(address.data(), 1, address.size(), file.get()) == address.size();
  const int writeError = platform::LastSystemError();
  // fclose flushes the buffered address, so a full disk often shows only here.
  const bool closed = std::fclose(file.release()) == 0;
  if (written && closed) return true;
  ReportOutputFailure("cannot write output file \"" + fileName + "\"",
                      written ? platform::LastSystemError() : writeError);
  return false;
}

/// Prints the address on standard output, with no line ending.
bool PrintAddress(const std::string& address) {
  platform::SetLastSystemError(0);
  const bool written = std::fwrite(address.data(), 1, address.size(), stdout) == address.size();
  if (written && std::fflush(stdout) == 0) return true;
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
    std::printf("Tessaly\nusage: %s <chmfile> [output_filename]\n", programName.c_str());
    return ExitUsage;
  }
  const std::string address = FindDefaultTopic(arguments[0]);
  if (address.empty()) {
    std::printf("Could not find CHM index...\n");
    return ExitNoChm;
  }
  if (arguments.size() >= 2) return WriteAddressFile(arguments[1], address) ? ExitSuccess : ExitOutputFailed;
  return PrintAddress(address) ? ExitSuccess : ExitOutputFailed;
}

}  // namespace tessaly
