// corvane on zip packages: the main XML part of an office package (or the one book
// of a zipped FictionBook) is unpacked into the run's private work folder and
// converted under the package's name; a package that gives no document says why.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "tests/support/test_support.h"
#include "tests/unzip/zip_builder.h"

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
  testsupport::TRunResult Corvane(const std::string& input, const std::string& out = "out",
                                  const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {input, folder / "view.xsl", folder / out};
    args.insert(args.end(), more.begin(), more.end());
    return RunProgram(CORVANE_EXE, args, folder.Path().string(), "TMPDIR=" + ShellQuote(folder / "temp"));
  }
  // Writes a zip archive with Python's zipfile: name/text pairs, deflated.
  void MakeZip(const std::string& name, const std::vector<testsupport::TPyZipEntry>& entries) {
    testsupport::PythonZip(folder / name, entries, {"DEFLATED"});
  }
  std::string Reference() {
    return "\r\n<?xml-stylesheet href=\"" + (folder / "view.xsl") + "\" type=\"text/xsl\"?>\r\n";
  }
  // The expected copy of an XML text that starts with a declaration.
  std::string Converted(const std::string& xml) {
    const std::size_t end = xml.find("?>") + 2;
    return xml.substr(0, end) + Reference() + xml.substr(end);
  }
  bool TempIsEmpty() { return fs::is_empty(folder.Path() / "temp"); }
  // Runs a Python script that writes its files into the test folder, given as its argument.
  int RunPython(const std::string& script) {
    WriteFile(folder / "make_office.py", script);
    return RunShell(std::string(SystemPython) + " " + ShellQuote(folder / "make_office.py") + " " +
                    ShellQuote(folder.Path().string()));
  }
  // A part of a package as an independent extractor sees it.
  std::string Unzipped(const std::string& package, const std::string& part) {
    EXPECT_EQ(
        RunShell("unzip -p " + ShellQuote(folder / package) + " " + part + " > " + ShellQuote(folder / "expected.xml")),
        0);
    return ReadFile(folder.Path() / "expected.xml");
  }
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
  ASSERT_EQ(RunPython(script), 0);
  for (const std::string name : {"report", "sums", "slides"}) {
    const std::string package = name == "report" ? "report.odt" : name == "sums" ? "sums.ods" : "slides.odp";
    const auto result = Corvane(package);
    EXPECT_EQ(result.Status, 0) << package << result.Out;
    EXPECT_EQ(result.Out, "") << package;
    // The part as an independent extractor sees it, with the reference inserted.
    EXPECT_EQ(ReadFile(folder.Path() / "out" / (name + ".XML")), Converted(Unzipped(package, "content.xml")))
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
  // A part compressed with a method of a library.
  testsupport::PythonZip(folder / "xz.docx", {{"document.xml", doc, "XZ"}});
  ASSERT_EQ(Corvane("xz.docx").Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/xz.XML"), Converted(doc));
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
  // One line on stderr says why.
  MakeZip("nested.docx", {{"word/document.xml", "<?xml version=\"1.0\"?><w/>"}});
  auto result = Corvane("nested.docx", "out1");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Conversion failed!\n");
  EXPECT_EQ(result.Err,
            "corvane: nested.docx: the main part of the zip package lies in a folder (word/document.xml), and the "
            "package has no _rels/.rels that names it\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out1"));
  MakeZip("none.zip", {{"a/b.txt", "text"}});
  EXPECT_EQ(Corvane("none.zip", "out1").Err,
            "corvane: none.zip: the zip package holds none of content.xml, document.xml and sheet1.xml at its top "
            "level, no Office Open XML main part, no EPUB book and no FictionBook book (.fb2)\n");

  MakeZip("damaged.odt", {{"content.xml", std::string(5000, 'x')}});
  std::string bytes = ReadFile(folder.Path() / "damaged.odt");
  const std::size_t data = 30 + std::string("content.xml").size();
  bytes[data + 3] = static_cast<char>(bytes[data + 3] ^ 0x55);  // inside the deflated data
  WriteFile(folder / "damaged.odt", bytes);
  result = Corvane("damaged.odt", "out2");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Conversion failed!\n");
  EXPECT_EQ(result.Err, "corvane: damaged.odt: the part content.xml failed its CRC check: the package is damaged\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out2"));

  // Traditional encryption (Info-ZIP zip) and WinZip AES (7-Zip) alike.
  WriteFile(folder / "content.xml", "<?xml version=\"1.0\"?><secret/>");
  for (const auto& [tool, line] : {std::pair{"zip", "zip -q -P pass"}, {"7z", "7z a -tzip -mem=AES256 -ppass -bso0"}}) {
    if (!testsupport::HaveCommand(tool)) continue;
    fs::remove(folder.Path() / "locked.odt");
    testsupport::ShellIn(folder.Path(), std::string(line) + " locked.odt content.xml");
    result = Corvane("locked.odt", "out3");
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Err,
              "corvane: locked.odt: the part content.xml is encrypted (zip encryption), and corvane reads no "
              "passwords\n");
    EXPECT_FALSE(fs::exists(folder.Path() / "out3"));
  }
  EXPECT_TRUE(TempIsEmpty());
}

