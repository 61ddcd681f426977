#pragma once
// kestrel-unzip's progress line on a terminal: the share of the archive done, the
// megabytes written and the entry at hand, on stderr's last line, redrawn in place.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::tool {

/// The progress line of a run on a terminal: shown once the run has taken a
/// second, redrawn in place at most ten times a second within the terminal's
/// width, and cleared before any other line (on stdout or stderr), before a
/// question and at the end; it comes back at the next redraw.
class TProgressLine {
 public:
  using TClock = std::chrono::steady_clock;

  /// The entry at hand, as listed.
  void File(const std::string& path) { file_ = path; }
  /// Redraws the line with the share done and the bytes written, when it is due.
  void Update(std::int32_t percent, std::int64_t bytes);
  /// Called before any other line goes to stderr, and at the end.
  void Clear();
  ~TProgressLine() { Clear(); }

 private:
  void Draw(const std::string& line);

  TClock::time_point started_ = TClock::now();
  TClock::time_point drawn_;
  std::string file_;
  std::size_t width_ = 0;
  bool shown_ = false;
};

}  // namespace kestrel::tool
