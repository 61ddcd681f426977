#include "tools/unzip_options.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>

namespace kestrel::tool {
namespace {

enum class TOptionId {
  List,
  Verbose,
  NamesOnly,
  Test,
  Pipe,
  Destination,
  Exclude,
  JunkPaths,
  Quiet,
  Overwrite,
  NeverOverwrite,
  Update,
  Freshen,
  Password,
  NameCharset,
  UnixNameCharset,
  Threads,
  Help,
  Version,
};

/// How an option takes its argument.
enum class TArgument {
  None,
  One,   ///< the rest of the word, or the next word
  List,  ///< the words that follow, up to the next option
};

struct TOptionSpec {
  std::string_view Name;  ///< after the "-": "l", "Z1", "-help"
  TOptionId Id;
  TArgument Takes;
  std::string_view Argument;  ///< its name in the usage text
  std::string_view Meaning;
};

// The options, in the order the usage text shows them. A later option (the
// archive read from a pipe, --threads N, -O CHARSET) is one more row here and a
// case in Apply.
constexpr TOptionSpec OptionTable[] = {
    {"l", TOptionId::List, TArgument::None, "", "list the entries: length, date, time, name, and the totals"},
    {"v", TOptionId::Verbose, TArgument::None, "",
     "list verbosely: length, method, size, ratio, date, time, CRC-32, name"},
    {"Z1", TOptionId::NamesOnly, TArgument::None, "", "list the names only, one a line"},
    {"t", TOptionId::Test, TArgument::None, "", "test: decode every entry and check its CRC-32, write nothing"},
    {"p", TOptionId::Pipe, TArgument::None, "", "write the entries' bytes to standard output, nothing else"},
    {"d", TOptionId::Destination, TArgument::One, "DIR", "extract into DIR (default: the current folder)"},
    {"x", TOptionId::Exclude, TArgument::List, "MEMBER ...", "leave out the entries that match"},
    {"j", TOptionId::JunkPaths, TArgument::None, "", "junk paths: every file straight into the destination"},
    {"q", TOptionId::Quiet, TArgument::None, "", "quiet (-qq: quieter)"},
    {"o", TOptionId::Overwrite, TArgument::None, "", "overwrite existing files without asking"},
    {"n", TOptionId::NeverOverwrite, TArgument::None, "", "never overwrite existing files"},
    {"u", TOptionId::Update, TArgument::None, "", "update: newer entries replace files, new ones are added"},
    {"f", TOptionId::Freshen, TArgument::None, "", "freshen: newer entries replace existing files only"},
    {"P", TOptionId::Password, TArgument::One, "PASSWORD",
     "the password of encrypted entries (others can see it; without -P it is asked for)"},
    {"O", TOptionId::NameCharset, TArgument::One, "CHARSET",
     "the character set of names made on Windows or MS-DOS without the UTF-8 flag (CP866, CP932, CP936 ...)"},
    {"I", TOptionId::UnixNameCharset, TArgument::One, "CHARSET",
     "the character set of names made on Unix without the UTF-8 flag (KOI8-R, SHIFT_JIS ...)"},
    {"-threads", TOptionId::Threads, TArgument::One, "N",
     "decode on N threads (default: one per processor); the results are the same with any N"},
    {"h", TOptionId::Help, TArgument::None, "", "show this text"},
    {"-help", TOptionId::Help, TArgument::None, "", ""},
    {"-version", TOptionId::Version, TArgument::None, "", "show the version"},
};

/// How strong an action is when several are given.
int ActionRank(TToolAction action) {
  switch (action) {
    case TToolAction::ListNames:
      return 5;
    case TToolAction::Test:
      return 4;
    case TToolAction::Pipe:
      return 3;
    case TToolAction::ListVerbose:
      return 2;
    case TToolAction::List:
      return 1;
    default:
      return 0;
  }
}

class TParser {
 public:
  explicit TParser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  TParsedCommand Run() {
    // Called with nothing, the program says how it is called.
    if (arguments_.empty()) {
      command_.Action = TToolAction::Help;
      return {command_, {}};
    }
    bool optionsEnded = false;
    for (next_ = 0; next_ < arguments_.size();) {
      const std::string& word = arguments_[next_++];
      if (optionsEnded || word.size() < 2 || word[0] != '-') {
        Operand(word);
      } else if (word == "--") {
        optionsEnded = true;
      } else if (!Options(word)) {
        return {std::nullopt, error_};
      }
    }
    if (special_) {
      command_.Action = *special_;
      return {command_, {}};
    }
    if (!haveArchive_) {
      // "-v" alone asks for the version, as with unzip.
      if (command_.Action == TToolAction::ListVerbose && arguments_.size() == 1) {
        command_.Action = TToolAction::Version;
        return {command_, {}};
      }
      return {std::nullopt, "no archive given"};
    }
    if (command_.Archive.empty()) return {std::nullopt, "the archive's name is empty"};
    if (pipe_ && test_) return {std::nullopt, "-p and -t cannot be given together"};
    return {command_, {}};
  }

