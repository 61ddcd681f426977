// The shipped example in a real browser. With XSLT: headless Chromium opens the
// converted book, applies the template named by the inserted reference, and the
// page shows the book's title and points at the payload files corvane wrote.
// Without XSLT (the coming default of browsers): the page of --html shows the same.
// The same for the Word template on a small .docx, with a screenshot of its page.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ShellQuote;

namespace {

// The DOM that headless Chromium makes of a local file, with extra switches.
std::string DumpDom(const testsupport::TTempFolder& tmp, const std::string& file, const std::string& switches = {}) {
  const std::string command =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --allow-file-access-from-files "
      "--disable-background-networking --disable-component-update --disable-sync --no-first-run "
      "--disable-quic " +
      switches + " --user-data-dir=" + ShellQuote(tmp / "profile") + " --dump-dom " + ShellQuote("file://" + file) +
      " >" + ShellQuote(tmp / "dom.html") + " 2>/dev/null";
  EXPECT_EQ(testsupport::RunShell(command), 0);
  return testsupport::ReadFile(tmp.Path() / "dom.html");
}

// Browsers are dropping XSLT: whether this Chromium still applies a template.
bool ChromiumAppliesXslt(const testsupport::TTempFolder& tmp) {
  testsupport::WriteFile(tmp / "probe.xsl",
                         "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                         "<xsl:template match=\"/\"><html><body><p id=\"probe\">applied</p></body></html>"
                         "</xsl:template></xsl:stylesheet>");
  testsupport::WriteFile(tmp / "probe.xml", "<?xml-stylesheet href=\"probe.xsl\" type=\"text/xsl\"?><r/>");
  return DumpDom(tmp, tmp / "probe.xml").find("<p id=\"probe\">applied</p>") != std::string::npos;
}

void ExpectTheExampleBook(const std::string& dom) {
  EXPECT_NE(dom.find("<h1 class=\"book-title\">The Lamp of Corvane</h1>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<img src=\"cover.png\""), std::string::npos) << dom;
  EXPECT_NE(dom.find("<img src=\"lamp.png\""), std::string::npos) << dom;
  EXPECT_NE(dom.find("Ada Lantern"), std::string::npos);
}

// Converts the shipped example with its payloads into tmp/out.
void ConvertExample(const testsupport::TTempFolder& tmp, bool htmlPage) {
  std::vector<std::string> args{testsupport::SourceFile("examples/lamp.fb2").string(),
                                testsupport::SourceFile("examples/book.xsl").string(), tmp / "out", "1"};
  if (htmlPage) args.insert(args.begin(), "--html");
  const auto result = testsupport::RunProgram(CORVANE_EXE, args);
  ASSERT_EQ(result.Status, 0) << result.Out << result.Err;
  for (const char* image : {"cover.png", "lamp.png"}) {
    EXPECT_TRUE(testsupport::ReadFile(tmp.Path() / "out" / image).starts_with("\x89PNG\r\n\x1A\n")) << image;
  }
}

}  // namespace

