#include "tools/terminal_questions.h"

#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "platform/path.h"
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
        platform::ReadAnswer("replace " + TerminalText(fName) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ");
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
      // The new name stands beside the old one, in the entry's folder.
      const platform::TPathRules& rules = platform::HostPathRules();
      std::string folder = platform::PathFolder(fName, rules);
      if (!folder.empty() && !platform::IsPathSeparator(folder.back(), rules)) folder += rules.Separator;
      fName = folder + *name;
      if (!platform::FileExists(fName)) return true;
      continue;
    }
    report_.Say("invalid response [" + TerminalText(reply) + "]");
  }
}

}  // namespace kestrel::tool
