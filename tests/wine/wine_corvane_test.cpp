// corvane.exe under Wine, end to end: Windows paths (drives, backslashes, drive-
// relative names, folders named like drives, the 260-character limit), the console
// text in CR LF, the shipped example, office packages on a file system that ignores
// case, read-only files in the work folder, and the real books compared with the
// Linux build's output.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/unzip/zip_builder.h"
#include "tests/wine/wine_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ShellQuote;
using testsupport::TRunResult;
using testsupport::TTempFolder;
using testsupport::WriteFile;
using winetest::HasLine;
using winetest::WindowsPath;

namespace {

const std::string Book =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!DOCTYPE FictionBook SYSTEM \"fb.dtd\">\r\n"
    "<FictionBook><body>text</body><binary id=\"pic.png\" content-type=\"image/png\">iVBORw0KGgo=</binary>"
    "</FictionBook>\r\n";

// The stylesheet instruction as corvane inserts it, naming templatePath.
std::string Reference(const std::string& templatePath) {
  return "\r\n<?xml-stylesheet href=\"" + templatePath + "\" type=\"text/xsl\"?>\r\n";
}

// The copy of an XML text that starts with a declaration and may carry a DOCTYPE
// (removed up to its first ">").
std::string Converted(std::string xml, const std::string& templatePath) {
  const std::size_t doctype = xml.find("<!DOCTYPE");
  if (doctype != std::string::npos) xml.erase(doctype, xml.find('>', doctype) + 1 - doctype);
  const std::size_t end = xml.find("?>") + 2;
  return xml.substr(0, end) + Reference(templatePath) + xml.substr(end);
}

// A path below base whose Windows form (through Z:) is exactly length characters,
// ending in leaf; the folders between are made of one letter each, at most 100
// characters long, and are not created.
fs::path PathOfWindowsLength(const fs::path& base, std::size_t length, const std::string& leaf) {
  const std::size_t fixed = WindowsPath(base).size() + 1 + leaf.size();
  if (length < fixed) throw std::invalid_argument("base path too long");
  std::size_t remaining = length - fixed;
  fs::path path = base;
  for (char letter = 'a'; remaining > 0; ++letter) {
    std::size_t size = std::min<std::size_t>(100, remaining - 1);
    if (remaining - (size + 1) == 1) --size;  // no one-byte remainder, it cannot hold a name
    path /= std::string(size, letter);
    remaining -= size + 1;
  }
  return path / leaf;
}

// Builds a zip package in memory: stored entries as the builder writes them.
std::string Package(const std::vector<std::pair<std::string, std::string>>& parts, std::uint16_t madeBy = 0x0314,
                    std::uint32_t attributes = 0x81A40000) {
  std::vector<ziptest::TEntrySpec> entries;
  for (const auto& [name, data] : parts) {
    entries.push_back({.Name = name, .Data = data, .VersionMadeBy = madeBy, .ExternalAttributes = attributes});
  }
  return ziptest::BuildArchive(entries);
}

class WineCorvane : public ::testing::Test {
 protected:
  void SetUp() override {
    KESTREL_REQUIRE_WINE_PROGRAM(winetest::CorvaneExe());
    ASSERT_TRUE(fs::is_directory(winetest::WineTempFolder())) << "the Wine user's temporary folder is not known";
    before_ = winetest::CorvaneWorkFolders();
    ready_ = true;
    WriteFile(folder / "view.xsl", "<xsl:stylesheet/>");
  }
  void TearDown() override {
    // Every run removes its private work folder from the Wine user's temporary folder.
    if (ready_) {
      EXPECT_EQ(winetest::WorkFoldersLeftSince(before_), std::set<std::string>{}) << winetest::WineTempFolder();
    }
  }
  // corvane.exe, by default in the test folder.
  TRunResult Corvane(const std::vector<std::string>& args, const std::string& workingFolder = {}) {
    return winetest::RunWine(winetest::CorvaneExe(), args,
                             workingFolder.empty() ? folder.Path().string() : workingFolder);
  }
  // The Linux build, with a private temporary-files directory.
  TRunResult LinuxCorvane(const std::vector<std::string>& args, const std::string& workingFolder = {}) {
    fs::create_directories(folder.Path() / "linux-temp");
    return RunProgram(LINUX_CORVANE_EXE, args, workingFolder.empty() ? folder.Path().string() : workingFolder,
                      "TMPDIR=" + ShellQuote(folder / "linux-temp"));
  }
  // win-out holds the files of linux-out (minimum of them at least), byte for byte but
  // for the reference in copy, which names the template as each system writes it.
  void ExpectAsOnLinux(const std::string& copy, const std::string& linuxTemplate, const std::string& windowsTemplate,
                       std::size_t minimum) {
    const auto names = winetest::FilesBelow(folder.Path() / "linux-out");
    EXPECT_GE(names.size(), minimum) << "the copy and its payloads";
    EXPECT_EQ(winetest::FilesBelow(folder.Path() / "win-out"), names);
    for (const auto& name : names) {
      std::string expected = Read("linux-out/" + name);
      if (name == copy) {
        const std::string linuxHref = "href=\"" + linuxTemplate + "\"";
        const std::size_t at = expected.find(linuxHref);
        ASSERT_NE(at, std::string::npos) << copy;
        expected.replace(at, linuxHref.size(), "href=\"" + windowsTemplate + "\"");
      }
      EXPECT_TRUE(Read("win-out/" + name) == expected) << name;
    }
  }
  // The Windows path of a name in the test folder.
  std::string Win(const std::string& name) { return WindowsPath(folder.Path() / name); }
  std::string Read(const std::string& name) { return ReadFile(folder.Path() / name); }

