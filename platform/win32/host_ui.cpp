// Win32 backend of the host user interface. The programs are console programs: as
// long as the process has standard streams, a message box is a line on stderr and
// a Yes/No box is asked on the console when stdin is one, answered No otherwise,
// so an unattended run never waits. A process without standard streams (the
// component inside a windowed program) gets the real boxes and dialogs.

#include "platform/host_ui.h"

// windows.h first: the other Windows headers build on its types.
// clang-format off
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace platform {
namespace {

// Set by the console's control handler, which runs on a thread of its own.
std::atomic<int> interrupts{0};
// Set while the program removes what it left half done: a second Ctrl-C waits.
std::atomic<bool> holding{false};

BOOL WINAPI NoteInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second Ctrl-C goes on to the next handler, the system's, which ends the process.
  return interrupts.fetch_add(1) == 0 || holding.load() ? TRUE : FALSE;
}

// One line typed at the console (UTF-16, turned into the ANSI code page), or the
// bytes of a redirected standard input up to the line end.
std::optional<std::string> ReadLineFrom(HANDLE input) {
  DWORD mode = 0;
  std::string line;
  if (::GetConsoleMode(input, &mode)) {
    std::wstring wide;
    for (;;) {
      wchar_t c = 0;
      DWORD got = 0;
      if (!::ReadConsoleW(input, &c, 1, &got, nullptr) || got == 0 || interrupts.load() != 0) return std::nullopt;
      if (c == L'\n') break;
      if (c != L'\r') wide += c;
    }
    if (wide.empty()) return line;
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    line.resize(static_cast<std::size_t>(std::max(size, 0)));
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), line.data(), size, nullptr, nullptr);
    return line;
  }
  for (;;) {
    char c = 0;
    DWORD got = 0;
    if (!::ReadFile(input, &c, 1, &got, nullptr) || got == 0) return std::nullopt;
    if (c == '\n') break;
    if (c != '\r') line += c;
  }
  return line;
}

bool HasStream(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

bool IsWindowedHost() { return !HasStream(STD_ERROR_HANDLE) && !HasStream(STD_OUTPUT_HANDLE); }

void WriteError(const std::string& text) {
  std::fflush(stderr);
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

TMessageAnswer AskOnConsole(std::string_view caption, std::string_view text, TMessageButtons buttons) {
  std::string line(caption);
  if (!line.empty()) line += ": ";
  for (const char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  const bool asks = buttons == TMessageButtons::YesNo || buttons == TMessageButtons::YesNoCancel;
  const bool console = IsConsole(STD_INPUT_HANDLE);
  if (!asks || !console) {
    WriteError(line + "\r\n");
    if (asks) return TMessageAnswer::No;
    return buttons == TMessageButtons::OkCancel ? TMessageAnswer::Cancel : TMessageAnswer::Ok;
  }
  WriteError(line + " [y/N] ");
  const std::optional<std::string> answer = ReadLineFrom(::GetStdHandle(STD_INPUT_HANDLE));
  return answer && !answer->empty() && ((*answer)[0] == 'y' || (*answer)[0] == 'Y') ? TMessageAnswer::Yes
                                                                                    : TMessageAnswer::No;
}

std::string DriveRoot(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "\\";
  return {};
}

}  // namespace

TMessageAnswer ShowMessageBox(std::string_view caption, std::string_view text, TMessageButtons buttons) {
  if (!IsWindowedHost()) return AskOnConsole(caption, text, buttons);
  UINT style = MB_OK;
  switch (buttons) {
    case TMessageButtons::Ok:
      style = MB_OK;
      break;
    case TMessageButtons::OkCancel:
      style = MB_OKCANCEL;
      break;
    case TMessageButtons::YesNo:
      style = MB_YESNO;
      break;
    case TMessageButtons::YesNoCancel:
      style = MB_YESNOCANCEL;
      break;
  }
  const std::string captionText(caption), bodyText(text);
  switch (::MessageBoxA(nullptr, bodyText.c_str(), captionText.c_str(), style | MB_TASKMODAL)) {
    case IDYES:
      return TMessageAnswer::Yes;
    case IDNO:
      return TMessageAnswer::No;
    case IDCANCEL:
      return TMessageAnswer::Cancel;
    case IDOK:
      return TMessageAnswer::Ok;
    default:
      // The box could not be shown: nobody answered.
      if (buttons == TMessageButtons::YesNo) return TMessageAnswer::No;
      return buttons == TMessageButtons::Ok ? TMessageAnswer::Ok : TMessageAnswer::Cancel;
  }
}

void ProcessHostMessages() {
  // A console program has no windows and so no messages.
  if (!IsWindowedHost()) return;
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

TBusyCursor::TBusyCursor() {
  if (IsWindowedHost()) previous_ = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
}

TBusyCursor::~TBusyCursor() {
  if (previous_ != nullptr) ::SetCursor(static_cast<HCURSOR>(previous_));
}

std::optional<std::string> SelectFolderDialog(std::string_view caption) {
  if (!IsWindowedHost()) return std::nullopt;
  const std::string title(caption);
  BROWSEINFOA info{};
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderA(&info);
  if (chosen == nullptr) return std::nullopt;
  char path[MAX_PATH] = {};
  const bool named = ::SHGetPathFromIDListA(chosen, path) != FALSE;
  ::CoTaskMemFree(chosen);
  if (!named) return std::nullopt;
  return std::string(path);
}

std::optional<std::string> OpenFileDialog(std::string_view title, std::string_view initialName) {
  if (!IsWindowedHost()) return std::nullopt;
  const std::string titleText(title);
  char path[MAX_PATH] = {};
  initialName.copy(path, std::min<std::size_t>(initialName.size(), MAX_PATH - 1));
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.lpstrFilter = "Zip files (*.zip)\0*.zip\0All files (*.*)\0*.*\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = titleText.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
  return std::string(path);
}

bool InputIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

std::optional<std::string> ReadAnswer(std::string_view prompt) {
  WriteError(std::string(prompt));
  return ReadLineFrom(::GetStdHandle(STD_INPUT_HANDLE));
}

std::optional<std::string> ReadSecret(std::string_view prompt) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!::GetConsoleMode(input, &saved)) return std::nullopt;
  // The console's own no-echo mode; the line end is shown by hand.
  ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  WriteError(std::string(prompt));
  std::optional<std::string> secret = ReadLineFrom(input);
  ::SetConsoleMode(input, saved);
  WriteError("\r\n");
  return secret;
}

TInterruptCatcher::TInterruptCatcher() {
  interrupts.store(0);
  holding.store(false);
  ::SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

void TInterruptCatcher::HoldFurther() { holding.store(true); }

TInterruptCatcher::~TInterruptCatcher() {
  ::SetConsoleCtrlHandler(NoteInterrupt, FALSE);
  holding.store(false);
}

bool InterruptRequested() { return interrupts.load() != 0; }

bool DriveIsRemovable(const std::string& path) {
  const std::string root = DriveRoot(path);
  return !root.empty() && ::GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE;
}

std::string VolumeLabel(const std::string& path) {
  const std::string root = DriveRoot(path);
  char label[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationA(root.empty() ? nullptr : root.c_str(), label, sizeof label, nullptr, nullptr, nullptr,
                               nullptr, 0)) {
    return {};
  }
  return label;
}

}  // namespace platform
