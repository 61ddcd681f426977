// corvane on zip packages: the main XML part of an office package is unpacked into
// the run's private work folder and converted under the package's name.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::RunShell;
using testsupport::ShellQuote;
using testsupport::TTempFolder;
using testsupport::WriteFile;

namespace {

// Debian's python3 carries the office-document library; another python3 on the
// PATH may not.
constexpr const char* SystemPython = "/usr/bin/python3";

class CorvanePackages : public ::testing::Test {
 protected:
  CorvanePackages() {
    fs::create_directory(folder.Path() / "temp");
    WriteFile(folder / "view.xsl", "<xsl:stylesheet/>");
  }
  testsupport::TRunResult Corvane(const std::string& input, const std::string& out = "out") {
    return RunProgram(CORVANE_EXE, {input, folder / "view.xsl", folder / out}, folder.Path().string(),
                      "TMPDIR=" + ShellQuote(folder / "temp"));
  }
  // Writes a zip archive with Python's zipfile: name/text pairs, deflated.
  void MakeZip(const std::string& name, const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string script = "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      WriteFile(folder / ("entry" + std::to_string(i)), entries[i].second);
      script += "z.write(sys.argv[" + std::to_string(i + 2) + "]," + "'" + entries[i].first + "')\n";
    }
    script += "z.close()\n";
    WriteFile(folder / "make.py", script);
    std::string line = "python3 " + ShellQuote(folder / "make.py") + " " + ShellQuote(folder / name);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      line += ' ';
      line += ShellQuote(folder / ("entry" + std::to_string(i)));
    }
    ASSERT_EQ(RunShell(line), 0);
  }
  std::string Reference() { return "\r\n<?xml-stylesheet href=\"" + (folder / "view.xsl") + "\" type=\"text/xsl\"?>\r\n"; }
  // The expected copy of an XML text that starts with a declaration.
  std::string Converted(const std::string& xml) {
    const std::size_t end = xml.find("?>") + 2;
    return xml.substr(0, end) + Reference() + xml.substr(end);
  }
  bool TempIsEmpty() { return fs::is_empty(folder.Path() / "temp"); }
  TTempFolder folder;
};

