#include "tools/archive_operands.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/path.h"
#include "tools/kestrel_unzip_tool.h"
#include "tools/run_report.h"
#include "unzip/member_match.h"

namespace kestrel::tool {
namespace {

/// The end of a run over several archives: unzip's counts, on stdout for -t (where
/// unzip says everything), on stderr otherwise; -p says nothing.
void SayTally(const TToolCommand& command, const TArchiveTally& tally) {
  if (command.Action == TToolAction::Pipe) return;
  const bool toOutput = command.Action == TToolAction::Test;
  const auto stream = toOutput ? platform::TConsoleStream::Output : platform::TConsoleStream::Error;
  if (!toOutput || command.Quiet < 2) platform::WriteConsoleLine(stream, "");
  for (const std::string& line : tally.Lines()) platform::WriteConsoleLine(stream, line);
}

}  // namespace

bool HasWildcards(const std::string& name) { return name.find_first_of("*?[") != std::string::npos; }

bool ArchiveNameMatches(const std::string& pattern, const std::string& name) {
  // Hidden files are taken only by a pattern that asks for them.
  if (name.starts_with('.') && !pattern.starts_with('.')) return false;
  // Members' rule, as unzip reads both: "\" makes the next character plain, and a
  // "[" without its "]" matches nothing. Case counts where the file system's does.
  return MemberMatch(pattern, name, platform::HostPathRules().CaseInsensitive);
}

TArchiveMatches MatchArchives(const std::string& pattern) {
  TArchiveMatches matches;
  const std::string folder = platform::PathFolderPart(pattern);
  const std::string namePattern = pattern.substr(folder.size());
  const auto entries = platform::ListFolder(folder.empty() ? std::string(".") : folder);
  if (!entries) return matches;
  for (const platform::TFolderEntry& entry : *entries) {
    if (entry.Name == "." || entry.Name == ".." || !ArchiveNameMatches(namePattern, entry.Name)) continue;
    if (platform::FolderExists(folder + entry.Name))
      ++matches.Folders;
    else
      matches.Files.push_back(folder + entry.Name);
  }
  std::sort(matches.Files.begin(), matches.Files.end());
  return matches;
}

void TArchiveTally::Add(int status, bool read) {
  status_ = std::max(status_, status);
  TArchiveOutcome outcome = TArchiveOutcome::Fatal;
  if (!read && status == ExitNotFound)
    outcome = TArchiveOutcome::NoDirectory;
  else if (status == ExitSuccess)
    outcome = TArchiveOutcome::Processed;
  else if (status == ExitWarning)
    outcome = TArchiveOutcome::Warnings;
  ++counts_[static_cast<int>(outcome)];
}

std::vector<std::string> TArchiveTally::Lines() const {
  std::vector<std::string> lines;
  const auto count = [this](TArchiveOutcome outcome) { return counts_[static_cast<int>(outcome)]; };
  const auto add = [&lines](std::int32_t n, const char* one, const char* many) {
    if (n > 0) lines.push_back(std::to_string(n) + (n == 1 ? one : many));
  };
  add(count(TArchiveOutcome::Processed), " archive was successfully processed.",
      " archives were successfully processed.");
  add(count(TArchiveOutcome::Warnings), " archive had warnings but no fatal errors.",
      " archives had warnings but no fatal errors.");
  add(count(TArchiveOutcome::Fatal), " archive had fatal errors.", " archives had fatal errors.");
  add(count(TArchiveOutcome::NoDirectory), " file had no zipfile directory.", " files had no zipfile directory.");
  add(folders_, " \"zipfile\" was a directory.", " \"zipfiles\" were directories.");
  if (count(TArchiveOutcome::Processed) + count(TArchiveOutcome::Warnings) + count(TArchiveOutcome::Fatal) == 0)
    lines.push_back("No zipfiles found.");
  return lines;
}

int RunMatchingArchives(const TToolCommand& command, const TArchiveRunner& run) {
  const TArchiveMatches matches = MatchArchives(command.Archive);
  bool read = false;
  if (matches.Files.size() == 1 && matches.Folders == 0) return run(matches.Files.front(), read);
  if (matches.Files.empty()) {
    // Folders alone are no match either: unzip finds no zipfile.
    TRunReport(command.Archive).Say("no archive matches");
    SayTally(command, TArchiveTally(0));
    return ExitNotFound;
  }
  TArchiveTally tally(matches.Folders);
  // -Z1 too: only -p's bytes and the JSON Lines of --json run on without a break.
  const bool separated = command.Quiet == 0 && command.Action != TToolAction::Pipe && !command.Json;
  for (std::size_t i = 0; i < matches.Files.size(); ++i) {
    const int status = run(matches.Files[i], read);
    tally.Add(status, read);
    if (status == ExitInterrupted) return status;
    if (separated && read && i + 1 < matches.Files.size())
      platform::WriteConsoleLine(platform::TConsoleStream::Output, "");
  }
  SayTally(command, tally);
  return tally.Status();
}

}  // namespace kestrel::tool