  TTempFolder folder;

 private:
  std::set<std::string> before_;
  bool ready_ = false;
};

// ---- Windows paths ------------------------------------------------------------------

using WineCorvanePaths = WineCorvane;

TEST_F(WineCorvanePaths, DrivePathsBackslashesAndTrailingBackslashes) {
  fs::create_directories(folder.Path() / "in");
  WriteFile(folder.Path() / "in/book.fb2", Book);
  const std::string expected = Converted(Book, Win("view.xsl"));
  // Without and with a trailing backslash, and a missing chain of folders.
  for (const std::string& out : {Win("out"), Win("out2") + "\\", Win("deep/er/out3") + "\\"}) {
    const auto run = Corvane({Win("in/book.fb2"), Win("view.xsl"), out});
    EXPECT_EQ(run.Status, 0) << out << run.Out;
    EXPECT_EQ(run.Out, "") << out;
  }
  EXPECT_EQ(Read("out/book.XML"), expected);
  EXPECT_EQ(Read("out2/book.XML"), expected);
  EXPECT_EQ(Read("deep/er/out3/book.XML"), expected);
  // The reference is the full path in the system's own form: forward slashes and
  // "." and ".." steps come out as the backslash path of the template.
  std::string slashed = Win("in/../view.xsl");
  for (char& c : slashed)
    if (c == '\\') c = '/';
  const auto run = Corvane({Win("in/book.fb2"), slashed, Win("out4")});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(Read("out4/book.XML"), expected);
  EXPECT_EQ(
      winetest::EntriesBelow(folder.Path()),
      (std::set<std::string>{"view.xsl", "in", "in/book.fb2", "out", "out/book.XML", "out2", "out2/book.XML", "deep",
                             "deep/er", "deep/er/out3", "deep/er/out3/book.XML", "out4", "out4/book.XML"}));
}

TEST_F(WineCorvanePaths, RelativeBackslashPathsFromTheWorkingFolder) {
  fs::create_directories(folder.Path() / "work/docs");
  fs::create_directories(folder.Path() / "tpl");
  WriteFile(folder.Path() / "work/docs/book.fb2", Book);
  WriteFile(folder.Path() / "tpl/view.xsl", "<xsl/>");
  const std::string work = (folder.Path() / "work").string();
  auto run = Corvane({"docs\\book.fb2", "..\\tpl\\view.xsl", "res\\out"}, work);
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Read("work/res/out/book.XML"), Converted(Book, Win("tpl/view.xsl")));
  // Up and out of the working folder, with a trailing backslash; "." steps fold away.
  run = Corvane({".\\docs\\.\\book.fb2", ".\\..\\tpl\\view.xsl", "..\\res2\\"}, work);
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(Read("res2/book.XML"), Converted(Book, Win("tpl/view.xsl")));
  // A template named relative to the working folder that is missing: the warning
  // names it as given, the reference names its full path.
  run = Corvane({"docs\\book.fb2", "gone\\x&y.xsl", "res\\out"}, work);
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "Warning! The xsl(t) template gone\\x&y.xsl does not exist!\r\n");
  EXPECT_EQ(Read("work/res/out/book.XML"), Converted(Book, Win("work/gone/x%26y.xsl")));
}

