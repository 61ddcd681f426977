#pragma once
// The questions a run asks on the terminal, as unzip asks them: the password of
// an encrypted entry, whether a file that exists is replaced, and where a part of
// a split set is. Without a terminal nothing is asked: the entry is skipped, the
// file kept, the part looked for beside the last one only.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "tools/run_report.h"
#include "tools/unzip_options.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel::tool {

/// The questions of one run and the answers that hold for the rest of it.
class TTerminalQuestions {
 public:
  TTerminalQuestions(const TToolCommand& command, TRunReport& report) : command_(command), report_(report) {}

  /// The password prompts of an encrypted entry (the component's OnBadPassword):
  /// the entry's name first, then up to two more tries; an empty answer gives up
  /// on every entry of the archive that needs a password. With -P nothing is
  /// asked. newPassword is left as it is when nothing was answered.
  void AskPassword(const TZipHeaderInfo& entry, std::int32_t index, std::string& newPassword);
  /// Whether an existing file may be replaced (the component's
  /// OnPromptForOverwrite): with -u or -f only by a newer entry; then as
  /// answered on the terminal, or kept when there is none. A rename answer
  /// changes fName.
  bool MayReplace(TKestrelUnZip& sender, std::int32_t index, std::string& fName);

  /// Where part `part` of a split set is (the component's OnGetNextDisk): beside
  /// the last part, or else where the terminal says; an empty answer leaves it
  /// missing (fName empty). A set on removable disks asks for each disk, and there
  /// an empty answer tries the same path again.
  void FindPart(TKestrelUnZip& sender, std::int32_t part, std::string& fName);

  /// Whether a password was typed on the terminal.
  bool PasswordAsked() const { return passwordAsked_; }
  /// Whether the file last kept was kept because there was no terminal to ask
  /// on; the next keeping starts afresh.
  bool TakeKeptWithoutAsking() { return std::exchange(keptWithoutAsking_, false); }

 private:
  const TToolCommand& command_;
  TRunReport& report_;
  bool keptWithoutAsking_ = false;
  /// "All" or "None": the answer for every file after.
  std::optional<bool> answerForAll_;
  std::int32_t passwordEntry_ = -1;
  int passwordTries_ = 0;
  bool passwordGivenUp_ = false, passwordAsked_ = false;
  /// The part the user chose to go on without: not asked for again.
  std::int32_t partLeftOut_ = 0;
};

}  // namespace kestrel::tool
