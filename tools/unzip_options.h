#pragma once
// kestrel-unzip's command line: one table holds every option once (its spelling,
// its argument, its meaning, what it does to the command), and both the parser
// and the usage text are made from it. The form is unzip's:
//   kestrel-unzip [OPTIONS] ARCHIVE [MEMBER ...] [-x MEMBER ...] [-d DIR]
// with options before or after the archive, single letters grouped ("-qo"), and an
// option's argument attached ("-dDIR") or as the next word.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::tool {

/// What a run does. Several listing and testing options may be given together;
/// the strongest wins, as with unzip: -z, then -T, then -t, then -p, then -c,
/// then -v, then -l. -Z as the first option makes the run zipinfo's listing (ZipInfo;
/// ListNames for -Z1, the names alone).
enum class TToolAction {
  Extract,
  List,
  ListVerbose,
  ListNames,
  Test,
  Pipe,
  Help,
  Version,
  ZipInfo,
  ToScreen,   ///< -c: the entries' bytes on stdout, each after its name
  Comment,    ///< -z: the archive's comment alone
  Timestamp,  ///< -T: the archive given the time of its newest file, nothing extracted
};

/// zipinfo's listing formats: -1, -2, -s, -m, -l, -v; Default when none is given.
enum class TZipInfoFormat { Default, NamesOnly, Names, Short, Medium, Long, Verbose };

/// zipinfo mode's options (kestrel-unzip -Z ...).
struct TZipInfoOptions {
  TZipInfoFormat Format = TZipInfoFormat::Default;
  bool Header = false;        ///< -h: the archive's lines
  bool Totals = false;        ///< -t: the totals line
  bool Comment = false;       ///< -z: the archive's comment
  bool DecimalTimes = false;  ///< -T: times as yyyymmdd.hhmmss
};

/// What happens to a file that exists where an entry goes.
enum class TOverwrite {
  Ask,     ///< ask on a terminal; without one keep it and say so
  Always,  ///< -o
  Never,   ///< -n: keep it without a word
};

/// A parsed command line.
struct TToolCommand {
  TToolAction Action = TToolAction::Extract;
  std::string Archive;
  std::vector<std::string> Members;     ///< patterns of the entries to take; all without any
  std::vector<std::string> Exclusions;  ///< -x: patterns of the entries to leave out
  std::string DestDir;                  ///< -d; empty: the current folder
  bool JunkPaths = false;               ///< -j
  bool IgnoreCase = false;              ///< -C: members match either case
  int Quiet = 0;                        ///< -q, -qq
  TOverwrite Overwrite = TOverwrite::Ask;
  bool Update = false;                  ///< -u: newer entries replace files, new ones are added
  bool Freshen = false;                 ///< -f: only newer entries replace existing files
  std::optional<std::string> Password;  ///< -P: the bytes as given
  std::string NameCharset;              ///< -O: names from systems other than Unix
  std::string UnixNameCharset;          ///< -I: names made on Unix
  int Threads = 0;                      ///< --threads; 0: one per processor
  TZipInfoOptions ZipInfo;              ///< after -Z
  bool Json = false;                    ///< --json: the listing as JSON Lines, one object per entry
  int Text = 0;                         ///< -a: text entries with this system's line ends; -aa: every entry
  int LowerCase = 0;                    ///< -L: names of upper-case-only systems in lower case; -LL: every name
  bool RestoreOwners = false;           ///< -X: the owners the archive stores
  int SkipTimes = 0;                    ///< -D: folders keep the extraction's time; -DD: everything does
  bool KeepSpecialBits = false;         ///< -K: set-uid, set-gid and sticky bits kept
};

/// The outcome of parsing: a command, or why the line is not one.
struct TParsedCommand {
  std::optional<TToolCommand> Command;
  std::string Error;  ///< when there is no command: what is wrong, for the user
};

/// Parses the arguments (without the program name).
TParsedCommand ParseToolCommand(const std::vector<std::string>& arguments);

/// The usage text, one line per element: the synopsis, every option of the table
/// with its meaning, and the commands people type most.
std::vector<std::string> ToolUsage();
/// The synopsis alone, for a usage error.
std::string ToolSynopsis();

}  // namespace kestrel::tool
