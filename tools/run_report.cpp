#include "tools/run_report.h"

#include <algorithm>

#include "platform/file_system.h"
#include "tools/progress_line.h"
#include "tools/terminal_text.h"
#include "tools/unzip_listing.h"

namespace kestrel::tool {

TRunReport::TRunReport(const std::string& archive) : archive_(TerminalText(archive)) {}

void TRunReport::ClearProgress() {
  if (progress_ != nullptr) progress_->Clear();
}

void TRunReport::Say(const std::string& text) {
  ClearProgress();
  platform::WriteConsoleLine(platform::TConsoleStream::Error, "kestrel-unzip: " + archive_ + ": " + text);
}

void TRunReport::Print(const std::string& line) {
  ClearProgress();
  platform::WriteConsoleLine(platform::TConsoleStream::Output, line);
}

void TRunReport::SayEntry(const TZipHeaderInfo& entry, const std::string& text) {
  Say(ListedPath(entry) + ": " + text);
}

void TRunReport::Raise(int status) { status_ = std::max(status_, status); }

}  // namespace kestrel::tool
