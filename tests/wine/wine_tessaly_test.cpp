// tessaly.exe under Wine on the real CHM files, next to the Linux build. tessaly.exe
// is built only where a Windows chmlib could be made, so its absence skips these
// tests even where Wine is required.

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/wine/wine_support.h"

namespace fs = std::filesystem;
using testsupport::Fixture;
using testsupport::ReadFile;
using testsupport::RunProgram;
using winetest::RunWine;
using winetest::WindowsPath;

namespace {

class WineTessaly : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(winetest::TessalyExe())) GTEST_SKIP() << "no tessaly.exe in this Windows build";
    KESTREL_REQUIRE_WINE_PROGRAM(winetest::TessalyExe());
  }
};

TEST_F(WineTessaly, DefaultTopicsOfTheRealHelpFilesAsOnLinux) {
  for (const char* name : {"Test Help.chm", "DotZLib.chm", "DotZLib-damaged.chm"}) {
    const fs::path chm = Fixture(std::string("chm/") + name);
    KESTREL_REQUIRE_FIXTURE(chm);
    const auto onLinux = RunProgram(LINUX_TESSALY_EXE, {chm.string()});
    ASSERT_EQ(onLinux.Status, 0) << name;
    // The address names the file as given: the Windows path on Windows.
    const auto windows = RunWine(winetest::TessalyExe(), {WindowsPath(chm)});
    EXPECT_EQ(windows.Status, 0) << name;
    const std::string topic = onLinux.Out.substr(onLinux.Out.find("::"));
    EXPECT_EQ(windows.Out, "mk:@msitstore:" + WindowsPath(chm) + topic) << name;
  }
}

TEST_F(WineTessaly, OutputFileAndFailures) {
  const fs::path chm = Fixture("chm/DotZLib.chm");
  KESTREL_REQUIRE_FIXTURE(chm);
  testsupport::TTempFolder tmp;
  const auto written = RunWine(winetest::TessalyExe(), {WindowsPath(chm), WindowsPath(tmp.Path() / "topic.txt")});
  EXPECT_EQ(written.Status, 0);
  EXPECT_EQ(ReadFile(tmp.Path() / "topic.txt"), "mk:@msitstore:" + WindowsPath(chm) + "::/DotZLib.html");

  // Names ignore case on Windows.
  const auto anyCase = RunWine(winetest::TessalyExe(), {WindowsPath(chm.parent_path() / "dotzlib.CHM")});
  EXPECT_EQ(anyCase.Status, 0);
  // Not a help file, an output file that cannot be created: as on Linux.
  fs::create_directory(tmp.Path() / "table");
  e2etest::CheckTessalyStatuses(winetest::WineProgram(winetest::TessalyExe()), tmp.Path() / "table");
}

}  // namespace