TEST_F(WineCorvanePaths, DriveRelativeNamesOnDriveC) {
  // The process starts on drive Z: (the Linux working folder); drive C: keeps its
  // own current folder, its root, so "C:name" is C:\name.
  winetest::TDriveCFolder driveC;
  WriteFile(driveC.Path() / "book.fb2", Book);
  WriteFile(driveC.Path() / "view.xsl", "<xsl/>");
  const std::string name = driveC.Name();
  auto run = Corvane({"C:" + name + "\\book.fb2", "C:" + name + "\\view.xsl", "C:" + name + "\\out"});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(ReadFile(driveC.Path() / "out/book.XML"), Converted(Book, "C:\\" + name + "\\view.xsl"));
  // A drive-relative output folder without a backslash in it, a document on Z:.
  WriteFile(folder / "local.fb2", Book);
  run = Corvane({"local.fb2", "C:" + name + "\\view.xsl", "C:" + name});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(ReadFile(driveC.Path() / "local.XML"), Converted(Book, "C:\\" + name + "\\view.xsl"));
  // A drive-relative document that is not there: the system's code for a missing file.
  run = Corvane({"C:" + name + "\\missing.fb2", "view.xsl", "out"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Out, "Temp file copy error: 2\r\n");
  // Nothing of this landed in the Linux working folder; the failed run took back
  // the output folder it made.
  EXPECT_EQ(winetest::EntriesBelow(folder.Path()), (std::set<std::string>{"view.xsl", "local.fb2"}));
  EXPECT_EQ(winetest::EntriesBelow(driveC.Path()),
            (std::set<std::string>{"book.fb2", "view.xsl", "out", "out/book.XML", "local.XML"}));
}

TEST_F(WineCorvanePaths, OutputFoldersNamedLikeDrives) {
  WriteFile(folder / "book.fb2", Book);
  // "C" and "D" are folders in the working folder, not drives, with or without a
  // trailing backslash, relative or full; payloads go beside the copy.
  for (const std::string& out : {std::string("C"), std::string("D\\"), std::string("c2"), Win("E")}) {
    const auto run = Corvane({"book.fb2", "view.xsl", out, "1"});
    EXPECT_EQ(run.Status, 0) << out << run.Out;
    EXPECT_EQ(run.Out, "") << out;
  }
  for (const std::string out : {"C", "D", "c2", "E"}) {
    EXPECT_EQ(Read(out + "/book.XML"), Converted(Book, Win("view.xsl"))) << out;
    EXPECT_EQ(Read(out + "/pic.png"), "\x89PNG\r\n\x1A\n") << out;
  }
  EXPECT_EQ(winetest::EntriesBelow(folder.Path()),
            (std::set<std::string>{"view.xsl", "book.fb2", "C", "C/book.XML", "C/pic.png", "D", "D/book.XML",
                                   "D/pic.png", "c2", "c2/book.XML", "c2/pic.png", "E", "E/book.XML", "E/pic.png"}));
  EXPECT_FALSE(fs::exists(winetest::WineDriveC() / "book.XML")) << "the copy went to the root of drive C:";
  EXPECT_FALSE(fs::exists(winetest::WineDriveC() / "pic.png"));
}

TEST_F(WineCorvanePaths, LongPathsAtTheLimitAndBeyond) {
  // The system's full-path buffer holds 259 characters and the terminating NUL.
  WriteFile(folder / "book.fb2", Book);
  const std::string expected = Converted(Book, Win("view.xsl"));

  // A copy whose full path is 259 characters long.
  const fs::path atLimit = PathOfWindowsLength(folder.Path() / "limit", 259, "book.XML");
  ASSERT_EQ(WindowsPath(atLimit).size(), 259u);
  auto run = Corvane({"book.fb2", "view.xsl", WindowsPath(atLimit.parent_path())});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(ReadFile(atLimit), expected);

  // An output folder whose full path is longer than that: refused cleanly, and no
  // file at all is written under it (neither the copy nor a temporary file).
  const fs::path tooLong = PathOfWindowsLength(folder.Path() / "over", 300, "x").parent_path();
  run = Corvane({"book.fb2", "view.xsl", WindowsPath(tooLong)});
  EXPECT_EQ(run.Status, 2) << run.Out;
  EXPECT_TRUE(run.Out.starts_with("Temp file copy error: ")) << run.Out;
  EXPECT_NE(run.Out, "Temp file copy error: 0\r\n");
  EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 1) << run.Out;
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "over"), std::set<std::string>{});

  // A document whose full path is 259 characters long, and one of 280.
  const fs::path inputAtLimit = PathOfWindowsLength(folder.Path() / "in", 259, "book.fb2");
  fs::create_directories(inputAtLimit.parent_path());
  WriteFile(inputAtLimit, Book);
  run = Corvane({WindowsPath(inputAtLimit), "view.xsl", "out1"});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(Read("out1/book.XML"), expected);
  const fs::path inputTooLong = PathOfWindowsLength(folder.Path() / "in", 280, "book.fb2");
  fs::create_directories(inputTooLong.parent_path());
  WriteFile(inputTooLong, Book);
  run = Corvane({WindowsPath(inputTooLong), "view.xsl", "out2"});
  EXPECT_EQ(run.Status, 2) << run.Out;
  EXPECT_TRUE(run.Out.starts_with("Temp file copy error: ")) << run.Out;
  EXPECT_NE(run.Out, "Temp file copy error: 0\r\n");
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "out2"), std::set<std::string>{});
  EXPECT_EQ(ReadFile(inputTooLong), Book) << "the document is left as it was";
}

