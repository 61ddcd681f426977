#include "tools/unzip_options.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>

#include "unzip/decode/methods.h"

namespace kestrel::tool {
namespace {

/// How an option takes its argument.
enum class TArgument {
  None,
  One,   ///< the rest of the word, or the next word
  List,  ///< the words that follow, up to the next option
};

/// How strong an action is when several are given.
int ActionRank(TToolAction action) {
  switch (action) {
    case TToolAction::Comment:
      return 7;
    case TToolAction::Timestamp:
      return 6;
    case TToolAction::Test:
      return 5;
    case TToolAction::Pipe:
      return 4;
    case TToolAction::ToScreen:
      return 3;
    case TToolAction::ListVerbose:
      return 2;
    case TToolAction::List:
      return 1;
    default:
      return 0;
  }
}

/// The command as its options build it, word by word, with what the parser
/// judges once the line is read.
struct TCommandDraft {
  TToolCommand Command;
  /// -h and --version: they stand for the whole run, whatever else is given.
  std::optional<TToolAction> Special;
  /// The listing and testing actions given, one bit per action.
  unsigned ActionsGiven = 0;
  /// The words that follow are exclusions (after -x, up to the next option).
  bool InExclusions = false;
  /// -Z came first: the options that follow are zipinfo's.
  bool ZipInfoMode = false;
  /// Why an option's argument is refused.
  std::string Error;

