#include "tools/progress_line.h"

#include <cstdio>

#include "platform/file_system.h"
#include "tools/terminal_text.h"

namespace kestrel::tool {

void TProgressLine::Update(std::int32_t percent, std::int64_t bytes) {
  const auto now = TClock::now();
  // Cleared for another line, it comes back with the next redraw that is due, so
  // that a run of short lines does not make it flicker.
  if (now - started_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = now;
  char figures[48];
  std::snprintf(figures, sizeof figures, "%3d%%  %8.1f MB  ", static_cast<int>(percent),
                static_cast<double>(bytes) / 1e6);
  // One column short of the width: a line that fills it would wrap on some
  // terminals, and "\r" would then no longer reach its start.
  const int width = platform::ConsoleWidth(platform::TConsoleStream::Error);
  const std::size_t columns = width > 0 ? static_cast<std::size_t>(width) - 1 : 79;
  std::string line = figures;
  if (line.size() >= columns) line.clear();
  line += FitToWidth(file_, columns - line.size());
  Draw(line);
}

void TProgressLine::Clear() {
  if (shown_) Draw(std::string());
  shown_ = false;
}

void TProgressLine::Draw(const std::string& line) {
  // Back to the line's start; blanks cover what the last line had beyond this one.
  const std::size_t width = DisplayWidth(line);
  std::string text = "\r" + line;
  if (width < width_) text += std::string(width_ - width, ' ') + "\r" + line;
  platform::WriteConsoleText(platform::TConsoleStream::Error, text);
  width_ = width;
  shown_ = !line.empty();
}

}  // namespace kestrel::tool
