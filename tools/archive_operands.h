#pragma once
// The archives one ARCHIVE operand stands for, and what a run over several of
// them says at its end. A name with wildcard characters ("*", "?", "[...]") that
// names no file stands for the files its last part matches in its folder, as
// unzip takes it ("kestrel-unzip '*.zip'"): each is processed in turn with the same
// members and options, and the end counts how they went.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/unzip_options.h"

namespace kestrel::tool {

/// Whether a name holds a wildcard character: "*", "?" or "[".
bool HasWildcards(const std::string& name);

/// Whether a file's name matches the pattern, by the rule of members ("*", "?",
/// "[...]" with "!" or "^", "\" before a plain character), case counting where the
/// file system's does. A leading "." is matched by a "." alone.
bool ArchiveNameMatches(const std::string& pattern, const std::string& name);

/// What a wildcard operand matches in its folder: the files, by name in sorted
/// order (with the folder as given before each), and how many folders matched
/// as well, which are no archives.
struct TArchiveMatches {
  std::vector<std::string> Files;
  std::int32_t Folders = 0;
};
TArchiveMatches MatchArchives(const std::string& pattern);

/// How the processing of one archive of several went.
enum class TArchiveOutcome {
  Processed,    ///< status 0
  Warnings,     ///< status 1
  Fatal,        ///< read, with a worse status
  NoDirectory,  ///< not read: no archive was found in the file
};

/// The counts of a run over several archives, and the lines unzip ends it with.
class TArchiveTally {
 public:
  explicit TArchiveTally(std::int32_t folders) : folders_(folders) {}
  /// One archive done, with its status; read: whether its directory was read.
  void Add(int status, bool read);
  /// The run's status: the worst of the archives'.
  int Status() const { return status_; }
  /// "2 archives were successfully processed.", "1 archive had fatal errors.", ...,
  /// "No zipfiles found." when none was read.
  std::vector<std::string> Lines() const;

 private:
  std::int32_t counts_[4] = {0, 0, 0, 0};
  std::int32_t folders_;
  int status_ = 0;
};

/// Runs the tool over one archive: its status; read says whether its directory
/// was read.
using TArchiveRunner = std::function<int(const std::string& archive, bool& read)>;

/// The archives a name with wildcards stands for (command.Archive), each run in
/// turn in sorted order, with a blank line after each one read (unless quiet),
/// then the counts: on stdout with -t, where unzip says everything, on stderr
/// otherwise, none with -p. One match alone is run as if named. The status is
/// the worst of the archives'; an interrupt ends the run at once.
int RunMatchingArchives(const TToolCommand& command, const TArchiveRunner& run);

}  // namespace kestrel::tool
