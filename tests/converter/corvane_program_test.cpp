// corvane end to end: the command line, the messages, the exit statuses, the
// output name and the stylesheet reference, through the built program.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/end_to_end.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TTempFolder;
using testsupport::WriteFile;

namespace {

class CorvaneProgram : public ::testing::Test {
 protected:
  CorvaneProgram() {
    fs::create_directory(tmp.Path() / "temp");
    WriteFile(folder / "view.xsl", "<xsl:stylesheet/>");
  }
  // Runs corvane in the test folder with a private temporary-files directory.
  testsupport::TRunResult Corvane(const std::vector<std::string>& args) {
    return RunProgram(CORVANE_EXE, args, folder.Path().string(), "TMPDIR=" + testsupport::ShellQuote(folder / "temp"));
  }
  std::string Reference(const std::string& templatePath) {
    return "\r\n<?xml-stylesheet href=\"" + templatePath + "\" type=\"text/xsl\"?>\r\n";
  }
  TTempFolder tmp;
  TTempFolder& folder = tmp;
};

TEST_F(CorvaneProgram, UsageMessagesAndExitStatuses) {
  fs::create_directory(folder.Path() / "work");
  e2etest::CheckCorvaneStatuses(e2etest::Native(CORVANE_EXE, "TMPDIR=" + testsupport::ShellQuote(folder / "temp")),
                                folder.Path() / "work");
  EXPECT_TRUE(fs::is_empty(folder.Path() / "temp")) << "no work folder is left, not even for a usage error";
}

TEST_F(CorvaneProgram, ConvertsAndInsertsTheReferenceAfterTheDeclaration) {
  WriteFile(folder / "book.fb2",
            "<?xml version=\"1.0\"?>\r\n<!DOCTYPE book SYSTEM \"b.dtd\">\r\n<book>text</book>\r\n");
  const auto result = Corvane({"book.fb2", "view.xsl", "out"});
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out, "");
  EXPECT_EQ(ReadFile(folder.Path() / "out" / "book.XML"),
            "<?xml version=\"1.0\"?>" + Reference(folder / "view.xsl") + "\r\n\r\n<book>text</book>\r\n");
  EXPECT_TRUE(fs::is_empty(folder.Path() / "temp")) << "the work folder is removed";
}

TEST_F(CorvaneProgram, OutputNamesAndFolders) {
  WriteFile(folder / "a.b.xml", "<r/>");
  WriteFile(folder / "notes", "<r/>");
  WriteFile(folder / ".profile", "<r/>");
  // With and without a trailing separator; a missing chain of folders is created;
  // a one-letter relative folder is a folder like any other.
  EXPECT_EQ(Corvane({"a.b.xml", "view.xsl", "deep/er/out/"}).Status, 0);
  EXPECT_TRUE(fs::exists(folder.Path() / "deep/er/out/a.b.XML"));
  EXPECT_EQ(Corvane({"notes", "view.xsl", "o"}).Status, 0);
  EXPECT_TRUE(fs::exists(folder.Path() / "o/notes.XML"));
  EXPECT_EQ(Corvane({folder / ".profile", "view.xsl", folder / "o"}).Status, 0);
  EXPECT_TRUE(fs::exists(folder.Path() / "o/.XML"));
}

TEST_F(CorvaneProgram, MissingTemplateWarnsAndStillConverts) {
  WriteFile(folder / "d.xml", "<root/>");
  const auto result = Corvane({"d.xml", "./gone/x&y.xsl", "out"});
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out, "Warning! The xsl(t) template ./gone/x&y.xsl does not exist!\n");
  // The reference names the expanded path as a URI reference, in front of the
  // root element of a document without a prolog.
  EXPECT_EQ(ReadFile(folder.Path() / "out/d.XML"), Reference(folder / "gone/x%26y.xsl") + "<root/>");
}

TEST_F(CorvaneProgram, NonAsciiTemplatePathIsUtf8InTheReference) {
  WriteFile(folder / "d.xml", "<r/>");
  WriteFile(folder / "vue\xC3\xA9.xsl", "<xsl/>");
  const auto result = Corvane({"d.xml", "vue\xC3\xA9.xsl", "out"});
  EXPECT_EQ(result.Out, "");
  EXPECT_EQ(ReadFile(folder.Path() / "out/d.XML"), Reference(folder / "vue%C3%A9.xsl") + "<r/>");
  // Bytes that are not UTF-8 never reach the reference as such.
  WriteFile(folder / "bad\xE9.xsl", "<xsl/>");
  Corvane({"d.xml", "bad\xE9.xsl", "out2"});
  EXPECT_EQ(ReadFile(folder.Path() / "out2/d.XML"), Reference(folder / "bad%EF%BF%BD.xsl") + "<r/>");
}