TEST_F(WineCorvanePaths, CopyOntoItselfUnderAnotherSpelling) {
  // Names that differ in case, or a folder spelled otherwise, are one file here: the
  // copy of out\same.xml to out\same.XML fails and leaves the document as it was.
  fs::create_directories(folder.Path() / "out");
  const std::string original = "<?xml version=\"1.0\"?><!DOCTYPE d><d/>";
  WriteFile(folder.Path() / "out/same.xml", original);
  for (const auto& [input, out] : std::vector<std::pair<std::string, std::string>>{
           {"out\\same.xml", "out"}, {Win("OUT/same.xml"), Win("out") + "\\"}, {"Out\\Same.Xml", ".\\out"}}) {
    const auto run = Corvane({input, "view.xsl", out});
    EXPECT_EQ(run.Status, 2) << input << run.Out;
    EXPECT_TRUE(run.Out.starts_with("Temp file copy error: ")) << input << run.Out;
    EXPECT_NE(run.Out, "Temp file copy error: 0\r\n") << input;
    EXPECT_EQ(Read("out/same.xml"), original) << input;
    EXPECT_EQ(winetest::FilesBelow(folder.Path() / "out"), std::set<std::string>{"same.xml"}) << input;
  }
}

TEST_F(WineCorvanePaths, NamesOutsideAsciiAreUtf8) {
  // The programs' ANSI code page is UTF-8: names reach the file system and the
  // reference as the same characters.
  const std::string docs =
      "\xCE\xA9"
      "docs";                                                           // Omega
  const std::string book = "\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0";  // Cyrillic "kniga"
  const std::string xsl = "vu\xC3\xA9.xsl";
  const std::string out = "\xE5\x87\xBA";  // CJK
  fs::create_directories(folder.Path() / docs);
  WriteFile(folder.Path() / docs / (book + ".fb2"), Book);
  WriteFile(folder.Path() / xsl, "<xsl/>");
  auto run = Corvane({docs + "\\" + book + ".fb2", xsl, out, "1"});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Read(out + "/" + book + ".XML"), Converted(Book, Win("vu%C3%A9.xsl")));
  EXPECT_EQ(Read(out + "/pic.png"), "\x89PNG\r\n\x1A\n");
  // A package named so takes its name to the copy; a missing template is named as given.
  WriteFile(folder.Path() / (book + ".odt"),
            Package({{"content.xml", "<?xml version=\"1.0\"?><c/>"}, {"styles.xml", "<s/>"}}));
  run = Corvane({book + ".odt", "\xC3\xBC.xsl", out});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "Warning! The xsl(t) template \xC3\xBC.xsl does not exist!\r\n");
  EXPECT_EQ(Read(out + "/" + book + ".XML"), Converted("<?xml version=\"1.0\"?><c/>", Win("%C3%BC.xsl")));
}

