// POSIX backend of the host user interface: a console has no windows, so message
// boxes become lines on stderr and dialogs are always cancelled. Questions are read
// from standard input with read(2) once poll(2) finds a byte there, or gives up when
// Ctrl-C has been pressed: the handler also writes into a pipe that the wait
// watches, so that a Ctrl-C that comes just before the wait, or that a worker
// thread receives, still ends it.

#include "platform/host_ui.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

namespace platform {
namespace {

// Set by the signal handler; a handler may touch nothing else but the pipe.
volatile std::sig_atomic_t interrupted = 0;
// Set while the program removes what it left half done: a second Ctrl-C waits.
volatile std::sig_atomic_t holding = 0;
// The pipe that wakes a wait for an answer: the handler writes, ReadLine watches.
int interruptPipe[2] = {-1, -1};

extern "C" void NoteInterrupt(int) {
  if (interrupted != 0 && holding == 0) {
    // The second Ctrl-C: whatever the program is doing, it ends now.
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  interrupted = 1;
  if (interruptPipe[1] >= 0) {
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], "!", 1);
    errno = saved;
  }
}

struct sigaction previousAction;
struct sigaction previousFileSizeAction;

/// Waits until standard input has a byte to read (or its end); false when Ctrl-C
/// came first, before the wait or during it.
bool WaitForInput() {
  for (;;) {
    if (interrupted != 0) return false;
    pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptPipe[0], POLLIN, 0}};
    const int ready = ::poll(watched, interruptPipe[0] >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno != EINTR) return true;  // read(2) will say what is wrong
    if (interrupted != 0) return false;
    if (ready > 0 && watched[0].revents != 0) return true;
  }
}

std::optional<std::string> ReadLine(std::string_view prompt) {
  std::fflush(stdout);
  std::fwrite(prompt.data(), 1, prompt.size(), stderr);
  std::fflush(stderr);
  std::string line;
  for (;;) {
    if (!WaitForInput()) return std::nullopt;
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR && interrupted == 0) continue;
    if (got <= 0) return std::nullopt;
    if (c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadAnswer(std::string_view prompt) { return ReadLine(prompt); }

std::optional<std::string> ReadSecret(std::string_view prompt) {
  termios saved{};
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;  // the line end still shows, so the next line starts afresh
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return std::nullopt;
  std::optional<std::string> secret = ReadLine(prompt);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!secret) std::fputc('\n', stderr);
  return secret;
}

TInterruptCatcher::TInterruptCatcher() {
  interrupted = 0;
  holding = 0;
  if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) interruptPipe[0] = interruptPipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = NoteInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read that waits for an answer gives up
  ::sigaction(SIGINT, &action, &previousAction);
  // A write beyond the file-size limit (ulimit -f) then fails with EFBIG, which the
  // program reports as a full disk after removing what it left half done, where
  // the signal would end it with the file half written.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, &previousFileSizeAction);
}

void TInterruptCatcher::HoldFurther() { holding = 1; }

TInterruptCatcher::~TInterruptCatcher() {
  ::sigaction(SIGXFSZ, &previousFileSizeAction, nullptr);
  ::sigaction(SIGINT, &previousAction, nullptr);
  for (int& end : interruptPipe) {
    if (end >= 0) ::close(end);
    end = -1;
  }
  holding = 0;
}

bool InterruptRequested() { return interrupted != 0; }

TMessageAnswer ShowMessageBox(std::string_view caption, std::string_view text, TMessageButtons buttons) {
  std::string line(caption);
  if (!line.empty()) line += ": ";
  for (const char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  const bool asks = buttons == TMessageButtons::YesNo || buttons == TMessageButtons::YesNoCancel;
  if (asks && InputIsTerminal()) {
    const std::optional<std::string> answer = ReadLine(line + " [y/N] ");
    return answer && !answer->empty() && ((*answer)[0] == 'y' || (*answer)[0] == 'Y') ? TMessageAnswer::Yes
                                                                                      : TMessageAnswer::No;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  if (asks) return TMessageAnswer::No;
  return buttons == TMessageButtons::OkCancel ? TMessageAnswer::Cancel : TMessageAnswer::Ok;
}

void ProcessHostMessages() {}

TBusyCursor::TBusyCursor() = default;
TBusyCursor::~TBusyCursor() = default;

std::optional<std::string> SelectFolderDialog(std::string_view) { return std::nullopt; }
std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) { return std::nullopt; }

bool DriveIsRemovable(const std::string&) { return false; }
std::string VolumeLabel(const std::string&) { return {}; }

}  // namespace platform