TEST_F(CorvaneProgram, TemplatePathsThatNeedEscapingReachXsltproc) {
  if (!testsupport::HaveCommand("xsltproc")) GTEST_SKIP() << "xsltproc is not installed";
  // A blank, a quote, an ampersand and Cyrillic letters in the template's folder;
  // books in UTF-8 and in windows-1251. xsltproc must find the template through
  // the instruction alone.
  const std::string tricky = "my \"x&y\" \xD0\x9A\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8";
  fs::create_directory(folder.Path() / tricky);
  WriteFile(folder.Path() / tricky / "view.xsl",
            "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
            "<xsl:output method=\"text\" encoding=\"UTF-8\"/>"
            "<xsl:template match=\"/\">applied: <xsl:value-of select=\"//p\"/></xsl:template></xsl:stylesheet>");
  WriteFile(folder / "utf8.fb2", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<book><p>\xD0\x9B</p></book>\n");
  WriteFile(folder / "cp1251.fb2", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<book><p>\xCB</p></book>\n");
  for (const std::string book : {"utf8", "cp1251"}) {
    const auto result = Corvane({book + ".fb2", tricky + "/view.xsl", "out"});
    EXPECT_EQ(result.Status, 0) << book << result.Err;
    EXPECT_EQ(result.Out, "") << book;
    const std::string xml = ReadFile(folder.Path() / "out" / (book + ".XML"));
    EXPECT_NE(
        xml.find("href=\"" + folder.Path().string() + "/my%20%22x%26y%22%20%D0%9A%D0%BD%D0%B8%D0%B3%D0%B8/view.xsl\""),
        std::string::npos)
        << xml;
    ASSERT_EQ(testsupport::RunShell("xsltproc " + testsupport::ShellQuote(folder.Path() / "out" / (book + ".XML")) +
                                    " > " + testsupport::ShellQuote(folder / "applied.txt") + " 2>&1"),
              0)
        << ReadFile(folder / "applied.txt");
    EXPECT_EQ(ReadFile(folder / "applied.txt"), "applied: \xD0\x9B") << book;
  }
  // A missing template is still named as given.
  EXPECT_EQ(Corvane({"utf8.fb2", tricky + "/gone.xsl", "out"}).Out,
            "Warning! The xsl(t) template " + tricky + "/gone.xsl does not exist!\n");
}

TEST_F(CorvaneProgram, AnySpellingOfTheOutputFolderAndAPipeAsInput) {
  WriteFile(folder / "d.xml", "<?xml version=\"1.0\"?><d/>");
  const std::string expected = "<?xml version=\"1.0\"?>" + Reference(folder / "view.xsl") + "<d/>";
  for (const std::string out : {"out//", "./o2/", "o3//deep///", "./o4/./x/."}) {
    const auto result = Corvane({"d.xml", "view.xsl", out});
    EXPECT_EQ(result.Status, 0) << out << result.Out;
    EXPECT_EQ(ReadFile(folder.Path() / out / "d.XML"), expected) << out;
  }
  // A pipe is the document itself, copied and converted as it streams in.
  const std::string line = "cd " + testsupport::ShellQuote(folder.Path().string()) +
                           " && cat d.xml | TMPDIR=" + testsupport::ShellQuote(folder / "temp") + " " +
                           testsupport::ShellQuote(CORVANE_EXE) + " /dev/stdin view.xsl piped > piped.txt 2>&1";
  EXPECT_EQ(testsupport::RunShell(line), 0) << ReadFile(folder / "piped.txt");
  EXPECT_EQ(ReadFile(folder.Path() / "piped/stdin.XML"), expected);
  EXPECT_TRUE(fs::is_empty(folder.Path() / "temp"));

  // "-" reads standard input, a document or a package (whose directory lies at
  // its end), into stdin.XML; a damaged one is named "standard input".
  testsupport::PythonZip(folder / "d.odt", {{"content.xml", "<?xml version=\"1.0\"?><d/>"}}, {"DEFLATED"});
  WriteFile(folder / "bad.odt", ReadFile(folder / "d.odt").substr(0, 40) + std::string(60, 'x'));
  for (const std::string input : {"d.xml", "d.odt", "bad.odt"}) {
    const std::string dashLine = "cd " + testsupport::ShellQuote(folder.Path().string()) + " && cat " + input +
                                 " | TMPDIR=" + testsupport::ShellQuote(folder / "temp") + " " +
                                 testsupport::ShellQuote(CORVANE_EXE) + " - view.xsl dash > dash.txt 2>&1";
    const int status = testsupport::RunShell(dashLine);
    if (input == "bad.odt") {
      EXPECT_EQ(status, 2);
      EXPECT_NE(ReadFile(folder / "dash.txt").find("corvane: standard input: "), std::string::npos)
          << ReadFile(folder / "dash.txt");
    } else {
      EXPECT_EQ(status, 0) << input << ReadFile(folder / "dash.txt");
      EXPECT_EQ(ReadFile(folder.Path() / "dash/stdin.XML"), expected) << input;
    }
    EXPECT_TRUE(fs::is_empty(folder.Path() / "temp")) << input;
  }
}

TEST_F(CorvaneProgram, CopyFailuresReportTheSystemCode) {
  auto result = Corvane({"missing.xml", "view.xsl", "out"});
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Temp file copy error: 2\n");
  EXPECT_EQ(result.Err,
            "corvane: cannot copy missing.xml to " + (folder / "out/missing.XML") + ": No such file or directory\n");
  EXPECT_TRUE(fs::is_empty(folder.Path() / "temp"));

  // The input already is NAME.XML in the output folder: the copy fails and the
  // input is left exactly as it was.
  fs::create_directory(folder.Path() / "out");
  const std::string original = "<?xml version=\"1.0\"?><!DOCTYPE d><d/>";
  WriteFile(folder.Path() / "out/same.XML", original);
  result = Corvane({"out/same.XML", "view.xsl", "out"});
  EXPECT_EQ(result.Status, 2);
  EXPECT_TRUE(result.Out.starts_with("Temp file copy error: ")) << result.Out;
  EXPECT_NE(result.Out, "Temp file copy error: 0\n");
  EXPECT_EQ(ReadFile(folder.Path() / "out/same.XML"), original);
}

TEST_F(CorvaneProgram, DocumentWithoutMarkupFailsAndLeavesNoCopy) {
  fs::create_directory(folder.Path() / "out");
  WriteFile(folder.Path() / "out/plain.XML", "an older copy");
  for (const std::string text : {"no markup at all", "only < an opening", "", "<!DOCTYPE x>"}) {
    WriteFile(folder / "plain.txt", text);
    const auto result = Corvane({"plain.txt", "view.xsl", "out"});
    EXPECT_EQ(result.Status, 2) << text;
    EXPECT_EQ(result.Out, "Conversion failed!\n") << text;
    EXPECT_EQ(result.Err, "corvane: plain.txt: the document has no markup (no \"<\" followed by \">\")\n") << text;
    EXPECT_FALSE(fs::exists(folder.Path() / "out/plain.XML")) << text;
  }
}

TEST_F(CorvaneProgram, ExistingOutputIsReplacedAndInputUntouched) {
  fs::create_directory(folder.Path() / "out");
  WriteFile(folder.Path() / "out/d.XML", std::string(100000, 'x'));
  const std::string input = "<d>" + std::string(200000, 'y') + "</d>";
  WriteFile(folder / "d.xml", input);
  EXPECT_EQ(Corvane({"d.xml", "view.xsl", "out"}).Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/d.XML"),
            Reference(folder / "view.xsl") + "<d>" + std::string(200000, 'y') + "</d>");
  EXPECT_EQ(ReadFile(folder / "d.xml"), input);
}

TEST_F(CorvaneProgram, ConcurrentRunsUsePrivateWorkFolders) {
  WriteFile(folder / "d.xml", "<d/>");
  // Several runs at once under one temporary-files directory all succeed and all
  // leave it empty.
  const std::string line = "cd " + testsupport::ShellQuote(folder.Path().string()) +
                           " && for i in 1 2 3 4 5 6 7 8; do TMPDIR=" + testsupport::ShellQuote(folder / "temp") + " " +
                           testsupport::ShellQuote(CORVANE_EXE) + " d.xml view.xsl out$i >/dev/null & done; wait";
  EXPECT_EQ(testsupport::RunShell(line), 0);
  for (int i = 1; i <= 8; ++i) EXPECT_TRUE(fs::exists(folder.Path() / ("out" + std::to_string(i)) / "d.XML"));
  EXPECT_TRUE(fs::is_empty(folder.Path() / "temp"));
}

}  // namespace
