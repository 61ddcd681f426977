#pragma once
// The end-to-end tables: command lines of the programs with the exit status and the
// text each must give, written once and run by either runner. The native tests run
// the Linux programs; the Wine tests run the .exe files, with Windows paths and
// CR LF line ends. Also the check of the legacy-method fixtures through kestrel-unzip.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace e2etest {

/// A program as a runner starts it.
struct TProgram {
  /// Runs it with the arguments in the working folder (a Linux path).
  std::function<testsupport::TRunResult(const std::vector<std::string>&, const std::filesystem::path&)> Run;
  /// A full path as the program's system writes it.
  std::function<std::string(const std::filesystem::path&)> Path;
  /// The line end of its console text.
  std::string LineEnd = "\n";
  /// Standard error holds the program's text alone (under Wine, lines of Wine's
  /// own may stand between the program's).
  bool ExactErr = true;
};

/// The Linux build of a program; environment ("NAME=value ...") goes in front.
TProgram Native(const std::string& exe, const std::string& environment = {});

/// One command line and what it must give. In the arguments and the texts,
/// "{@name}" stands for the full path of name in the working folder ("{@}" for the
/// folder itself), "{chm}" for the help file a table is given; "\n" is the line end.
struct TRow {
  std::vector<std::string> Args;
  int Status;
  std::string Out;  ///< all of standard output; ending in "...": how it starts
  std::string Err;  ///< all of standard error; ending in "...": how it starts (or, under Wine, a text it holds)
  std::vector<std::string> Absent = {};   ///< names in the working folder the run must not leave
  std::vector<std::string> Present = {};  ///< names it must leave
};

/// Runs the rows one after the other in the working folder.
void RunRows(const TProgram& program, const std::filesystem::path& work, const std::vector<TRow>& rows,
             const std::filesystem::path& chm = {});

/// corvane's usage, warnings and failures; writes its inputs into work.
void CheckCorvaneStatuses(const TProgram& corvane, const std::filesystem::path& work);
/// kestrel-unzip's usage, listing and extraction statuses; writes its archives into work.
void CheckKestrelUnzipStatuses(const TProgram& unzip, const std::filesystem::path& work);
/// kestrel-unzip extracts archives of Info-ZIP zip (every level, encrypted, bzip2),
/// Python's zipfile (stored, deflated, bzip2, LZMA, and xz and Zstandard from their
/// programs), 7-Zip (deflated, ZipCrypto, Deflate64, bzip2, LZMA, and WinZip AES of
/// each strength over stored, deflated, Deflate64, bzip2 and LZMA) and bsdtar (AES),
/// made of the sample tree in work/tree, byte for byte into destinations that do not
/// exist yet; a wrong password skips the files. Tools that are not installed are
/// left out.
void CheckArchivesOfOtherTools(const TProgram& unzip, const std::filesystem::path& work);
/// tessaly on inputs that are no help file and on an output file it cannot create.
void CheckTessalyStatuses(const TProgram& tessaly, const std::filesystem::path& work);

/// kestrel-unzip lists and extracts every archive of the legacy-method fixtures
/// into work: the listing holds EXPECTED.tsv's fields, every good entry comes out
/// with its SHA-256, every damaged one is reported and leaves no file. With a
/// reference, every line the reference reports stands in the program's report too.
void CheckLegacyFixtures(const TProgram& unzip, const std::filesystem::path& work, const TProgram* reference = nullptr);

}  // namespace e2etest