  bool Given(TToolAction action) const { return (ActionsGiven & Bit(action)) != 0; }
  static unsigned Bit(TToolAction action) { return 1u << static_cast<unsigned>(action); }
};

/// What an option does to the command: false, with the draft's Error said, when
/// its argument is refused.
using TApplyOption = bool (*)(TCommandDraft& draft, const std::string& argument);

/// A listing or testing action; the strongest given wins.
template <TToolAction Action>
bool Choose(TCommandDraft& draft, const std::string&) {
  draft.ActionsGiven |= TCommandDraft::Bit(Action);
  if (ActionRank(Action) > ActionRank(draft.Command.Action)) draft.Command.Action = Action;
  return true;
}

/// A setting of the command that the option alone gives.
template <auto Field, auto Value>
bool Set(TCommandDraft& draft, const std::string&) {
  draft.Command.*Field = Value;
  return true;
}

/// A setting of the command that is the option's argument as given.
template <auto Field>
bool Store(TCommandDraft& draft, const std::string& argument) {
  draft.Command.*Field = argument;
  return true;
}

bool Destination(TCommandDraft& draft, const std::string& argument) {
  if (argument.empty()) {
    draft.Error = "option -d needs DIR";
    return false;
  }
  draft.Command.DestDir = argument;
  return true;
}

bool Exclude(TCommandDraft& draft, const std::string&) {
  draft.InExclusions = true;
  return true;
}

bool Quieter(TCommandDraft& draft, const std::string&) {
  ++draft.Command.Quiet;
  return true;
}

/// An option that counts: given twice ("-aa", "-a -a"), it goes further.
template <auto Field>
bool Count(TCommandDraft& draft, const std::string&) {
  draft.Command.*Field = std::min(draft.Command.*Field + 1, 2);
  return true;
}

bool Threads(TCommandDraft& draft, const std::string& argument) {
  const bool digits = !argument.empty() && argument.size() <= 2 &&
                      std::all_of(argument.begin(), argument.end(), [](char c) { return c >= '0' && c <= '9'; });
  draft.Command.Threads = digits ? std::stoi(argument) : 0;
  if (draft.Command.Threads < 1 || draft.Command.Threads > 64) {
    draft.Error = "option --threads needs a number from 1 to 64, not \"" + argument + "\"";
    return false;
  }
  return true;
}

/// -Z: zipinfo mode, the listing of zipinfo.
bool ZipInfoMode(TCommandDraft& draft, const std::string&) {
  draft.ZipInfoMode = true;
  draft.Command.Action = TToolAction::ZipInfo;
  return true;
}

/// One of zipinfo's formats; the last given wins.
template <TZipInfoFormat Format>
bool ZipInfoFormat(TCommandDraft& draft, const std::string&) {
  draft.Command.ZipInfo.Format = Format;
  return true;
}

/// One of zipinfo's switches (-h, -t, -z, -T).
template <bool TZipInfoOptions::*Field>
bool ZipInfoSwitch(TCommandDraft& draft, const std::string&) {
  draft.Command.ZipInfo.*Field = true;
  return true;
}

bool Ignore(TCommandDraft&, const std::string&) { return true; }

bool Help(TCommandDraft& draft, const std::string&) {
  draft.Special = TToolAction::Help;
  return true;
}

bool Version(TCommandDraft& draft, const std::string&) {
  if (!draft.Special) draft.Special = TToolAction::Version;
  return true;
}

struct TOptionSpec {
  std::string_view Name;  ///< after the "-": "l", "Z1", "-help"
  TArgument Takes;
  std::string_view Argument;  ///< its name in the usage text
  /// Empty for another spelling of the option before, which shares its line.
  std::string_view Meaning;
  TApplyOption Apply;
};

// The options, in the order the usage text shows them. A later option is one
// more row here.
constexpr TOptionSpec OptionTable[] = {
    {"l", TArgument::None, "", "list the entries: length, date, time, name, and the totals", Choose<TToolAction::List>},
    {"v", TArgument::None, "", "list verbosely: length, method, size, ratio, date, time, CRC-32, name",
     Choose<TToolAction::ListVerbose>},
    {"t", TArgument::None, "", "test: decode every entry and check its CRC-32, write nothing",
     Choose<TToolAction::Test>},
    {"p", TArgument::None, "", "write the entries' bytes to standard output, nothing else", Choose<TToolAction::Pipe>},
    {"c", TArgument::None, "", "write the entries' bytes to standard output, each after a line with its name",
     Choose<TToolAction::ToScreen>},
    {"z", TArgument::None, "", "show the archive's comment only", Choose<TToolAction::Comment>},
    {"T", TArgument::None, "", "extract nothing: give the archive the time of its newest file",
     Choose<TToolAction::Timestamp>},
    {"d", TArgument::One, "DIR", "extract into DIR (default: the current folder)", Destination},
    {"x", TArgument::List, "MEMBER ...", "leave out the entries that match", Exclude},
    {"j", TArgument::None, "", "junk paths: every file straight into the destination",
     Set<&TToolCommand::JunkPaths, true>},
    {"C", TArgument::None, "", "match MEMBERs without regard to case", Set<&TToolCommand::IgnoreCase, true>},
    {"q", TArgument::None, "", "quiet (-qq: quieter)", Quieter},
    {"o", TArgument::None, "", "overwrite existing files without asking",
     Set<&TToolCommand::Overwrite, TOverwrite::Always>},
    {"n", TArgument::None, "", "never overwrite existing files", Set<&TToolCommand::Overwrite, TOverwrite::Never>},
    {"u", TArgument::None, "", "update: newer entries replace files, new ones are added",
     Set<&TToolCommand::Update, true>},
    {"f", TArgument::None, "", "freshen: newer entries replace existing files only", Set<&TToolCommand::Freshen, true>},
    {"a", TArgument::None, "", "text entries with this system's line ends (-aa: every entry)",
     Count<&TToolCommand::Text>},
    {"L", TArgument::None, "", "names of upper-case-only systems (MS-DOS ...) in lower case (-LL: all)",
     Count<&TToolCommand::LowerCase>},
    {"X", TArgument::None, "", "restore the owners (user and group IDs) that the archive stores",
     Set<&TToolCommand::RestoreOwners, true>},
    {"D", TArgument::None, "", "folders keep the time of the extraction (-DD: files too)",
     Count<&TToolCommand::SkipTimes>},
    {"K", TArgument::None, "", "keep the set-uid, set-gid and sticky bits", Set<&TToolCommand::KeepSpecialBits, true>},
    {"P", TArgument::One, "PASSWORD",
     "the password of encrypted entries (others can see it; without -P it is asked for)",
     Store<&TToolCommand::Password>},
    {"O", TArgument::One, "CHARSET",
     "the character set of names made on Windows or MS-DOS without the UTF-8 flag (CP866, CP932, CP936 ...)",
     Store<&TToolCommand::NameCharset>},
    {"I", TArgument::One, "CHARSET",
     "the character set of names made on Unix without the UTF-8 flag (KOI8-R, SHIFT_JIS ...)",
     Store<&TToolCommand::UnixNameCharset>},
    {"-threads", TArgument::One, "N",
     "decode on N threads (default: one per processor); the results are the same with any N", Threads},
    {"-json", TArgument::None, "", "list for scripts: JSON Lines, one object per entry (alone, or with -l, -v, -Z)",
     Set<&TToolCommand::Json, true>},
    {"h", TArgument::None, "", "show this text", Help},
    {"-help", TArgument::None, "", "", Help},
    {"-version", TArgument::None, "", "show the version", Version},
    {"Z", TArgument::None, "", "zipinfo mode: the options that follow are zipinfo's, below (-Z1: the names only)",
     ZipInfoMode},
};

// zipinfo's options, which follow -Z.
constexpr TOptionSpec ZipInfoTable[] = {
    {"1", TArgument::None, "", "the names only, one a line", ZipInfoFormat<TZipInfoFormat::NamesOnly>},
    {"2", TArgument::None, "", "the names only, with the lines -h, -t and -z ask for",
     ZipInfoFormat<TZipInfoFormat::Names>},
    {"s", TArgument::None, "", "short: permissions, version, system, size, type, method, date, time, name (default)",
     ZipInfoFormat<TZipInfoFormat::Short>},
    {"m", TArgument::None, "", "medium: the short form with the compression ratio",
     ZipInfoFormat<TZipInfoFormat::Medium>},
    {"l", TArgument::None, "", "long: the short form with the compressed size", ZipInfoFormat<TZipInfoFormat::Long>},
    {"v", TArgument::None, "", "verbose: every field of the end record and of each entry",
     ZipInfoFormat<TZipInfoFormat::Verbose>},
    {"h", TArgument::None, "", "the header: the archive's name, size and number of entries",
     ZipInfoSwitch<&TZipInfoOptions::Header>},
    {"t", TArgument::None, "", "the totals of the entries listed", ZipInfoSwitch<&TZipInfoOptions::Totals>},
    {"z", TArgument::None, "", "the archive's comment", ZipInfoSwitch<&TZipInfoOptions::Comment>},
    {"T", TArgument::None, "", "times as sortable decimals, yyyymmdd.hhmmss",
     ZipInfoSwitch<&TZipInfoOptions::DecimalTimes>},
    {"M", TArgument::None, "", "accepted; the output is not paged", Ignore},
    {"C", TArgument::None, "", "match MEMBERs without regard to case", Set<&TToolCommand::IgnoreCase, true>},
    {"O", TArgument::One, "CHARSET", "as -O above", Store<&TToolCommand::NameCharset>},
    {"I", TArgument::One, "CHARSET", "as -I above", Store<&TToolCommand::UnixNameCharset>},
    {"x", TArgument::List, "MEMBER ...", "leave out the entries that match", Exclude},
    {"-json", TArgument::None, "", "as --json above: the same objects", Set<&TToolCommand::Json, true>},
};

class TParser {
 public:
  explicit TParser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  TParsedCommand Run() {
    TToolCommand& command = draft_.Command;
    // Called with nothing, the program says how it is called.
    if (arguments_.empty()) {
      command.Action = TToolAction::Help;
      return {command, {}};
    }
    bool optionsEnded = false;
    for (next_ = 0; next_ < arguments_.size();) {
      const std::string& word = arguments_[next_++];
      if (optionsEnded || word.size() < 2 || word[0] != '-') {
        Operand(word);
      } else if (word == "--") {
        optionsEnded = true;
      } else if (!Options(word)) {
        return {std::nullopt, draft_.Error};
      }
    }
    if (draft_.ZipInfoMode) return ZipInfoCommand();
    if (draft_.Special) {
      command.Action = *draft_.Special;
      return {command, {}};
    }
    if (!haveArchive_) {
      // "-v" alone asks for the version, as with unzip.
      if (command.Action == TToolAction::ListVerbose && arguments_.size() == 1) {
        command.Action = TToolAction::Version;
        return {command, {}};
      }
      return {std::nullopt, "no archive given"};
    }
    if (command.Archive.empty()) return {std::nullopt, "the archive's name is empty"};
    if (draft_.Given(TToolAction::Pipe) && draft_.Given(TToolAction::Test))
      return {std::nullopt, "-p and -t cannot be given together"};
    // --json is a listing: alone it lists, and it has nothing to say of a test or a pipe.
    if (command.Json && command.Action == TToolAction::Extract) command.Action = TToolAction::List;
    const bool listing = command.Action == TToolAction::List || command.Action == TToolAction::ListVerbose ||
                         command.Action == TToolAction::ListNames || command.Action == TToolAction::ZipInfo;
    if (command.Json && !listing)
      return {std::nullopt, "--json lists: it goes with -l, -v or -Z, not with -t, -p, -c, -z or -T"};
    if (draft_.Given(TToolAction::ToScreen) && draft_.Given(TToolAction::Test))
      return {std::nullopt, "-c and -t cannot be given together"};
    // -p says nothing but the bytes: beside -z the comment alone, beside -T not
    // even its line.
    if ((command.Action == TToolAction::Comment || command.Action == TToolAction::Timestamp) &&
        draft_.Given(TToolAction::Pipe))
      command.Quiet = std::max(command.Quiet, 1);
    return {command, {}};
  }