TEST_F(WineCorvanePaths, EscapedTemplateReferenceAndEveryFolderSpelling) {
  // The reference keeps its backslashes and escapes the rest as on Linux.
  const std::string tricky = "a b&c \xD0\x9A\xD0\xBD";
  fs::create_directories(folder.Path() / tricky);
  WriteFile(folder.Path() / tricky / "view.xsl", "<xsl/>");
  WriteFile(folder / "book.fb2", Book);
  auto run = Corvane({"book.fb2", tricky + "\\view.xsl", "out"});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Read("out/book.XML"), Converted(Book, Win("a%20b%26c%20%D0%9A%D0%BD/view.xsl")));
  // Doubled and trailing separators, forward slashes, "." steps, drive paths and
  // drive-relative names: each names its folder.
  winetest::TDriveCFolder driveC;
  const std::string name = driveC.Name();
  const std::vector<std::pair<std::string, fs::path>> spellings = {
      {Win("o1") + "\\\\", folder.Path() / "o1"},
      {"o2\\\\deep\\", folder.Path() / "o2/deep"},
      {"o3/sub//", folder.Path() / "o3/sub"},
      {".\\o4\\.\\x\\.", folder.Path() / "o4/x"},
      {"C:\\" + name + "\\\\o5\\\\", driveC.Path() / "o5"},
      {"C:" + name + "\\o6//", driveC.Path() / "o6"},
  };
  for (const auto& [spelling, place] : spellings) {
    run = Corvane({"book.fb2", "view.xsl", spelling});
    EXPECT_EQ(run.Status, 0) << spelling << run.Out;
    EXPECT_EQ(run.Out, "") << spelling;
    EXPECT_EQ(ReadFile(place / "book.XML"), Converted(Book, Win("view.xsl"))) << spelling;
  }
}

// ---- Console text -------------------------------------------------------------------

using WineCorvaneConsole = WineCorvane;

TEST_F(WineCorvaneConsole, UsageMessagesAndExitStatusesAsOnLinuxWithCrLf) {
  e2etest::CheckCorvaneStatuses(winetest::WineProgram(winetest::CorvaneExe()), folder.Path());
  // The reason on stderr names the system's text for the code.
  const auto missing = Corvane({"missing.xml", "view.xsl", "out"});
  const std::string reason = "corvane: cannot copy missing.xml to " + Win("out/missing.XML") + ": ";
  const std::size_t at = missing.Err.find(reason);
  ASSERT_NE(at, std::string::npos) << missing.Err;
  EXPECT_NE(missing.Err.substr(at + reason.size(), 2), "\r\n") << missing.Err;
}

// ---- The shipped example ------------------------------------------------------------

using WineCorvaneExample = WineCorvane;

TEST_F(WineCorvaneExample, LampBookWithPayloadsAsTheLinuxBuildWrites) {
  const fs::path book = testsupport::SourceFile("examples/lamp.fb2");
  const fs::path xsl = testsupport::SourceFile("examples/book.xsl");
  const auto win = Corvane({WindowsPath(book), WindowsPath(xsl), Win("win-out"), "1"});
  EXPECT_EQ(win.Status, 0) << win.Out;
  EXPECT_EQ(win.Out, "");
  const auto linux = LinuxCorvane({book.string(), xsl.string(), folder / "linux-out", "1"});
  ASSERT_EQ(linux.Status, 0) << linux.Out;
  // lamp.XML and the two images.
  ExpectAsOnLinux("lamp.XML", xsl.string(), WindowsPath(xsl), 3);
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "linux-out").size(), 3u);
}

// The page of --html: the same bytes as the Linux build's, a legacy code page in
// and out included; a document that is not well-formed gives no page.
TEST_F(WineCorvaneExample, PagesAsTheLinuxBuildWritesThem) {
  // "Глава" in koi8-r, written out in windows-1251, with a character it lacks.
  WriteFile(folder / "koi.xml", "<?xml version=\"1.0\" encoding=\"koi8-r\"?><r>\xE7\xCC\xC1\xD7\xC1 &#26085;</r>");
  WriteFile(folder / "cp.xsl",
            "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
            "<xsl:output method=\"html\" encoding=\"windows-1251\"/><xsl:template match=\"/\">"
            "<html><body><p><xsl:value-of select=\"r\"/></p></body></html></xsl:template></xsl:stylesheet>");
  struct TCase {
    fs::path Document, Template;
    std::string Page;
  };
  std::vector<TCase> cases = {
      {testsupport::SourceFile("examples/lamp.fb2"), testsupport::SourceFile("examples/book.xsl"), "lamp.html"},
      {folder.Path() / "koi.xml", folder.Path() / "cp.xsl", "koi.html"},
  };
  const fs::path book = testsupport::Fixture("docs/test-book-ru.fb2");
  if (fs::exists(book)) cases.push_back({book, testsupport::SourceFile("bench/fb2_page.xsl"), "test-book-ru.html"});
  for (const auto& c : cases) {
    const auto win = Corvane({"--html", WindowsPath(c.Document), WindowsPath(c.Template), Win("win-out"), "1"});
    EXPECT_EQ(win.Status, 0) << c.Page << win.Out << win.Err;
    const auto linux = LinuxCorvane({"--html", c.Document.string(), c.Template.string(), folder / "linux-out", "1"});
    ASSERT_EQ(linux.Status, 0) << c.Page << linux.Err;
    EXPECT_TRUE(Read("win-out/" + c.Page) == Read("linux-out/" + c.Page)) << c.Page;
  }
  EXPECT_EQ(Read("win-out/koi.html"), "<html><body><p>\xC3\xEB\xE0\xE2\xE0 &#26085;</p></body></html>\n");

  WriteFile(folder / "bad.xml", "<?xml version=\"1.0\"?>\n<r>\n<b>\n</r>\n");
  const auto bad = Corvane({"--html", Win("bad.xml"), Win("cp.xsl"), Win("win-out")});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_TRUE(
      HasLine(bad.Err, "corvane: " + Win("win-out/bad.XML") + ":6: Opening and ending tag mismatch: b line 5 and r"))
      << bad.Err;
  EXPECT_TRUE(fs::exists(folder.Path() / "win-out/bad.XML"));
  EXPECT_FALSE(fs::exists(folder.Path() / "win-out/bad.html"));
}

