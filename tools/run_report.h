#pragma once
// What a run of kestrel-unzip says on stderr about its archive, and the worst
// exit status it has come to.

#include <string>

#include "tools/kestrel_unzip_tool.h"
#include "unzip/zip_records.h"

namespace kestrel::tool {

class TProgressLine;

/// The lines on stderr of one run, each "kestrel-unzip: ARCHIVE: ...", and the
/// worst status seen.
class TRunReport {
 public:
  /// archive: as named on the command line; it is said as a terminal shows it.
  explicit TRunReport(const std::string& archive);

  /// The progress line to clear before each line; null when there is none.
  void SetProgress(TProgressLine* progress) { progress_ = progress; }
  /// Clears the progress line, for a question that starts where it stood.
  void ClearProgress();
  void Say(const std::string& text);
  /// A line on stdout, where the progress line does not show.
  void Print(const std::string& line);
  /// A line about an entry: "kestrel-unzip: ARCHIVE: PATH: text".
  void SayEntry(const TZipHeaderInfo& entry, const std::string& text);
  /// Makes the run's status at least status.
  void Raise(int status);
  int Status() const { return status_; }
  /// The archive's name, as a terminal shows it.
  const std::string& Archive() const { return archive_; }

 private:
  std::string archive_;
  TProgressLine* progress_ = nullptr;
  int status_ = ExitSuccess;
};

}  // namespace kestrel::tool