// A damaged entry costs only itself: a spare one whose size runs into the main
// part, or that the end of a cut-off package cuts into, leaves the document whole;
// a main part that runs into the directory is named as such.
TEST_F(CorvanePackages, DamagedEntryCostsOnlyItself) {
  const std::string xml = "<?xml version=\"1.0\"?><doc/>";
  auto withFirstSize = [](std::string archive, std::uint32_t size) {
    std::string field;
    ziptest::PutU32(field, size);
    return archive.replace(archive.find("PK\x01\x02") + 20, 4, field);
  };
  WriteFile(folder / "spare.odt",
            withFirstSize(ziptest::BuildArchive({{"spare.bin", "spare"}, {"content.xml", xml}}), 99));
  auto result = Corvane("spare.odt");
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(ReadFile(folder.Path() / "out/spare.XML"), Converted(xml));
  // A package cut off before its end record still gives a whole main part.
  const std::string whole = ziptest::BuildArchive({{"content.xml", xml}, {"spare.bin", std::string(500, 's')}});
  WriteFile(folder / "cut.odt", whole.substr(0, whole.size() - 100));
  result = Corvane("cut.odt", "out3");
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(ReadFile(folder.Path() / "out3/cut.XML"), Converted(xml));
  WriteFile(folder / "bad.odt", withFirstSize(ziptest::BuildArchive({{"content.xml", xml}}), 999));
  result = Corvane("bad.odt", "out2");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err,
            "corvane: bad.odt: the part content.xml overlaps the central directory: the package is damaged (or a zip "
            "bomb)\n");
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, OfficeEncryptedPartIsNotConverted) {
  // A password-protected OpenDocument package: the zip layer sees an ordinary
  // deflated content.xml, and only the manifest says that it is ciphertext.
  const std::string manifest =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">\n"
      " <manifest:file-entry manifest:full-path=\"/\" "
      "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>\n"
      " <manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\" "
      "manifest:size=\"999\">\n"
      "  <manifest:encryption-data "
      "manifest:checksum-type=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0#sha256-1k\""
      " manifest:checksum=\"Zm9v\"><manifest:algorithm "
      "manifest:algorithm-name=\"http://www.w3.org/2001/04/xmlenc#aes256-cbc\""
      " manifest:initialisation-vector=\"YmFy\"/></manifest:encryption-data>\n"
      " </manifest:file-entry>\n</manifest:manifest>\n";
  // Ciphertext that happens to hold a "<" before a ">".
  MakeZip("secret.odt", {{"mimetype", "application/vnd.oasis.opendocument.text"},
                         {"content.xml", "\x8F\x12<\xA0\x99>\x01\xFE"},
                         {"META-INF/manifest.xml", manifest}});
  const auto result = Corvane("secret.odt");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Conversion failed!\n");
  EXPECT_EQ(result.Err,
            "corvane: secret.odt: the part content.xml is encrypted by the office suite (the document has a "
            "password); save it without one to convert it\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out"));
  // Encrypted as a whole, the package holds only the encrypted package.
  MakeZip("whole.odt", {{"mimetype", "application/vnd.oasis.opendocument.text"},
                        {"encrypted-package", "\x8F\x12<\xA0\x99>"},
                        {"META-INF/manifest.xml", manifest}});
  EXPECT_EQ(Corvane("whole.odt").Err,
            "corvane: whole.odt: the package is encrypted by the office suite (the document has a password); save it "
            "without one to convert it\n");
  // A password-protected .docx is a compound file around the encrypted package,
  // with an XML description of the encryption inside.
  WriteFile(folder / "locked.docx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(500, '\0') +
                                        "<?xml version=\"1.0\"?><encryption/>");
  const auto docx = Corvane("locked.docx");
  EXPECT_EQ(docx.Status, 2);
  EXPECT_EQ(docx.Out, "Conversion failed!\n");
  EXPECT_EQ(docx.Err,
            "corvane: locked.docx: the file is an office compound file (a password-protected .docx or .xlsx, or an "
            "old binary .doc or .xls), not XML\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out"));
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, ZippedBooks) {
  const std::string book =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><FictionBook><body><p>lamp</p></body>"
      "<binary id=\"cover.png\" content-type=\"image/png\">iVBORw0KGgo=</binary></FictionBook>";
  // Python's zipfile: the book in a folder, under an upper-case extension, among
  // other entries; and a package of two books.
  MakeZip("lamp.fbz", {{"META-INF/info.txt", "x"}, {"books/Lamp.FB2", book}});
  MakeZip("two.fb2.zip", {{"a.fb2", book}, {"b/c.fb2", book}});
  auto result = Corvane("lamp.fbz", "out", {"1"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(ReadFile(folder.Path() / "out/lamp.XML"), Converted(book));
  EXPECT_EQ(ReadFile(folder.Path() / "out/cover.png"), "\x89PNG\r\n\x1A\n");
  result = Corvane("two.fb2.zip", "out2");
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Out, "Conversion failed!\n");
  EXPECT_EQ(result.Err,
            "corvane: two.fb2.zip: the zip package holds 2 FictionBook books (.fb2); only a package of one book can "
            "be converted\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out2"));
  // Info-ZIP zip: the book at the top, named as such packages are.
  if (testsupport::HaveCommand("zip")) {
    WriteFile(folder / "lamp.fb2", book);
    testsupport::ShellIn(folder.Path(), "zip -q -9 lamp.fb2.zip lamp.fb2");
    result = Corvane("lamp.fb2.zip", "out3", {"1"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(ReadFile(folder.Path() / "out3/lamp.fb2.XML"), Converted(book));
    EXPECT_EQ(ReadFile(folder.Path() / "out3/cover.png"), "\x89PNG\r\n\x1A\n");
  }
  EXPECT_TRUE(TempIsEmpty());
}

// The parts of an Office Open XML package around its main part: the package's
// relationships name it (and its content type says what it is).
std::vector<testsupport::TPyZipEntry> OfficePackage(const std::string& relationships, const std::string& types,
                                                    std::vector<testsupport::TPyZipEntry> parts) {
  const std::string ns = "http://schemas.openxmlformats.org/package/2006/";
  parts.insert(parts.begin(), {{"[Content_Types].xml", "<Types xmlns=\"" + ns + "content-types\">" +
                                                           "<Default Extension=\"rels\" ContentType=\"application/"
                                                           "vnd.openxmlformats-package.relationships+xml\"/>" +
                                                           types + "</Types>"},
                               {"_rels/.rels", "<Relationships xmlns=\"" + ns + "relationships\">" + relationships +
                                                   "</Relationships>"}});
  return parts;
}
const std::string Transitional = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const std::string Strict = "http://purl.oclc.org/ooxml/officeDocument/relationships/";
std::string Relationship(const std::string& id, const std::string& type, const std::string& target,
                         const std::string& more = "") {
  return "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"" + more + "/>";
}
std::string Override(const std::string& part, const std::string& type) {
  return "<Override PartName=\"" + part + "\" ContentType=\"application/vnd." + type + "\"/>";
}
constexpr const char* OfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
const std::string WordType = "openxmlformats-officedocument.wordprocessingml.document.main+xml";
const std::string SheetType = "openxmlformats-officedocument.spreadsheetml.sheet.main+xml";

TEST_F(CorvanePackages, OfficeOpenXmlMainParts) {
  // Parts without an XML declaration, as many generators write them: the
  // reference goes in front of the root element.
  const std::string document = "<w:document xmlns:w=\"urn:w\"><w:body/></w:document>";
  const std::string first = "<worksheet><sheetData>first in the workbook's order</sheetData></worksheet>";
  const std::string slides = "<?xml version=\"1.0\"?><p:presentation xmlns:p=\"urn:p\"/>";
  // A workbook of Strict Open XML whose first sheet is not the first by name.
  const std::string workbook =
      "<workbook xmlns:r=\"http://purl.oclc.org/ooxml/officeDocument/relationships\"><sheets>"
      "<sheet name=\"Zeta\" sheetId=\"2\" r:id=\"rId7\"/><sheet name=\"Alpha\" sheetId=\"1\" r:id=\"rId1\"/>"
      "</sheets></workbook>";
  const std::string workbookRelationships =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
      Relationship("rId1", Strict + "worksheet", "worksheets/sheet1.xml") +
      Relationship("rId7", Strict + "worksheet", "./worksheets/../worksheets/sheet2.xml") + "</Relationships>";
  MakeZip("letter.docx", OfficePackage(Relationship("rId1", Transitional + "officeDocument", "word/document.xml"),
                                       Override("/word/document.xml", WordType),
                                       {{"word/document.xml", document}, {"word/styles.xml", "<styles/>"}}));
  MakeZip("sums.xlsm", OfficePackage(Relationship("rId1", Strict + "officeDocument", "/xl/Workbook.xml"),
                                     Override("/XL/workbook.xml", "ms-excel.sheet.macroEnabled.main+xml"),
                                     {{"xl/worksheets/sheet1.xml", "<worksheet/>"},
                                      {"xl/worksheets/sheet2.xml", first},
                                      {"xl/workbook.xml", workbook},
                                      {"xl/_rels/workbook.xml.rels", workbookRelationships}}));
  MakeZip("talk.pptx",
          OfficePackage(Relationship("rId1", Transitional + "officeDocument", "ppt/presentation.xml"),
                        "<Default Extension=\"xml\" ContentType=\"application/vnd.openxmlformats-officedocument."
                        "presentationml.presentation.main+xml\"/>",
                        {{"ppt/presentation.xml", slides}}));
  for (const auto& [package, expected] :
       std::vector<std::pair<std::string, std::string>>{{"letter.docx", Reference() + document},
                                                        {"sums.xlsm", Reference() + first},
                                                        {"talk.pptx", Converted(slides)}}) {
    const auto result = Corvane(package, "out", {"1"});
    EXPECT_EQ(result.Status, 0) << package << result.Err;
    EXPECT_EQ(result.Err, "") << package;
    const std::string name = package.substr(0, package.find('.'));
    EXPECT_EQ(ReadFile(folder.Path() / "out" / (name + ".XML")), expected) << package;
  }
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "out"),
            (std::set<std::string>{"letter.XML", "sums.XML", "talk.XML"}));
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, OfficeOpenXmlImagesWithThePayloads) {
  const std::string document = "<?xml version=\"1.0\"?><w:document/>";
  const std::string relationships =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
      Relationship("rId4", Transitional + "image", "media/image1.png") +
      Relationship("rId5", Strict + "image", "media/photo%202.jpeg") +
      Relationship("rId6", Transitional + "image", "http://example.invalid/x.png", " TargetMode=\"External\"") +
      Relationship("rId7", Transitional + "image", "../../../outside.png") +
      Relationship("rId8", Transitional + "image", "media/a:b.png") +
      Relationship("rId9", Transitional + "styles", "styles.xml") + "</Relationships>";
  MakeZip("pictures.docx", OfficePackage(Relationship("rId1", Transitional + "officeDocument", "word/document.xml"),
                                         Override("/word/document.xml", WordType),
                                         {{"word/document.xml", document},
                                          {"word/_rels/document.xml.rels", relationships},
                                          {"word/media/image1.png", "\x89PNG one"},
                                          {"word/media/photo 2.jpeg", "\xFF\xD8 two"},
                                          {"word/media/a:b.png", "a name no folder takes"},
                                          {"word/styles.xml", "<styles/>"}}));
  ASSERT_EQ(Corvane("pictures.docx", "plain").Status, 0);
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "plain"), std::set<std::string>{"pictures.XML"});
  const auto result = Corvane("pictures.docx", "out", {"1"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "out"),
            (std::set<std::string>{"pictures.XML", "image1.png", "photo 2.jpeg", "document.xml.rels"}));
  EXPECT_EQ(ReadFile(folder.Path() / "out/photo 2.jpeg"), "\xFF\xD8 two");
  EXPECT_EQ(ReadFile(folder.Path() / "out/document.xml.rels"), relationships);
  // Made as the copy is, never with the entries' mode (0600 from Python's zipfile),
  // so that a web server may read them.
  for (const char* name : {"image1.png", "photo 2.jpeg", "document.xml.rels"}) {
    EXPECT_EQ(fs::status(folder.Path() / "out" / name).permissions(),
              fs::status(folder.Path() / "out/pictures.XML").permissions())
        << name;
  }
  EXPECT_TRUE(TempIsEmpty());
}