 private:
  void Operand(const std::string& word) {
    TToolCommand& command = draft_.Command;
    if (!haveArchive_) {
      haveArchive_ = true;
      command.Archive = word;
    } else if (draft_.InExclusions) {
      command.Exclusions.push_back(word);
    } else {
      command.Members.push_back(word);
    }
  }

  /// The command of zipinfo mode: without an archive, the usage; -Z1 lists the
  /// names alone.
  TParsedCommand ZipInfoCommand() {
    TToolCommand& command = draft_.Command;
    if (!haveArchive_) {
      command.Action = TToolAction::Help;
      return {command, {}};
    }
    if (command.Archive.empty()) return {std::nullopt, "the archive's name is empty"};
    // --json gives the objects of any listing, zipinfo's formats too.
    if (command.Json)
      command.Action = TToolAction::List;
    else if (command.ZipInfo.Format == TZipInfoFormat::NamesOnly)
      command.Action = TToolAction::ListNames;
    return {command, {}};
  }

  // One word of options: "--help", or single letters grouped ("-qo", "-dDIR").
  bool Options(const std::string& word) {
    std::size_t at = 1;
    while (at < word.size()) {
      const std::string_view rest = std::string_view(word).substr(at);
      const bool zipInfo = draft_.ZipInfoMode;
      const TOptionSpec* found = zipInfo ? Find(rest, ZipInfoTable) : Find(rest, OptionTable);
      if (found == nullptr) {
        draft_.Error = "unknown option -" + std::string(rest.substr(0, rest.starts_with("-") ? rest.size() : 1));
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
          draft_.Error = "option -" + std::string(found->Name) + " needs " + std::string(found->Argument);
          return false;
        }
        at = word.size();
      }
      // Words after -x are exclusions up to the next option.
      draft_.InExclusions = false;
      if (!found->Apply(draft_, argument)) return false;
      // zipinfo mode is asked for by the first option alone.
      if (draft_.ZipInfoMode != zipInfo && (next_ != 1 || at != 2)) {
        draft_.Error = "-Z must be the first option (zipinfo mode)";
        return false;
      }
    }
    return true;
  }

