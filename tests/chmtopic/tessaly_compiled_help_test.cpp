// Where tessaly finds the default topic of real CHM files: files compiled here by
// chmcmd from small projects, and files compiled by HTML Help Workshop.

#include <gtest/gtest.h>

#include <string>

#include "tests/chmtopic/help_project.h"
#include "tests/support/test_support.h"

namespace {

using tessalytest::CompileHelp;
using tessalytest::THelpProject;
using testsupport::RunProgram;

class TessalyCompiledHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = tessalytest::MissingHelpCompiler(); !missing.empty()) GTEST_SKIP() << missing;
  }

  // Compiles the project and returns what tessaly prints for it, checking status 0.
  std::string AddressOf(const THelpProject& project) {
    const std::string chm = CompileHelp(folder_, project);
    if (chm.empty()) return {};
    const testsupport::TRunResult run = RunProgram(TESSALY_EXE, {chm});
    EXPECT_EQ(run.Status, 0) << run.Err;
    // The bare address says on stderr that the help file names no topic.
    EXPECT_EQ(run.Err, run.Out.ends_with("::/") ? "tessaly: " + chm + ": the help file names no default topic\n" : "");
    chm_ = chm;
    return run.Out;
  }

  testsupport::TTempFolder folder_;
  std::string chm_;
};

TEST_F(TessalyCompiledHelp, WindowDefaultFileWinsOverDefaultTopic) {
  THelpProject project;
  project.Pages = {"intro.htm", "start.htm", "home.htm"};
  project.DefaultTopic = "intro.htm";
  project.WindowDefaultFile = "start.htm";
  project.WindowHome = "home.htm";
  const std::string address = AddressOf(project);
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/start.htm");
}

TEST_F(TessalyCompiledHelp, DefaultTopicAloneComesFromSystem) {
  THelpProject project;
  project.Pages = {"intro.htm", "other.htm"};
  project.DefaultTopic = "other.htm";
  const std::string address = AddressOf(project);
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/other.htm");
}

TEST_F(TessalyCompiledHelp, NeitherGivesTheBareAddress) {
  const std::string address = AddressOf(THelpProject{});
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/");
}

TEST_F(TessalyCompiledHelp, EmptyWindowDefaultFileIsAnAnswerOfItsOwn) {
  // The window names no default file: the address stays bare, and the project's
  // Default topic is not consulted.
  THelpProject project;
  project.Pages = {"intro.htm"};
  project.DefaultTopic = "intro.htm";
  project.WindowDefaultFile = "";
  project.WindowHome = "intro.htm";
  const std::string address = AddressOf(project);
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/");
}

TEST_F(TessalyCompiledHelp, WindowTopicInSubfolderWithBlanks) {
  THelpProject project;
  project.Pages = {"index.htm", "Guide Book/Part One/first page.htm"};
  project.DefaultTopic = "index.htm";
  project.WindowDefaultFile = "Guide Book/Part One/first page.htm";
  const std::string address = AddressOf(project);
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/Guide Book/Part One/first page.htm");
}

TEST_F(TessalyCompiledHelp, SystemTopicInSubfolderWithBlanks) {
  THelpProject project;
  project.Pages = {"index.htm", "sub dir/my page.htm"};
  project.DefaultTopic = "sub dir/my page.htm";
  const std::string address = AddressOf(project);
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/sub dir/my page.htm");
}

TEST_F(TessalyCompiledHelp, LongestWholeWindowNameIsKept) {
  // A default file of 254 bytes fills the name buffer but one byte for its NUL.
  const std::string folder = std::string(120, 'd') + "/";
  const std::string page = folder + std::string(254 - folder.size() - 4, 'p') + ".htm";
  ASSERT_EQ(page.size(), 254u);
  THelpProject project;
  project.Pages = {"index.htm", page};
  project.DefaultTopic = "index.htm";
  project.WindowDefaultFile = page;
  const std::string address = AddressOf(project);
  EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/" + page);
}

TEST_F(TessalyCompiledHelp, TopicInTheCodePageOfTheLanguageComesAsUtf8) {
  // "Введение.htm" as a Russian project names it, in windows-1251; a project in
  // UTF-8 keeps its name.
  const std::string utf8 = "\u0412\u0432\u0435\u0434\u0435\u043d\u0438\u0435.htm";
  for (const std::string& name : {std::string("\xC2\xE2\xE5\xE4\xE5\xED\xE8\xE5.htm"), utf8}) {
    THelpProject project;
    project.Language = "0x419 Russian";
    project.Pages = {name};
    project.DefaultTopic = name;
    const std::string address = AddressOf(project);
    EXPECT_EQ(address, "mk:@msitstore:" + chm_ + "::/" + utf8);
  }
}

// Compiled by HTML Help Workshop; what each holds is listed beside them.
TEST(TessalyRealHelpFiles, WindowDefaultFileOfLzxCompressedWindows) {
  KESTREL_REQUIRE_FIXTURE(testsupport::Fixture("chm/DotZLib.chm"));
  const std::string chm = testsupport::Fixture("chm/DotZLib.chm").string();
  const testsupport::TRunResult run = RunProgram(TESSALY_EXE, {chm});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "mk:@msitstore:" + chm + "::/DotZLib.html");
}

TEST(TessalyRealHelpFiles, SystemTopicWithoutWindows) {
  KESTREL_REQUIRE_FIXTURE(testsupport::Fixture("chm/Test Help.chm"));
  const std::string chm = testsupport::Fixture("chm/Test Help.chm").string();
  const testsupport::TRunResult run = RunProgram(TESSALY_EXE, {chm});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "mk:@msitstore:" + chm + "::/hlp/License.htm");
}

TEST(TessalyRealHelpFiles, UnreadableWindowsFallsBackToSystem) {
  // The file is cut two bytes short: its compressed "/#WINDOWS" yields no bytes, its
  // uncompressed "/#SYSTEM" still names the topic.
  KESTREL_REQUIRE_FIXTURE(testsupport::Fixture("chm/DotZLib-damaged.chm"));
  const std::string chm = testsupport::Fixture("chm/DotZLib-damaged.chm").string();
  const testsupport::TRunResult run = RunProgram(TESSALY_EXE, {chm});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "mk:@msitstore:" + chm + "::/DotZLib.html");
}

}  // namespace
