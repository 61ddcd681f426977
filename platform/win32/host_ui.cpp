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
#include <cstdio>
#include <string>

namespace platform {
namespace {

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
  char answer[16] = {};
  DWORD got = 0;
  ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), answer, sizeof answer - 1, &got, nullptr);
  return (got > 0 && (answer[0] == 'y' || answer[0] == 'Y')) ? TMessageAnswer::Yes : TMessageAnswer::No;
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