TEST_F(WineCorvaneExample, PayloadIdsNeverNameAFileOutsideTheOutputFolder) {
  // Ids that would leave the folder, name a drive, or name a device on Windows,
  // between two ordinary ones that must still be written.
  const std::vector<std::string> hostile = {"..\\up.png", "../up2.png", "C:drive.png", "Z:\\root.png",
                                            "..",         "NUL",        "con.png",     "sub\\in.png"};
  std::string book = "<?xml version=\"1.0\"?><FictionBook><body/>";
  book += "<binary id=\"first.png\">Zmlyc3Q=</binary>";
  for (const auto& id : hostile) book += "<binary id=\"" + id + "\">ZXZpbA==</binary>";
  book += "<binary id=\"last.png\">bGFzdA==</binary></FictionBook>";
  fs::create_directories(folder.Path() / "in");
  WriteFile(folder / "in/book.fb2", book);
  const auto run = Corvane({Win("in\\book.fb2"), Win("view.xsl"), Win("out\\"), "1"});
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "out"), (std::set<std::string>{"book.XML", "first.png", "last.png"}));
  EXPECT_EQ(Read("out/first.png"), "first");
  EXPECT_EQ(Read("out/last.png"), "last");
  // Nothing beside the output folder or at the roots of the drives.
  EXPECT_EQ(
      winetest::EntriesBelow(folder.Path()),
      (std::set<std::string>{"view.xsl", "in", "in/book.fb2", "out", "out/book.XML", "out/first.png", "out/last.png"}));
  for (const char* name : {"up.png", "up2.png", "drive.png", "root.png", "in.png"}) {
    EXPECT_FALSE(fs::exists(winetest::WineDriveC() / name)) << name;
    EXPECT_FALSE(fs::exists(fs::path("/") / name)) << name;
  }
}

// ---- Office packages ----------------------------------------------------------------

class WineCorvanePackages : public WineCorvane {
 protected:
  // Runs corvane.exe on a package in the test folder and checks that nothing but
  // the output folder appeared in the working folder.
  TRunResult Convert(const std::string& package, const std::string& out = "out",
                     const std::vector<std::string>& more = {}) {
    const std::set<std::string> before = TopLevel();
    std::vector<std::string> args = {package, "view.xsl", out};
    args.insert(args.end(), more.begin(), more.end());
    const auto run = Corvane(args);
    std::set<std::string> stray;
    for (const auto& name : TopLevel()) {
      if (!before.contains(name) && name != out) stray.insert(name);
    }
    EXPECT_EQ(stray, std::set<std::string>{}) << "entries that " << package << " left in the working folder";
    return run;
  }
  std::set<std::string> TopLevel() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path())) names.insert(entry.path().filename().string());
    return names;
  }
  // Writes a zip archive with Python's zipfile, deflated: name/text pairs.
  void PythonZip(const std::string& name, const std::vector<testsupport::TPyZipEntry>& entries) {
    testsupport::PythonZip(folder / name, entries, {"DEFLATED"});
  }
  std::string Expected(const std::string& xml) { return Converted(xml, Win("view.xsl")); }
};

const std::string Content =
    "<?xml version=\"1.0\"?><office:document-content>lamp &amp; keeper</office:document-content>";