TEST(CorvaneBrowser, ExampleBookRendersWithItsImages) {
  if (!testsupport::HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed; browser test skipped";
  testsupport::TTempFolder tmp;
  if (!ChromiumAppliesXslt(tmp)) {
    GTEST_SKIP() << "the installed Chromium no longer applies XSL templates; the page of corvane --html is "
                    "tested with XSLT off instead";
  }
  ConvertExample(tmp, false);
  ExpectTheExampleBook(DumpDom(tmp, tmp / "out/lamp.XML"));
}

TEST(CorvaneBrowser, PageOfTheExampleBookWithXsltOff) {
  if (!testsupport::HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed; browser test skipped";
  testsupport::TTempFolder tmp;
  ConvertExample(tmp, true);
  ExpectTheExampleBook(DumpDom(tmp, tmp / "out/lamp.html", "--disable-features=XSLT"));
}

namespace {

// A small Word document: a title, a heading, a paragraph, a table and a picture.
void MakeLetter(const testsupport::TTempFolder& tmp, const std::string& picture) {
  const std::string w = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
  const std::string links = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string package = "http://schemas.openxmlformats.org/package/2006/";
  auto paragraph = [](const std::string& style, const std::string& text) {
    return "<w:p>" + (style.empty() ? "" : "<w:pPr><w:pStyle w:val=\"" + style + "\"/></w:pPr>") + "<w:r><w:t>" + text +
           "</w:t></w:r></w:p>";
  };
  const std::string document =
      "<w:document " + w + " xmlns:r=\"" + links +
      "\" xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><w:body>" +
      paragraph("Title", "The Lamp Letter") + paragraph("Heading2", "On the keeper") +
      "<w:p><w:r><w:t xml:space=\"preserve\">The keeper is </w:t></w:r><w:r><w:rPr><w:b/></w:rPr>"
      "<w:t>awake</w:t></w:r></w:p><w:tbl><w:tr><w:tc>" +
      paragraph("", "oil") + "</w:tc><w:tc>" + paragraph("", "3 pints") +
      "</w:tc></w:tr></w:tbl><w:p><w:r><w:drawing><a:graphic><a:graphicData><a:blip r:embed=\"rId9\"/>"
      "</a:graphicData></a:graphic></w:drawing></w:r></w:p></w:body></w:document>";
  testsupport::PythonZip(
      tmp.Path() / "letter.docx",
      {{"[Content_Types].xml",
        "<Types xmlns=\"" + package +
            "content-types\"><Override PartName=\"/word/document.xml\" ContentType=\"application/"
            "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
       {"_rels/.rels", "<Relationships xmlns=\"" + package + "relationships\"><Relationship Id=\"rId1\" Type=\"" +
                           links + "/officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
       {"word/document.xml", document},
       {"word/_rels/document.xml.rels", "<Relationships xmlns=\"" + package +
                                            "relationships\"><Relationship Id=\"rId9\" Type=\"" + links +
                                            "/image\" Target=\"media/lamp.png\"/></Relationships>"},
       {"word/media/lamp.png", picture}},
      {"DEFLATED"});
}

void ExpectTheLetter(const std::string& dom) {
  EXPECT_NE(dom.find("<h1 class=\"title\">The Lamp Letter</h1>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<h2>On the keeper</h2>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<p>The keeper is <b>awake</b></p>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<td><p>3 pints</p></td>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<img src=\"lamp.png\""), std::string::npos) << dom;
}

}  // namespace

TEST(CorvaneBrowser, WordTemplateShowsADocxWithItsPicture) {
  if (!testsupport::HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed; browser test skipped";
  testsupport::TTempFolder tmp;
  ConvertExample(tmp, false);
  MakeLetter(tmp, testsupport::ReadFile(tmp.Path() / "out/lamp.png"));
  const auto result = testsupport::RunProgram(
      CORVANE_EXE,
      {"--html", tmp / "letter.docx", testsupport::SourceFile("examples/docx.xsl").string(), tmp / "word", "1"});
  ASSERT_EQ(result.Status, 0) << result.Out << result.Err;
  EXPECT_EQ(testsupport::ReadFile(tmp.Path() / "word/lamp.png"), testsupport::ReadFile(tmp.Path() / "out/lamp.png"));
  ExpectTheLetter(DumpDom(tmp, tmp / "word/letter.html", "--disable-features=XSLT"));
  if (ChromiumAppliesXslt(tmp)) ExpectTheLetter(DumpDom(tmp, tmp / "word/letter.XML"));
  // What a reader sees: a screenshot of the page, picture and all.
  const std::string command =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --allow-file-access-from-files --no-first-run "
      "--disable-features=XSLT --window-size=800,600 --user-data-dir=" +
      ShellQuote(tmp / "profile") + " --screenshot=" + ShellQuote(tmp / "letter.png") + " " +
      ShellQuote("file://" + (tmp / "word/letter.html")) + " >/dev/null 2>&1";
  EXPECT_EQ(testsupport::RunShell(command), 0);
  EXPECT_TRUE(testsupport::ReadFile(tmp.Path() / "letter.png").starts_with("\x89PNG\r\n\x1A\n"));
}
