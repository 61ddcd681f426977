// The tessaly command line end to end: arguments, the output to stdout or a file,
// the usage text and the exit statuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/chmtopic/help_project.h"
#include "tests/support/end_to_end.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TRunResult;
using testsupport::WriteFile;

// A CHM compiled once per test whose default topic is "intro.htm".
class TessalyCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = tessalytest::MissingHelpCompiler(); !missing.empty()) GTEST_SKIP() << missing;
    tessalytest::THelpProject project;
    project.Pages = {"intro.htm"};
    project.DefaultTopic = "intro.htm";
    chm_ = tessalytest::CompileHelp(folder_, project, "help/app.chm");
    ASSERT_FALSE(chm_.empty());
  }

  std::string AddressFor(const std::string& path) const { return "mk:@msitstore:" + path + "::/intro.htm"; }

  testsupport::TTempFolder folder_;
  std::string chm_;
};

TEST_F(TessalyCommandLine, RelativePathAppearsUnchanged) {
  for (const std::string path : {"help/app.chm", "./help/../help/app.chm", "help//app.chm"}) {
    const TRunResult run = RunProgram(TESSALY_EXE, {path}, folder_.Path().string());
    EXPECT_EQ(run.Status, 0) << path;
    EXPECT_EQ(run.Out, AddressFor(path));
  }
}

TEST_F(TessalyCommandLine, OutputFileHoldsExactlyTheAddress) {
  const std::string output = folder_ / "topic.txt";
  const TRunResult run = RunProgram(TESSALY_EXE, {chm_, output});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(ReadFile(output), AddressFor(chm_));
}

TEST_F(TessalyCommandLine, ExistingOutputFileIsTruncated) {
  const std::string output = folder_ / "topic.txt";
  WriteFile(output, std::string(5000, 'x') + "\n");
  const TRunResult run = RunProgram(TESSALY_EXE, {chm_, output});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(ReadFile(output), AddressFor(chm_));
}

TEST_F(TessalyCommandLine, ThirdArgumentIsIgnored) {
  const std::string output = folder_ / "topic.txt";
  const TRunResult run = RunProgram(TESSALY_EXE, {chm_, output, folder_ / "third.txt"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(ReadFile(output), AddressFor(chm_));
  EXPECT_FALSE(fs::exists(folder_ / "third.txt"));
}

TEST(TessalyUsage, NoArgumentShowsUsageWithInvocationName) {
  const TRunResult run = RunProgram(TESSALY_EXE, {});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, std::string("Tessaly\nusage: ") + TESSALY_EXE + " <chmfile> [output_filename]\n");
}

TEST(TessalyNotAChm, EveryUnopenableInputGivesStatus2) {
  testsupport::TTempFolder folder;
  e2etest::CheckTessalyStatuses(e2etest::Native(TESSALY_EXE), folder.Path());
}

// When the output file cannot be opened the run fails with status 3 and one line on
// stderr naming the file and the reason, instead of reporting success.
class TessalyOutputFailure : public TessalyCommandLine {
 protected:
  void ExpectFailure(const std::string& output, const std::string& reason) {
    const TRunResult run = RunProgram(TESSALY_EXE, {chm_, output});
    EXPECT_EQ(run.Status, 3) << output;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "tessaly: cannot open output file \"" + output + "\": " + reason + "\n");
  }
};

TEST_F(TessalyOutputFailure, FolderIsMissing) {
  ExpectFailure(folder_ / "no such folder/topic.txt", "No such file or directory");
}

TEST_F(TessalyOutputFailure, NameIsADirectory) { ExpectFailure(folder_ / "help", "Is a directory"); }

TEST_F(TessalyOutputFailure, NameIsEmpty) { ExpectFailure("", "No such file or directory"); }

TEST_F(TessalyOutputFailure, NoPermission) {
  const fs::path locked = folder_.Path() / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  // The superuser writes anyway; the check needs an ordinary user.
  if (testsupport::RunShell("touch " + testsupport::ShellQuote((locked / "probe").string()) + " 2>/dev/null") == 0) {
    GTEST_SKIP() << "running with rights that ignore folder permissions";
  }
  ExpectFailure((locked / "topic.txt").string(), "Permission denied");
}

TEST_F(TessalyOutputFailure, FullDeviceIsNotSuccess) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const TRunResult toFile = RunProgram(TESSALY_EXE, {chm_, "/dev/full"});
  EXPECT_EQ(toFile.Status, 3);
  EXPECT_EQ(toFile.Err, "tessaly: cannot write output file \"/dev/full\": No space left on device\n");

  const TRunResult toStdout = RunProgram("/bin/sh", {"-c", "\"$0\" \"$1\" >/dev/full", TESSALY_EXE, chm_});
  EXPECT_EQ(toStdout.Status, 3);
  EXPECT_EQ(toStdout.Err, "tessaly: cannot write to standard output: No space left on device\n");
}

}  // namespace