 private:
  void Operand(const std::string& word) {
    if (!haveArchive_) {
      haveArchive_ = true;
      command_.Archive = word;
    } else if (inExclusions_) {
      command_.Exclusions.push_back(word);
    } else {
      command_.Members.push_back(word);
    }
  }

  // One word of options: "--help", or single letters grouped ("-qo", "-dDIR").
  bool Options(const std::string& word) {
    std::size_t at = 1;
    while (at < word.size()) {
      const std::string_view rest = std::string_view(word).substr(at);
      const TOptionSpec* found = nullptr;
      for (const TOptionSpec& spec : OptionTable) {
        // A long option is the whole word ("--threads=4" with its argument); a
        // letter may be followed by others.
        const bool fits = spec.Name.front() == '-'
                              ? rest == spec.Name || (spec.Takes == TArgument::One && rest.starts_with(spec.Name) &&
                                                      rest.size() > spec.Name.size() && rest[spec.Name.size()] == '=')
                              : rest.starts_with(spec.Name);
        if (fits && (found == nullptr || spec.Name.size() > found->Name.size())) found = &spec;
      }
      if (found == nullptr) {
        error_ = "unknown option -" + std::string(rest.substr(0, rest.starts_with("-") ? rest.size() : 1));
        return false;
      }
      at += found->Name.size();
      std::string argument;
      if (found->Takes == TArgument::One) {
        if (found->Name.front() == '-' && at < word.size()) ++at;  // the "=" of "--threads=4"
        if (at < word.size()) {
          argument = word.substr(at);
        } else if (next_ < arguments_.size()) {
          argument = arguments_[next_++];
        } else {
          error_ = "option -" + std::string(found->Name) + " needs " + std::string(found->Argument);
          return false;
        }
        at = word.size();
      }
      if (!Apply(*found, argument)) return false;
    }
    return true;
  }

