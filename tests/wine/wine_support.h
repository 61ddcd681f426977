#pragma once
// Running the Windows build of the programs under Wine from native tests: where the
// .exe files are, whether they can run here, running one with its output captured,
// Linux paths in their Windows form, and the Wine side of the file system (drive C:,
// the Wine user's temporary folder).

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/test_support.h"

namespace winetest {

/// The Windows build folder: $KESTREL_WIN32_BUILD when set, else the compiled-in one.
std::filesystem::path Win32BuildFolder();
/// BUILD/converter/corvane.exe
std::filesystem::path CorvaneExe();
/// BUILD/tools/kestrel-unzip.exe
std::filesystem::path KestrelUnzipExe();
/// BUILD/chmtopic/tessaly.exe (built only where a Windows chmlib was at hand)
std::filesystem::path TessalyExe();

/// Why exe cannot be run here (no wine on PATH, no such .exe); empty when it can.
std::string MissingPrerequisite(const std::filesystem::path& exe);
/// True when KESTREL_REQUIRE_WINE=1: a missing prerequisite fails the test instead
/// of skipping it.
bool WineRequired();

/// Skips the current test (or fails it, when Wine is required) unless exe can run
/// under Wine. Usable in a test body and in SetUp.
#define KESTREL_REQUIRE_WINE_PROGRAM(exe)                                \
  do {                                                                   \
    const std::string whyNot = ::winetest::MissingPrerequisite(exe);     \
    if (!whyNot.empty()) {                                               \
      if (::winetest::WineRequired()) FAIL() << whyNot;                  \
      GTEST_SKIP() << whyNot << " (set KESTREL_REQUIRE_WINE=1 to fail)"; \
    }                                                                    \
  } while (false)

/// Runs a Windows program under Wine, in workingFolder (a Linux path) when given,
/// with WINEDEBUG=-all and a UTF-8 locale; WINEPREFIX and the rest of the
/// environment are inherited, environment ("NAME=value ...") is added in front.
/// Standard output is exact (lines end in CR LF); standard error may carry lines of
/// Wine's own, so look for expected lines in it with HasLine.
testsupport::TRunResult RunWine(const std::filesystem::path& exe, const std::vector<std::string>& args,
                                const std::string& workingFolder = {}, const std::string& environment = {});

/// A Windows program as the end-to-end tables run it: under Wine, with Windows
/// paths, CR LF line ends, and Wine's own lines allowed on standard error.
e2etest::TProgram WineProgram(const std::filesystem::path& exe);

/// True when text holds line as a whole line ending in CR LF.
bool HasLine(const std::string& text, const std::string& line);
/// text with every LF turned into CR LF (for the console text of the Linux build).
std::string WithCrLf(const std::string& text);

/// The Windows form of an absolute Linux path, through Wine's drive Z: (the Linux
/// root): /tmp/a/b is Z:\tmp\a\b.
std::string WindowsPath(const std::filesystem::path& linuxPath);

/// The Wine prefix in use: $WINEPREFIX, else ~/.wine.
std::filesystem::path WinePrefix();
/// The folder that is drive C: of the prefix.
std::filesystem::path WineDriveC();
/// The Wine user's temporary folder (what GetTempPath names), as a Linux path.
/// Asked of Wine once per test program.
std::filesystem::path WineTempFolder();

/// Names of the corvane work folders ("corvane-*") now in the Wine temporary folder.
std::set<std::string> CorvaneWorkFolders();
/// Work folders that are there now but were not in before, after giving a run of
/// another test program in the same prefix a moment to remove its own.
std::set<std::string> WorkFoldersLeftSince(const std::set<std::string>& before);

using testsupport::EntriesBelow;
using testsupport::FilesBelow;

/// A fresh folder at the root of Wine's drive C:, removed with its contents by the
/// destructor; for names that only drive C: can resolve ("C:name", "C:\name").
class TDriveCFolder {
 public:
  TDriveCFolder();
  ~TDriveCFolder();
  TDriveCFolder(const TDriveCFolder&) = delete;
  TDriveCFolder& operator=(const TDriveCFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// The folder's own name, as it stands at the root of C:.
  std::string Name() const { return path_.filename().string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace winetest