TEST_F(CorvanePackages, OfficeDocumentsFromARealProducer) {
  if (RunShell(std::string(SystemPython) + " -c 'import odf' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-odf is not installed";
  }
  const std::string script =
      "import sys\n"
      "from odf.opendocument import OpenDocumentText, OpenDocumentSpreadsheet, OpenDocumentPresentation\n"
      "from odf.text import P\n"
      "from odf.table import Table, TableRow, TableCell\n"
      "from odf.draw import Page\n"
      "from odf.style import MasterPage, PageLayout\n"
      "t=OpenDocumentText(); t.text.addElement(P(text='Report of the lamp & its keeper'))\n"
      "t.save(sys.argv[1]+'/report.odt')\n"
      "s=OpenDocumentSpreadsheet(); tb=Table(name='Sheet1'); r=TableRow(); c=TableCell(); c.addElement(P(text='42'))\n"
      "r.addElement(c); tb.addElement(r); s.spreadsheet.addElement(tb); s.save(sys.argv[1]+'/sums.ods')\n"
      "p=OpenDocumentPresentation(); pl=PageLayout(name='PL'); p.automaticstyles.addElement(pl)\n"
      "mp=MasterPage(name='M', pagelayoutname=pl); p.masterstyles.addElement(mp)\n"
      "pg=Page(masterpagename=mp); p.presentation.addElement(pg); p.save(sys.argv[1]+'/slides.odp')\n";
  WriteFile(folder / "make_office.py", script);
  ASSERT_EQ(RunShell(std::string(SystemPython) + " " + ShellQuote(folder / "make_office.py") + " " +
                     ShellQuote(folder.Path().string())),
            0);
  for (const std::string name : {"report", "sums", "slides"}) {
    const std::string package = name == "report" ? "report.odt" : name == "sums" ? "sums.ods" : "slides.odp";
    const auto result = Corvane(package);
    EXPECT_EQ(result.Status, 0) << package << result.Out;
    EXPECT_EQ(result.Out, "") << package;
    // The part as an independent extractor sees it, with the reference inserted.
    ASSERT_EQ(RunShell("unzip -p " + ShellQuote(folder / package) + " content.xml > " +
                       ShellQuote(folder / "expected.xml")),
              0);
    EXPECT_EQ(ReadFile(folder.Path() / "out" / (name + ".XML")), Converted(ReadFile(folder.Path() / "expected.xml")))
        << package;
    EXPECT_TRUE(TempIsEmpty()) << package;
  }
}

TEST_F(CorvanePackages, FlatPackagesAndTheProbeOrder) {
  const std::string doc = "<?xml version=\"1.0\"?><w:document/>";
  const std::string sheet = "<?xml version=\"1.0\"?><worksheet/>";
  const std::string content = "<?xml version=\"1.0\"?><office:document-content/>";
  MakeZip("letter.docx", {{"document.xml", doc}, {"_rels/.rels", "<Relationships/>"}, {"mimetype", "x"}});
  MakeZip("book.xlsx", {{"content.xml", content}, {"sheet1.xml", sheet}, {"document.xml", doc}});
  ASSERT_EQ(Corvane("letter.docx").Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/letter.XML"), Converted(doc));
  ASSERT_EQ(Corvane("book.xlsx").Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/book.XML"), Converted(sheet)) << "sheet1.xml wins";
  // Dot-named entries such as _rels/.rels go with the work folder.
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, PackageNamedLikeItsPartOrHoldingItsOwnName) {
  const std::string content = "<?xml version=\"1.0\"?><c/>";
  MakeZip("content.xml", {{"content.xml", content}});
  ASSERT_EQ(Corvane("content.xml").Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/content.XML"), Converted(content));
  MakeZip("pkg.zip", {{"pkg.zip", "an entry named like the package"}, {"content.xml", content}});
  ASSERT_EQ(Corvane("pkg.zip").Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/pkg.XML"), Converted(content));
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, ZipWithoutAMainPartFailsAndWritesNothing) {
  // The main part in a folder only, a damaged part, an encrypted part without a
  // password: no part comes out, and the package's own bytes are no document.
  MakeZip("nested.docx", {{"word/document.xml", "<?xml version=\"1.0\"?><w/>"}});
  auto result = Corvane("nested.docx", "out1");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Conversion failed!\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out1"));

  MakeZip("damaged.odt", {{"content.xml", std::string(5000, 'x')}});
  std::string bytes = ReadFile(folder.Path() / "damaged.odt");
  const std::size_t data = 30 + std::string("content.xml").size();
  bytes[data + 3] = static_cast<char>(bytes[data + 3] ^ 0x55);  // inside the deflated data
  WriteFile(folder / "damaged.odt", bytes);
  result = Corvane("damaged.odt", "out2");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Conversion failed!\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out2"));

  if (testsupport::HaveCommand("zip")) {
    WriteFile(folder / "content.xml", "<?xml version=\"1.0\"?><secret/>");
    ASSERT_EQ(RunShell("cd " + ShellQuote(folder.Path().string()) + " && zip -q -P pass locked.odt content.xml"), 0);
    result = Corvane("locked.odt", "out3");
    EXPECT_EQ(result.Status, 2);
    EXPECT_FALSE(fs::exists(folder.Path() / "out3"));
  }
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, FilesThatAreNoZipStayTheDocument) {
  // Plain XML, an empty file and a file that only ends like a zip archive.
  WriteFile(folder / "plain.xml", "<?xml version=\"1.0\"?><p/>");
  ASSERT_EQ(Corvane("plain.xml").Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/plain.XML"), Converted("<?xml version=\"1.0\"?><p/>"));
  WriteFile(folder / "empty.xml", "");
  EXPECT_EQ(Corvane("empty.xml").Out, "Conversion failed!\n");
  EXPECT_TRUE(TempIsEmpty());
}

}  // namespace
