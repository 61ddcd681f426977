#pragma once
// The few user-interface services the zip component can reach. A console has no
// dialogs: message boxes become a line on stderr (a Yes/No box is asked on the
// terminal when stdin is one, and answered No otherwise), and every dialog counts
// as cancelled.

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

/// True when the path lies on a removable drive (never on POSIX).
bool DriveIsRemovable(const std::string& path);
/// The label of the volume that holds the path; empty when it has none.
std::string VolumeLabel(const std::string& path);

}  // namespace platform