// --flat: the package whole, its images below NAME_files at their part names; an
// EPUB book is always given so, its documents in reading order.
TEST_F(CorvanePackages, FlatFormsWithTheirImages) {
  const std::string relationships =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
      Relationship("rId4", Transitional + "image", "media/image1.png") +
      Relationship("rId7", Transitional + "image", "../../../outside.png") + "</Relationships>";
  MakeZip("pictures.docx",
          OfficePackage(Relationship("rId1", Transitional + "officeDocument", "word/document.xml"),
                        Override("/word/document.xml", WordType),
                        {{"word/document.xml", "<w:document xmlns:w=\"urn:w\"><w:t>x</w:t></w:document>"},
                         {"word/_rels/document.xml.rels", relationships},
                         {"word/media/image1.png", "\x89PNG one"}}));
  auto result = Corvane("pictures.docx", "docx", {"--flat", "1"});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "docx"),
            (std::set<std::string>{"pictures.XML", "pictures_files/word/media/image1.png"}));
  std::string flat = ReadFile(folder.Path() / "docx/pictures.XML");
  EXPECT_NE(flat.find("<pkg:package xmlns:pkg=\"http://schemas.microsoft.com/office/2006/xmlPackage\" "
                      "xml:base=\"pictures_files/\">"),
            std::string::npos)
      << flat;
  EXPECT_NE(flat.find("pkg:name=\"/word/document.xml\""), std::string::npos);
  EXPECT_EQ(flat.find("Content_Types"), std::string::npos);

  const std::string opf =
      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><manifest>"
      "<item id=\"c2\" href=\"Text/two.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"c1\" href=\"Text/one.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"bad\" href=\"Text/bad.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"img\" href=\"images/a%20b.png\" media-type=\"image/png\"/></manifest>"
      "<spine><itemref idref=\"c1\"/><itemref idref=\"bad\"/><itemref idref=\"c2\"/></spine></package>";
  const std::string xhtml = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>";
  MakeZip("book.epub", {{"mimetype", "application/epub+zip"},
                        {"META-INF/container.xml",
                         "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
                         "<rootfile full-path=\"OEBPS/book.opf\" media-type=\"application/oebps-package+xml\"/>"
                         "</rootfiles></container>"},
                        {"OEBPS/book.opf", opf},
                        {"OEBPS/Text/two.xhtml", xhtml + "Second&nbsp;chapter</p></body></html>"},
                        {"OEBPS/Text/one.xhtml", xhtml + "First chapter</p></body></html>"},
                        {"OEBPS/Text/bad.xhtml", xhtml + "unclosed</body></html>"},
                        {"OEBPS/images/a b.png", "\x89PNG"}});
  result = Corvane("book.epub", "epub", {"1"});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_NE(result.Err.find("corvane: book.epub: the part OEBPS/Text/bad.xhtml is left out of the page: "),
            std::string::npos)
      << result.Err;
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "epub"),
            (std::set<std::string>{"book.XML", "book_files/OEBPS/images/a b.png"}));
  flat = ReadFile(folder.Path() / "epub/book.XML");
  const std::size_t one = flat.find("First chapter"), two = flat.find(
                                                          "Second\xC2\xA0"
                                                          "chapter");
  EXPECT_TRUE(one != std::string::npos && two != std::string::npos && one < two) << flat;
  EXPECT_NE(flat.find("pkg:name=\"/OEBPS/book.opf\""), std::string::npos);

  // An OpenDocument package's pictures, beside the copy or below NAME_files; never
  // its preview.
  MakeZip("doc.odt", {{"content.xml", "<office:document-content xmlns:office=\"" + std::string(OfficeNs) +
                                          "\"><office:body/></office:document-content>"},
                      {"Pictures/p.png", "\x89PNG"},
                      {"Thumbnails/thumbnail.png", "\x89PNG"}});
  ASSERT_EQ(Corvane("doc.odt", "odt", {"1"}).Status, 0);
  ASSERT_EQ(Corvane("doc.odt", "fodt", {"--flat", "1"}).Status, 0);
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "odt"), (std::set<std::string>{"doc.XML", "Pictures/p.png"}));
  EXPECT_EQ(testsupport::FilesBelow(folder.Path() / "fodt"),
            (std::set<std::string>{"doc.XML", "doc_files/Pictures/p.png"}));
  EXPECT_NE(ReadFile(folder.Path() / "fodt/doc.XML").find("<office:document "), std::string::npos);
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, OfficeOpenXmlPackagesThatGiveNoDocument) {
  const std::string office = Transitional + "officeDocument";
  const std::string word = Override("/word/document.xml", WordType);
  const testsupport::TPyZipEntry part{"word/document.xml", "<w:document/>"};
  const std::string workbook =
      "<workbook xmlns:r=\"urn:r\"><sheets><sheet name=\"S\" r:id=\"rId1\"/></sheets></workbook>";
  auto workbookLinks = [](const std::string& target) {
    return testsupport::TPyZipEntry{
        "xl/_rels/workbook.xml.rels",
        "<Relationships>" + Relationship("rId1", Strict + "worksheet", target) + "</Relationships>"};
  };
  const std::vector<std::tuple<std::string, std::vector<testsupport::TPyZipEntry>, std::string>> cases = {
      {"external.docx",
       OfficePackage(Relationship("rId1", office, "http://example.invalid/d.xml", " TargetMode=\"External\""), word,
                     {part}),
       "_rels/.rels puts the main part outside the package (http://example.invalid/d.xml)"},
      {"climbs.docx", OfficePackage(Relationship("rId1", office, "../word/document.xml"), word, {part}),
       "_rels/.rels puts the main part outside the package (../word/document.xml)"},
      {"missing.docx", OfficePackage(Relationship("rId1", office, "word/gone.xml"), word, {part}),
       "_rels/.rels names word/gone.xml as the main part, which is missing from the package"},
      {"itself.docx", OfficePackage(Relationship("rId1", office, "_rels/.rels"), word, {part}),
       "the relationships of the package run in a loop: _rels/.rels names _rels/.rels as the main part"},
      {"loop.xlsx",
       OfficePackage(Relationship("rId1", office, "xl/workbook.xml"), Override("/xl/workbook.xml", SheetType),
                     {{"xl/workbook.xml", workbook}, workbookLinks("/xl/workbook.xml")}),
       "the relationships of the package run in a loop: xl/_rels/workbook.xml.rels names xl/workbook.xml as the "
       "first sheet"},
      {"nosheet.xlsx",
       OfficePackage(Relationship("rId1", office, "xl/workbook.xml"), Override("/xl/workbook.xml", SheetType),
                     {{"xl/workbook.xml", "<workbook><sheets/></workbook>"}, workbookLinks("sheet.xml")}),
       "the workbook xl/workbook.xml names no sheet"},
      {"binary.xlsb",
       OfficePackage(Relationship("rId1", office, "xl/workbook.bin"),
                     Override("/xl/workbook.bin", "ms-excel.sheet.binary.macroEnabled.main"),
                     {{"xl/workbook.bin", "\x83\x01<>"}}),
       "the main part xl/workbook.bin is not XML (its content type is "
       "application/vnd.ms-excel.sheet.binary.macroEnabled.main)"},
      {"untyped.docx", OfficePackage(Relationship("rId1", office, "word/document.xml"), "", {part}),
       "[Content_Types].xml gives no content type for the main part word/document.xml"},
      {"nomain.docx", OfficePackage(Relationship("rId1", Transitional + "styles", "word/styles.xml"), word, {part}),
       "_rels/.rels names no main part (it has no officeDocument relationship)"},
      {"broken.docx",
       {{"[Content_Types].xml", "<Types/>"}, {"_rels/.rels", "<Relationships><Relationship>"}, part},
       "the part _rels/.rels is not well-formed XML (line 1: ...)"},
  };
  for (const auto& [name, entries, reason] : cases) {
    MakeZip(name, entries);
    const auto result = Corvane(name);
    EXPECT_EQ(result.Status, 2) << name;
    EXPECT_EQ(result.Out, "Conversion failed!\n") << name;
    const std::string expected = "corvane: " + name + ": " + reason;
    if (reason.ends_with("...)")) {
      EXPECT_TRUE(result.Err.starts_with(expected.substr(0, expected.size() - 4))) << result.Err;
    } else {
      EXPECT_EQ(result.Err, expected + "\n") << name;
    }
    EXPECT_FALSE(fs::exists(folder.Path() / "out")) << name;
  }
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, OfficeOpenXmlFromRealProducers) {
  // python-docx and openpyxl write what office suites write, openpyxl without an
  // XML declaration.
  if (RunShell(std::string(SystemPython) + " -c 'import docx, openpyxl' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-docx or python3-openpyxl is not installed";
  }
  const std::string script =
      "import sys, zlib, struct, docx, openpyxl\n"
      "def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))\n"
      "png = b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 2, 2, 8, 2, 0, 0, 0)) + "
      "chunk(b'IDAT', zlib.compress(b'\\0' + b'\\xff\\0\\0' * 2 + b'\\0' + b'\\0\\0\\xff' * 2)) + chunk(b'IEND', b'')\n"
      "open(sys.argv[1] + '/dot.png', 'wb').write(png)\n"
      "d = docx.Document(); d.add_heading('The lamp', 1); d.add_paragraph('Its keeper.')\n"
      "d.add_picture(sys.argv[1] + '/dot.png'); d.save(sys.argv[1] + '/keeper.docx')\n"
      "w = openpyxl.Workbook(); w.active['A1'] = 'later'; w.create_sheet('Front', 0)['A1'] = 'first'\n"
      "w.save(sys.argv[1] + '/book.xlsx')\n";
  ASSERT_EQ(RunPython(script), 0);
  for (const auto& [package, part] : std::vector<std::pair<std::string, std::string>>{
           {"keeper.docx", "word/document.xml"}, {"book.xlsx", "xl/worksheets/sheet1.xml"}}) {
    const auto result = Corvane(package, "out", {"1"});
    EXPECT_EQ(result.Status, 0) << package << result.Err;
    const std::string expected = Unzipped(package, part);
    const std::string name = package.substr(0, package.find('.'));
    EXPECT_EQ(ReadFile(folder.Path() / "out" / (name + ".XML")),
              expected.starts_with("<?xml") ? Converted(expected) : Reference() + expected)
        << package;
  }
  EXPECT_EQ(ReadFile(folder.Path() / "out/image1.png"), ReadFile(folder.Path() / "dot.png"));
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(CorvanePackages, OnlyTheMainPartIsUnpacked) {
  // A picture that fails its CRC check and one in a method without a decoder are
  // never unpacked, so they fail nothing.
  const std::string content = "<?xml version=\"1.0\"?><office:document-content/>";
  WriteFile(folder / "pictures.odt",
            ziptest::BuildArchive({{.Name = "Pictures/broken.png", .Data = std::string(40000, 'p'), .Crc = 0x12345678},
                                   {"Pictures/lzma.png", "no decoder", 14},
                                   {"content.xml", content}}));
  const auto result = Corvane("pictures.odt");
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(ReadFile(folder.Path() / "out/pictures.XML"), Converted(content));
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