TEST_F(WineCorvanePackages, OpenDocumentFromInfoZipAndPython) {
  // mimetype (no dot, not unpacked), a folder part, the main part.
  PythonZip("py.odt", {{"mimetype", "application/vnd.oasis.opendocument.text"},
                       {"META-INF/manifest.xml", "<manifest/>"},
                       {"styles.xml", "<styles/>"},
                       {"content.xml", Content}});
  auto run = Convert("py.odt");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Read("out/py.XML"), Expected(Content));
  if (testsupport::HaveCommand("zip")) {
    fs::create_directories(folder.Path() / "src/META-INF");
    WriteFile(folder.Path() / "src/mimetype", "application/vnd.oasis.opendocument.text");
    WriteFile(folder.Path() / "src/META-INF/manifest.xml", "<manifest/>");
    WriteFile(folder.Path() / "src/content.xml", Content);
    testsupport::ShellIn(folder.Path() / "src", "zip -q -r -9 ../info.odt mimetype META-INF content.xml");
    run = Convert("info.odt");
    EXPECT_EQ(run.Status, 0) << run.Out;
    EXPECT_EQ(Read("out/info.XML"), Expected(Content));
  }
  // The package on standard input ("-") is kept in the work folder and converted
  // as stdin.XML.
  const std::string line =
      "cd " + testsupport::ShellQuote(folder.Path().string()) + " && cat py.odt | WINEDEBUG=-all LC_ALL=C.UTF-8 wine " +
      testsupport::ShellQuote(winetest::CorvaneExe().string()) + " - view.xsl out > piped.txt 2>&1";
  EXPECT_EQ(testsupport::RunShell(line), 0) << Read("piped.txt");
  EXPECT_EQ(Read("out/stdin.XML"), Expected(Content));
  std::set<std::string> written = {"py.XML", "stdin.XML"};
  if (testsupport::HaveCommand("zip")) written.insert("info.XML");
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "out"), written);
}

TEST_F(WineCorvanePackages, MainPartsAreFoundInAnyCase) {
  // The Windows file system ignores case: a part stored under another case is the
  // part that corvane probes for.
  const std::string sheet = "<?xml version=\"1.0\"?><worksheet/>";
  const std::string doc = "<?xml version=\"1.0\"?><w:document/>";
  WriteFile(folder / "upper.odt", Package({{"CONTENT.XML", Content}, {"styles.xml", "<s/>"}}));
  WriteFile(folder / "mixed.odt", Package({{"Content.xml", Content}}));
  WriteFile(folder / "letter.docx", Package({{"Document.XML", doc}, {"_rels/.rels", "<r/>"}}));
  // The probe order holds whatever the case: sheet1 over document over content.
  WriteFile(folder / "book.xlsx", Package({{"SHEET1.XML", sheet}, {"content.xml", Content}, {"DOCUMENT.xml", doc}}));
  for (const auto& [package, xml] : std::vector<std::pair<std::string, std::string>>{
           {"upper.odt", Content}, {"mixed.odt", Content}, {"letter.docx", doc}, {"book.xlsx", sheet}}) {
    const auto run = Convert(package);
    EXPECT_EQ(run.Status, 0) << package << run.Out;
    EXPECT_EQ(run.Out, "") << package;
    const std::string base = package.substr(0, package.find('.'));
    EXPECT_EQ(Read("out/" + base + ".XML"), Expected(xml)) << package;
  }
}

TEST_F(WineCorvanePackages, OfficeOpenXmlMainPartAndImagesAsOnLinux) {
  // The relationships name the part in another case than the archive stores it.
  const std::string links = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::string document = "<w:document><w:body/></w:document>";
  WriteFile(folder / "letter.docx",
            Package({{"[Content_Types].xml",
                      "<Types><Override PartName=\"/word/document.xml\" ContentType=\"application/"
                      "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
                     {"_rels/.rels", "<Relationships><Relationship Id=\"r\" Type=\"" + links +
                                         "officeDocument\" Target=\"Word/Document.XML\"/></Relationships>"},
                     {"word/document.xml", document},
                     {"word/_rels/document.xml.rels", "<Relationships><Relationship Id=\"i\" Type=\"" + links +
                                                          "image\" Target=\"media/pic.png\"/></Relationships>"},
                     {"word/media/pic.png", "\x89PNG"}}));
  const auto run = Convert("letter.docx", "out", {"1"});
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_EQ(Read("out/letter.XML"), Reference(Win("view.xsl")) + document);
  EXPECT_EQ(Read("out/pic.png"), "\x89PNG");
}

TEST_F(WineCorvanePackages, PackageWithoutAMainPartFailsAndWritesNothing) {
  // The main part in a folder only; a package whose part is encrypted.
  WriteFile(folder / "nested.docx", Package({{"word/document.xml", "<?xml version=\"1.0\"?><w/>"}, {"x.xml", "<x/>"}}));
  auto run = Convert("nested.docx", "out1");
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Out, "Conversion failed!\r\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out1"));
  if (testsupport::HaveCommand("zip")) {
    WriteFile(folder / "content.xml", Content);
    testsupport::ShellIn(folder.Path(), "zip -q -P pass locked.odt content.xml");
    fs::remove(folder.Path() / "content.xml");
    run = Convert("locked.odt", "out2");
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "Conversion failed!\r\n");
    EXPECT_FALSE(fs::exists(folder.Path() / "out2"));
  }
}

