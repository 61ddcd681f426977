// POSIX backend of the host user interface: a console has no windows, so message
// boxes become lines on stderr and dialogs are always cancelled.

#include "platform/host_ui.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace platform {

TMessageAnswer ShowMessageBox(std::string_view caption, std::string_view text, TMessageButtons buttons) {
  std::string line(caption);
  if (!line.empty()) line += ": ";
  for (const char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  const bool asks = buttons == TMessageButtons::YesNo || buttons == TMessageButtons::YesNoCancel;
  if (asks && ::isatty(STDIN_FILENO) == 1) line += " [y/N] ";
  std::fwrite(line.data(), 1, line.size(), stderr);
  if (!asks || ::isatty(STDIN_FILENO) != 1) {
    std::fputc('\n', stderr);
    if (asks) return TMessageAnswer::No;
    return buttons == TMessageButtons::OkCancel ? TMessageAnswer::Cancel : TMessageAnswer::Ok;
  }
  std::fflush(stderr);
  std::string answer;
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) answer += static_cast<char>(c);
  return (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) ? TMessageAnswer::Yes : TMessageAnswer::No;
}

void ProcessHostMessages() {}

TBusyCursor::TBusyCursor() = default;
TBusyCursor::~TBusyCursor() = default;

std::optional<std::string> SelectFolderDialog(std::string_view) { return std::nullopt; }
std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) { return std::nullopt; }

bool DriveIsRemovable(const std::string&) { return false; }
std::string VolumeLabel(const std::string&) { return {}; }

}  // namespace platform