  /// The option of a table that the rest of a word starts with, the longest that fits.
  template <std::size_t Count>
  static const TOptionSpec* Find(std::string_view rest, const TOptionSpec (&table)[Count]) {
    const TOptionSpec* found = nullptr;
    for (const TOptionSpec& spec : table) {
      // A long option is the whole word ("--threads=4" with its argument); a
      // letter may be followed by others.
      const bool fits = spec.Name.front() == '-'
                            ? rest == spec.Name || (spec.Takes == TArgument::One && rest.starts_with(spec.Name) &&
                                                    rest.size() > spec.Name.size() && rest[spec.Name.size()] == '=')
                            : rest.starts_with(spec.Name);
      if (fits && (found == nullptr || spec.Name.size() > found->Name.size())) found = &spec;
    }
    return found;
  }

  const std::vector<std::string>& arguments_;
  std::size_t next_ = 0;
  TCommandDraft draft_;
  bool haveArchive_ = false;
};

/// The methods the component decodes, as the methods table names them, each
/// name once: first those of our own code, then those decoded through a library,
/// library by library ("..., bzip2, LZMA, xz and Zstandard").
std::string DecodedMethods() {
  std::vector<std::string_view> names, libraries;
  const auto add = [&names](std::string_view name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (const TCompressionMethod& method : CompressionMethods()) {
    if (method.Decode == nullptr) continue;
    if (method.Library == nullptr)
      add(method.Name);
    else if (std::find(libraries.begin(), libraries.end(), method.Library) == libraries.end())
      libraries.push_back(method.Library);
  }
  for (const std::string_view library : libraries)
    for (const TCompressionMethod& method : CompressionMethods())
      if (method.Decode != nullptr && method.Library != nullptr && method.Library == library) add(method.Name);
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 < names.size() ? ", " : " and ";
    list += names[i];
  }
  return list;
}

/// The words of a text in lines of at most 80 columns, as many words to a line
/// as fit.
std::vector<std::string> Wrapped(const std::string& text) {
  constexpr std::size_t Columns = 80;
  std::vector<std::string> lines(1);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view word = std::string_view(text).substr(at, end - at);
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > Columns) lines.emplace_back();
    if (!lines.back().empty()) lines.back() += ' ';
    lines.back() += word;
    at = end + 1;
  }
  return lines;
}

