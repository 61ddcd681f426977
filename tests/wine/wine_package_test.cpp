// The Windows zip as a user gets it (scripts/package-win32): unpacked into a folder
// of its own, it holds the programs, corvane's templates (share/corvane/) and the
// README and licence as Windows text, and every program starts under Wine from
// there, with nothing but what Windows has.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/test_support.h"
#include "tests/wine/wine_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TTempFolder;

namespace {

// The answer to --version: "NAME VERSION", the version the packages carry.
void ExpectVersion(const std::string& program, const testsupport::TRunResult& run) {
  EXPECT_EQ(run.Status, 0) << program << run.Err;
  EXPECT_EQ(run.Out, program + " " KESTREL_VERSION "\r\n") << program;
}

TEST(WinePackage, ProgramsRunFromTheUnpackedZip) {
  const std::string folderName = "corvane-" KESTREL_VERSION "-win64";
  const fs::path zip = winetest::Win32BuildFolder() / "packages" / (folderName + ".zip");
  if (!fs::exists(zip)) {
    if (winetest::WineRequired()) FAIL() << "no Windows zip at " << zip << " (scripts/package-win32 makes it)";
    GTEST_SKIP() << "no Windows zip at " << zip << " (scripts/package-win32 makes it)";
  }
  KESTREL_REQUIRE_WINE_PROGRAM(zip);

  TTempFolder folder;
  testsupport::ShellIn(folder.Path(), "unzip -q " + testsupport::ShellQuote(zip.string()));
  const fs::path top = folder.Path() / folderName;
  std::set<std::string> programs{"corvane", "kestrel-unzip"};
  if (fs::exists(winetest::TessalyExe())) programs.insert("tessaly");
  std::set<std::string> expected{folderName + "/README.txt", folderName + "/LICENSE.txt"};
  for (const auto& program : programs) expected.insert(folderName + "/" + program + ".exe");
  // The templates that corvane names short, in share/corvane/ below the programs.
  for (const auto& entry : fs::directory_iterator(testsupport::SourceFile("converter/templates"))) {
    if (entry.path().extension() == ".xsl") {
      expected.insert(folderName + "/share/corvane/" + entry.path().filename().string());
    }
  }
  EXPECT_EQ(testsupport::FilesBelow(folder.Path()), expected);

  // Windows text: every line ends in CR LF.
  for (const char* text : {"README.txt", "LICENSE.txt"}) {
    const std::string bytes = ReadFile(top / text);
    EXPECT_FALSE(bytes.empty()) << text;
    for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1)) {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << text << ": a line ends in LF alone at byte " << i;
    }
  }

  for (const auto& program : programs) {
    ExpectVersion(program, winetest::RunWine(top / (program + ".exe"), {"--version"}, top.string()));
  }
}

}  // namespace
