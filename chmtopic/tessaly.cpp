#include "chmtopic/tessaly.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chmtopic/chmlib_file.h"
#include "chmtopic/default_topic.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/utf8.h"

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

/// Prints the address on standard output, with no line ending, so that a caller
/// takes it whole; a person at a terminal gets the line ended, so that the prompt
/// does not run on after it.
bool PrintAddress(const std::string& address) {
  platform::SetLastSystemError(0);
  const bool terminal = platform::ConsoleIsTerminal(TConsoleStream::Output);
  if (terminal ? platform::WriteConsoleLine(TConsoleStream::Output, address)
               : platform::WriteConsoleText(TConsoleStream::Output, address))
    return true;
  ReportOutputFailure("cannot write to standard output", platform::LastSystemError());
  return false;
}

/// One line on stderr about the help file, beside what stdout says for callers.
void ReportHelpFile(const std::string& chmPath, const std::string& problem) {
  platform::WriteConsoleLine(TConsoleStream::Error, "tessaly: " + chmPath + ": " + problem);
}

/// Why a file could not be opened as a CHM.
std::string WhyNoChm(const std::string& chmPath) {
  platform::SetLastSystemError(0);
  const std::optional<platform::TFileKind> kind = platform::QueryFileKind(chmPath);
  if (!kind) {
    const int error = platform::LastSystemError();
    return error == platform::ErrorFileNotFound || error == 0 ? "no such file" : platform::SystemErrorText(error);
  }
  if (*kind == platform::TFileKind::Folder) return "a folder, not a file";
  if (*kind == platform::TFileKind::Other) return "not a file but a pipe or a device";
  platform::TFile file = platform::TFile::Open(chmPath, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  if (!file.IsOpen()) return "cannot be read: " + platform::SystemErrorText(platform::LastSystemError());
  return "not a CHM file (Compiled HTML Help)";
}

/// The topic in the system's code page (UTF-8 on Linux and wherever Windows lets
/// the program have it). The help compiler writes names in the code page of the
/// project's language, so a Russian help file's "Введение.htm" comes in
/// windows-1251; a name that is already UTF-8 (some compilers write that) stays.
std::string TopicInSystemCodePage(const std::string& topic, std::optional<std::uint32_t> language) {
  if (!language || platform::IsUtf8(topic)) return topic;
  const std::uint32_t codePage = AnsiCodePageOfLanguage(*language);
  if (codePage == 0) return topic;
  const std::optional<std::string> utf8 = platform::CodePageToUtf8(codePage, topic);
  return utf8 ? platform::Utf8ToAnsi(*utf8) : topic;
}

}  // namespace

std::string FindDefaultTopic(const std::string& chmPath) {
  TChmlibFile chm(chmPath);
  if (!chm.IsOpen()) return {};
  return TopicAddress(chmPath, TopicInSystemCodePage(LookUpDefaultTopic(chm), FindSystemLanguage(chm)));
}

int RunTessaly(const std::string& programName, const std::vector<std::string>& arguments) {
  const auto printUsage = [&] {
    platform::WriteConsoleLine(TConsoleStream::Output, "Tessaly");
    platform::WriteConsoleLine(TConsoleStream::Output, "usage: " + programName + " <chmfile> [output_filename]");
  };
  if (arguments.empty()) {
    printUsage();
    return ExitUsage;
  }
  // A help file named so is reached as "./--help".
  if (arguments[0] == "--help" || arguments[0] == "-h") {
    printUsage();
    platform::WriteConsoleLine(TConsoleStream::Output, "       " + programName + " --help | --version");
    return ExitSuccess;
  }
  if (arguments[0] == "--version") {
    platform::WriteConsoleLine(TConsoleStream::Output, "tessaly " KESTREL_VERSION);
    return ExitSuccess;
  }
  const std::string& chmPath = arguments[0];
  // A pipe or a device is never opened: chmlib reads a help file here and there,
  // and would wait on a pipe for ever.
  const bool isOther = platform::QueryFileKind(chmPath) == platform::TFileKind::Other;
  const std::string address = isOther ? std::string() : FindDefaultTopic(chmPath);
  if (address.empty()) {
    platform::WriteConsoleLine(TConsoleStream::Output, "Could not find CHM index...");
    ReportHelpFile(chmPath, WhyNoChm(chmPath));
    return ExitNoChm;
  }
  if (address == TopicAddress(chmPath, {})) ReportHelpFile(chmPath, "the help file names no default topic");
  if (arguments.size() >= 2) return WriteAddressFile(arguments[1], address) ? ExitSuccess : ExitOutputFailed;
  return PrintAddress(address) ? ExitSuccess : ExitOutputFailed;
}

}  // namespace tessaly