  bool Apply(const TOptionSpec& spec, const std::string& argument) {
    // Words after -x are exclusions up to the next option.
    inExclusions_ = spec.Id == TOptionId::Exclude;
    switch (spec.Id) {
      case TOptionId::List:
        return Action(TToolAction::List);
      case TOptionId::Verbose:
        return Action(TToolAction::ListVerbose);
      case TOptionId::NamesOnly:
        return Action(TToolAction::ListNames);
      case TOptionId::Test:
        test_ = true;
        return Action(TToolAction::Test);
      case TOptionId::Pipe:
        pipe_ = true;
        return Action(TToolAction::Pipe);
      case TOptionId::Destination:
        if (argument.empty()) {
          error_ = "option -d needs DIR";
          return false;
        }
        command_.DestDir = argument;
        return true;
      case TOptionId::Exclude:
        return true;
      case TOptionId::JunkPaths:
        command_.JunkPaths = true;
        return true;
      case TOptionId::Quiet:
        ++command_.Quiet;
        return true;
      case TOptionId::Overwrite:
        command_.Overwrite = TOverwrite::Always;
        return true;
      case TOptionId::NeverOverwrite:
        command_.Overwrite = TOverwrite::Never;
        return true;
      case TOptionId::Update:
        command_.Update = true;
        return true;
      case TOptionId::Freshen:
        command_.Freshen = true;
        return true;
      case TOptionId::Password:
        command_.Password = argument;
        return true;
      case TOptionId::NameCharset:
        command_.NameCharset = argument;
        return true;
      case TOptionId::UnixNameCharset:
        command_.UnixNameCharset = argument;
        return true;
      case TOptionId::Threads: {
        const bool digits = !argument.empty() && argument.size() <= 2 &&
                            std::all_of(argument.begin(), argument.end(), [](char c) { return c >= '0' && c <= '9'; });
        command_.Threads = digits ? std::stoi(argument) : 0;
        if (command_.Threads < 1 || command_.Threads > 64) {
          error_ = "option --threads needs a number from 1 to 64, not \"" + argument + "\"";
          return false;
        }
        return true;
      }
      case TOptionId::Help:
        special_ = TToolAction::Help;
        return true;
      case TOptionId::Version:
        if (!special_) special_ = TToolAction::Version;
        return true;
    }
    return true;
  }

  bool Action(TToolAction action) {
    if (ActionRank(action) > ActionRank(command_.Action)) command_.Action = action;
    return true;
  }

  const std::vector<std::string>& arguments_;
  std::size_t next_ = 0;
  TToolCommand command_;
  std::optional<TToolAction> special_;
  bool haveArchive_ = false;
  bool inExclusions_ = false;
  bool pipe_ = false;
  bool test_ = false;
  std::string error_;
};

}  // namespace

TParsedCommand ParseToolCommand(const std::vector<std::string>& arguments) { return TParser(arguments).Run(); }

std::string ToolSynopsis() { return "usage: kestrel-unzip [OPTIONS] ARCHIVE [MEMBER ...] [-x MEMBER ...] [-d DIR]"; }

std::vector<std::string> ToolUsage() {
  std::vector<std::string> lines = {
      ToolSynopsis(),
      "",
      "Extracts, lists or tests the entries of a zip archive. MEMBERs are patterns of",
      "the stored paths (*, ?, <a-z>), matched without regard to case; options may",
      "stand before or after the archive. ARCHIVE \"-\" reads it from standard input",
      "(a pipe), extracting the entries as they arrive. Decodes stored, shrunk,",
      "reduced, imploded, deflated, Deflate64, bzip2, LZMA, xz and Zstandard entries,",
      "traditional and WinZip AES encryption; entries of other methods or",
      "encryptions are skipped, with the reason.",
      "",
  };
  // Spellings of one option share a line: "-h, --help".
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (std::size_t i = 0; i < std::size(OptionTable); ++i) {
    const TOptionSpec& spec = OptionTable[i];
    std::string name = "-";
    name += spec.Name;
    if (!spec.Argument.empty()) name.append(" ").append(spec.Argument);
    if (i > 0 && OptionTable[i - 1].Id == spec.Id)
      rows.back().first.append(", ").append(name);
    else
      rows.emplace_back("  " + name, spec.Meaning);
  }
  for (auto& [left, meaning] : rows) {
    left.resize(std::max<std::size_t>(left.size() + 2, 18), ' ');
    lines.push_back(left + std::string(meaning));
  }
  lines.insert(lines.end(), {
                                "",
                                "Most used:",
                                "  kestrel-unzip a.zip          extract into the current folder",
                                "  kestrel-unzip a.zip -d DIR   extract into DIR",
                                "  kestrel-unzip -l a.zip       list the entries",
                                "  kestrel-unzip -t a.zip       test the entries",
                                "  curl URL | kestrel-unzip -   extract an archive as it downloads",
                            });
  return lines;
}

}  // namespace kestrel::tool
