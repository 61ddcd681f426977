#pragma once
// The few user-interface services the zip component can reach. A console has no
// dialogs: message boxes become a line on stderr (a Yes/No box is asked on the
// terminal when stdin is one, and answered No otherwise), and every dialog counts
// as cancelled. Also what a console program needs to ask its user a question, to
// read a password without showing it, and to end cleanly on Ctrl-C.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class TMessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class TMessageAnswer { Ok, Cancel, Yes, No };

/// Shows a modal message box and returns the answer. Never waits when nobody can
/// answer: without a terminal a Yes/No box is answered No, an Ok box Ok, and a
/// box with Cancel is cancelled.
TMessageAnswer ShowMessageBox(std::string_view caption, std::string_view text, TMessageButtons buttons);

/// Lets the host handle pending window messages; nothing to do on a console.
void ProcessHostMessages();

/// Shows the busy cursor for its lifetime; does nothing on a console.
class TBusyCursor {
 public:
  TBusyCursor();
  ~TBusyCursor();
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  [[maybe_unused]] void* previous_ = nullptr;  ///< the cursor to bring back, where there is one
};

/// Folder-selection dialog; nothing when cancelled (always, on a console).
std::optional<std::string> SelectFolderDialog(std::string_view caption);
/// File-open dialog; nothing when cancelled (always, on a console).
std::optional<std::string> OpenFileDialog(std::string_view title, std::string_view initialName);

// ---- Questions on the console and Ctrl-C ----------------------------------------

/// True when standard input is a terminal that a person types at: only then may a
/// program ask and wait for an answer.
bool InputIsTerminal();
/// Writes the prompt to standard error and reads one line of standard input,
/// without its line end. Nothing at the end of the input, on a read error, or when
/// Ctrl-C interrupted the wait (see TInterruptCatcher).
std::optional<std::string> ReadAnswer(std::string_view prompt);
/// The same for a secret: what is typed is not shown (the terminal's echo is off
/// while the line is read, and back as it was afterwards, Ctrl-C included). Asks
/// only a terminal: nothing when standard input is none.
std::optional<std::string> ReadSecret(std::string_view prompt);

/// Catches Ctrl-C for its lifetime. A first Ctrl-C no longer ends the process: it
/// is noted for InterruptRequested, and a ReadAnswer or ReadSecret that waits gives
/// up, so that the program can remove what it left half done and end by itself. A
/// second Ctrl-C ends the process as usual. One catcher at a time. On POSIX a
/// write beyond the process's file-size limit fails meanwhile (EFBIG, as on a full
/// disk) instead of ending the process.
class TInterruptCatcher {
 public:
  TInterruptCatcher();
  ~TInterruptCatcher();
  TInterruptCatcher(const TInterruptCatcher&) = delete;
  TInterruptCatcher& operator=(const TInterruptCatcher&) = delete;
  /// From now on every further Ctrl-C is noted too and ends nothing, until the
  /// catcher ends: for the removal of what an interrupted run left half done,
  /// which a second Ctrl-C would otherwise stop half way.
  void HoldFurther();
};
/// True once Ctrl-C was pressed while a TInterruptCatcher lived.
bool InterruptRequested();

/// True when the path lies on a removable drive (never on POSIX).
bool DriveIsRemovable(const std::string& path);
/// The label of the volume that holds the path; empty when it has none.
std::string VolumeLabel(const std::string& path);

}  // namespace platform