/// The usage lines of a table's options, each with its meaning. Spellings of
/// one option share a line: "-h, --help".
template <std::size_t Count>
void AddOptionLines(const TOptionSpec (&table)[Count], std::vector<std::string>& lines) {
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (std::size_t i = 0; i < Count; ++i) {
    const TOptionSpec& spec = table[i];
    std::string name = "-";
    name += spec.Name;
    if (!spec.Argument.empty()) name.append(" ").append(spec.Argument);
    if (i > 0 && spec.Meaning.empty())
      rows.back().first.append(", ").append(name);
    else
      rows.emplace_back("  " + name, spec.Meaning);
  }
  for (auto& [left, meaning] : rows) {
    left.resize(std::max<std::size_t>(left.size() + 2, 18), ' ');
    lines.push_back(left + std::string(meaning));
  }
}

}  // namespace

TParsedCommand ParseToolCommand(const std::vector<std::string>& arguments) { return TParser(arguments).Run(); }

std::string ToolSynopsis() { return "usage: kestrel-unzip [OPTIONS] ARCHIVE [MEMBER ...] [-x MEMBER ...] [-d DIR]"; }

std::vector<std::string> ToolUsage() {
  std::vector<std::string> lines = {
      ToolSynopsis(),
      "",
      "Extracts, lists or tests the entries of a zip archive. MEMBERs are patterns of",
      "the stored paths (*, ?, [a-z]), case-sensitive unless -C; options may stand",
      "before or after the archive. ARCHIVE \"-\" reads it from standard input",
  };
  // A decoder added to the methods table is named here with the others.
  for (std::string& line :
       Wrapped("(a pipe), extracting the entries as they arrive. Decodes " + DecodedMethods() + " entries,"))
    lines.push_back(std::move(line));
  lines.insert(lines.end(), {
                                "traditional and WinZip AES encryption; entries of other methods or",
                                "encryptions are skipped, with the reason.",
                                "",
                            });
  AddOptionLines(OptionTable, lines);
  lines.insert(lines.end(),
               {"", "zipinfo mode (-Z first): kestrel-unzip -Z [OPTIONS] ARCHIVE [MEMBER ...] [-x MEMBER ...]"});
  AddOptionLines(ZipInfoTable, lines);
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