TEST_F(WineCorvanePackages, ReadOnlyFilesInTheWorkFolderAndReadOnlyInput) {
  // Entries made on MS-DOS with the read-only and archive attributes: they come out
  // read-only in the work folder, and the run still removes it.
  constexpr std::uint16_t MadeOnDos = 0x0014;
  constexpr std::uint32_t ReadOnly = 0x21;
  std::vector<ziptest::TEntrySpec> entries;
  for (const auto& [name, data] : std::vector<std::pair<std::string, std::string>>{{"mimetype", "x"},
                                                                                   {"META-INF/", ""},
                                                                                   {"META-INF/manifest.xml", "<m/>"},
                                                                                   {"styles.xml", "<s/>"},
                                                                                   {"content.xml", Content}}) {
    // A folder entry that is read-only too.
    entries.push_back({.Name = name,
                       .Data = data,
                       .VersionMadeBy = MadeOnDos,
                       .ExternalAttributes = name.ends_with("/") ? 0x11u : ReadOnly});
  }
  WriteFile(folder / "ro.odt", ziptest::BuildArchive(entries));
  auto run = Convert("ro.odt");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Read("out/ro.XML"), Expected(Content));

  // The package also holds a read-only entry under the package's own name, which
  // the part replaces.
  WriteFile(folder / "self.odt",
            Package({{"self.odt", "an entry named like the package"}, {"content.xml", Content}}, MadeOnDos, ReadOnly));
  run = Convert("self.odt");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Read("out/self.XML"), Expected(Content));

  // A read-only document and a read-only package, converted twice into the same
  // folder (the second run replaces the first copy).
  WriteFile(folder / "plain.fb2", Book);
  fs::copy_file(folder.Path() / "ro.odt", folder.Path() / "ro2.odt");
  for (const std::string name : {"plain.fb2", "ro2.odt"}) {
    fs::permissions(folder.Path() / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  for (int pass = 0; pass < 2; ++pass) {
    run = Convert("plain.fb2");
    EXPECT_EQ(run.Status, 0) << pass << run.Out;
    EXPECT_EQ(run.Out, "") << pass;
    EXPECT_EQ(Read("out/plain.XML"), Expected(Book)) << pass;
    run = Convert("ro2.odt");
    EXPECT_EQ(run.Status, 0) << pass << run.Out;
    EXPECT_EQ(Read("out/ro2.XML"), Expected(Content)) << pass;
  }
  EXPECT_EQ(Read("plain.fb2"), Book);
}

// ---- The real books -----------------------------------------------------------------

using WineCorvaneBooks = WineCorvane;

TEST_F(WineCorvaneBooks, DocsFixturesAsTheLinuxBuildWritesThem) {
  // Both builds run in the same working folder with the same relative template
  // name; the reference is the template's full path, which only differs in its form.
  for (const std::string book : {"docs/test-book-ru.fb2", "docs/test-book-en.fb2"}) {
    const fs::path source = testsupport::Fixture(book);
    KESTREL_REQUIRE_FIXTURE(source);
    fs::remove_all(folder.Path() / "win-out");
    fs::remove_all(folder.Path() / "linux-out");
    const auto win = Corvane({WindowsPath(source), "view.xsl", "win-out", "x"});
    EXPECT_EQ(win.Status, 0) << book << win.Out;
    EXPECT_EQ(win.Out, "") << book;
    const auto linux = LinuxCorvane({source.string(), "view.xsl", "linux-out", "x"});
    ASSERT_EQ(linux.Status, 0) << book << linux.Out;
    SCOPED_TRACE(book);
    ExpectAsOnLinux(source.stem().string() + ".XML", folder / "view.xsl", Win("view.xsl"), 31);
  }
}

}  // namespace
