#include "tools/terminal_questions.h"

#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "platform/path.h"
#include "tools/entry_lines.h"
#include "tools/terminal_text.h"
#include "tools/unzip_listing.h"
#include "unzip/unzip_errors.h"

namespace kestrel::tool {

void TTerminalQuestions::AskPassword(const TZipHeaderInfo& entry, std::int32_t index, std::string& newPassword) {
  if (index != passwordEntry_) passwordEntry_ = index, passwordTries_ = 0;
  if (command_.Password || passwordGivenUp_ || passwordTries_ >= 3 || !platform::InputIsTerminal()) return;
  const std::string prompt = passwordTries_ == 0 ? "[" + report_.Archive() + "] " + ListedPath(entry) + " password: "
                                                 : "password incorrect--reenter: ";
  ++passwordTries_;
  // A question starts at the start of its line, where the progress line stood.
  report_.ClearProgress();
  const std::optional<std::string> answer = platform::ReadSecret(prompt);
  if (platform::InterruptRequested()) throw EUserCanceled("User Aborted Operation");
  if (!answer || answer->empty()) {
    passwordGivenUp_ = true;
    return;
  }
  passwordAsked_ = true;
  newPassword = *answer;
}

bool TTerminalQuestions::MayReplace(TKestrelUnZip& sender, std::int32_t index, std::string& fName) {
  if (command_.Update || command_.Freshen) {
    const std::optional<int> order = sender.CompareWithFile(index, fName);
    if (!order || *order <= 0) return false;
  }
  if (answerForAll_) return *answerForAll_;
  if (!platform::InputIsTerminal()) {
    keptWithoutAsking_ = true;
    return false;
  }
  for (;;) {
    report_.ClearProgress();
    const std::optional<std::string> answer =
        platform::ReadAnswer("replace " + ShownDestination(fName, sender.DestDir(), command_.DestDir) +
                             "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ");
    if (platform::InterruptRequested()) throw EUserCanceled("User Aborted Operation");
    // The end of the input answers "None", as nobody is left to ask.
    const std::string reply = answer ? *answer : "N";
    if (reply == "y" || reply == "Y") return true;
    if (reply == "n") return false;
    if (reply == "A" || reply == "N") {
      answerForAll_ = reply == "A";
      return *answerForAll_;
    }
    if (reply == "r" || reply == "R") {
      const std::optional<std::string> name = platform::ReadAnswer("new name: ");
      if (platform::InterruptRequested()) throw EUserCanceled("User Aborted Operation");
      if (!name || name->empty()) return false;
      // The new name is taken from the extraction's root (the -d folder), as
      // unzip takes it, not from the entry's folder; a path from the root of the
      // file system stays as typed.
      const platform::TPathRules& rules = platform::HostPathRules();
      const bool absolute =
          platform::IsPathSeparator(name->front(), rules) || (rules.HasDrives && name->size() > 1 && (*name)[1] == ':');
      fName = absolute ? *name : ExtractionRoot(sender.DestDir()) + *name;
      if (!platform::FileExists(fName)) return true;
      continue;
    }
    report_.Say("invalid response [" + TerminalText(reply) + "]");
  }
}

void TTerminalQuestions::FindPart(TKestrelUnZip& sender, std::int32_t part, std::string& fName) {
  // On removable disks every part has the same path: the disk in the drive is
  // the one asked for once the user says it is in.
  const bool removable = sender.SpanMode() == 1;
  if (!removable) {
    sender.DefaultGetNextDisk(part, fName);
    if (platform::FileExists(fName) || part == partLeftOut_) return;
  }
  if (!platform::InputIsTerminal()) {
    // Nobody can change the disk: asking on would only get the same one again.
    if (removable) fName.clear();
    return;
  }
  const std::string sought = fName;
  const std::string number = std::to_string(part);
  const std::string prompt = TerminalText(sought) + (removable ? ": " : " is missing: ") + "insert disk " + number +
                             ", or give the path of part " + number +
                             (removable ? " (Enter: try the same path again): " : " (Enter: go on without it): ");
  for (;;) {
    report_.ClearProgress();
    const std::optional<std::string> answer = platform::ReadAnswer(prompt);
    if (platform::InterruptRequested()) throw EUserCanceled("User Aborted Operation");
    // The end of the input leaves the part missing, as nobody is left to ask; on
    // removable disks it cancels, as no other disk can come.
    if (!answer && removable) {
      fName.clear();
      return;
    }
    if (!answer || answer->empty()) {
      fName = sought;
      if (!removable) partLeftOut_ = part;
      return;
    }
    if (platform::FileExists(*answer)) {
      fName = *answer;
      return;
    }
    report_.Say("no file " + TerminalText(*answer));
  }
}

}  // namespace kestrel::tool
