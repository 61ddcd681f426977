// corvane --html end to end: the page beside NAME.XML is what xsltproc makes of
// NAME.XML, NAME.XML is the same as without the option, every failure leaves one
// line on stderr and no page, and nothing goes to the network.

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

const std::string XslHead = "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n";

// A FictionBook book in windows-1251 that names a stylesheet of its own, and a
// template that writes its page in windows-1251 too.
std::string Cp1251Book() {
  // "Глава" and "Текст" in windows-1251.
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<?xml-stylesheet href=\"theirs.xsl\" type=\"text/xsl\"?>\n"
         "<FictionBook><body><section><title>\xC3\xEB\xE0\xE2\xE0 1</title><p>\xD2\xE5\xEA\xF1\xF2 &amp; more</p>"
         "<image href=\"#pic.png\"/></section></body>"
         "<binary id=\"pic.png\" content-type=\"image/png\">iVBORw0KGgo=</binary></FictionBook>\n";
}
const std::string Cp1251Template = XslHead +
                                   "<xsl:output method=\"html\" encoding=\"windows-1251\"/>\n"
                                   "<xsl:template match=\"/\"><html><head><title>t</title></head><body>"
                                   "<xsl:for-each select=\"//section\"><h2><xsl:value-of select=\"title\"/></h2>"
                                   "<p><xsl:value-of select=\"p\"/></p>"
                                   "<img src=\"{substring-after(image/@href, '#')}\"/></xsl:for-each>"
                                   "</body></html></xsl:template></xsl:stylesheet>\n";
// No xsl:output: a result whose root is html is written as HTML.
const std::string ImplicitHtmlTemplate = XslHead +
                                         "<xsl:template match=\"/\"><html><body><br/><xsl:value-of select=\"/*\"/>"
                                         "</body></html></xsl:template></xsl:stylesheet>\n";
const std::string XmlTemplate = XslHead +
                                "<xsl:output method=\"xml\" indent=\"yes\"/>\n"
                                "<xsl:template match=\"/\"><page><xsl:copy-of select=\"/*\"/></page></xsl:template>"
                                "</xsl:stylesheet>\n";

class CorvaneHtml : public ::testing::Test {
 protected:
  CorvaneHtml() { fs::create_directory(folder.Path() / "temp"); }
  testsupport::TRunResult Corvane(const std::vector<std::string>& args) {
    return RunProgram(CORVANE_EXE, args, folder.Path().string(), "TMPDIR=" + ShellQuote(folder / "temp"));
  }
  // What xsltproc makes of a document with a template.
  std::string Xsltproc(const std::string& xsl, const std::string& document) {
    const std::string out = folder / "xsltproc.out";
    EXPECT_EQ(
        RunShell("xsltproc " + ShellQuote(xsl) + " " + ShellQuote(document) + " >" + ShellQuote(out) + " 2>/dev/null"),
        0);
    return ReadFile(out);
  }
  std::vector<std::string> Names(const std::string& sub) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path() / sub)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  TTempFolder folder;
};

TEST_F(CorvaneHtml, PagesAreWhatXsltprocMakesOfTheCopy) {
  if (!testsupport::HaveCommand("xsltproc")) GTEST_SKIP() << "xsltproc is not installed";
  WriteFile(folder / "ru.fb2", Cp1251Book());
  WriteFile(folder / "ru.xsl", Cp1251Template);
  WriteFile(folder / "plain.xml", "<doc>a &lt; b<!-- c --><![CDATA[ <d> ]]></doc>");
  // An undeclared prefix, as in careless books: libxml2 recovers, and so does the page.
  WriteFile(folder / "careless.fb2", "<book><image l:href=\"#a.png\"/><p>text</p></book>");
  WriteFile(folder / "implicit.xsl", ImplicitHtmlTemplate);
  WriteFile(folder / "xml.xsl", XmlTemplate);
  // An office package: its content.xml becomes the document.
  fs::create_directory(folder.Path() / "pkg");
  WriteFile(folder.Path() / "pkg/content.xml", "<?xml version=\"1.0\"?><office><text>Report</text></office>");
  testsupport::ShellIn(folder.Path() / "pkg", "zip -q ../report.odt content.xml");
  struct TCase {
    std::string Document, Template, Name;
    std::string Holds;  ///< what the page holds, beyond agreeing with xsltproc
  };
  std::vector<TCase> cases = {
      {testsupport::SourceFile("examples/lamp.fb2"), testsupport::SourceFile("examples/book.xsl"), "lamp",
       "<h1 class=\"book-title\">The Lamp of Corvane</h1>"},
      {folder / "ru.fb2", folder / "ru.xsl", "ru",
       "charset=windows-1251\">\n<title>t</title>\n</head>\n<body>\n"
       "<h2>\xC3\xEB\xE0\xE2\xE0 1</h2>\n<p>\xD2\xE5\xEA\xF1\xF2 &amp; more</p>\n<img src=\"pic.png\">"},
      {folder / "plain.xml", folder / "implicit.xsl", "plain", "a &lt; b &lt;d&gt; </body></html>"},
      {folder / "plain.xml", folder / "xml.xsl", "plain", "a &lt; b<!-- c --> &lt;d&gt; </doc>\n</page>"},
      {folder / "report.odt", folder / "implicit.xsl", "report", "<html><body>\n<br>Report</body></html>"},
      {folder / "careless.fb2", folder / "implicit.xsl", "careless", "<br>text</body></html>"},
  };
  // Real books, with the benchmark's template of the whole FictionBook format.
  for (const std::string book : {"test-book-ru", "test-book-en"}) {
    const fs::path source = testsupport::Fixture("docs/" + book + ".fb2");
    if (fs::exists(source))
      cases.push_back({source, testsupport::SourceFile("bench/fb2_page.xsl"), book, "<h1 class=\"book-title\">"});
  }
  for (const auto& c : cases) {
    fs::remove_all(folder.Path() / "with");
    fs::remove_all(folder.Path() / "without");
    const auto with = Corvane({"--html", c.Document, c.Template, folder / "with", "1"});
    ASSERT_EQ(with.Status, 0) << c.Document << with.Err;
    EXPECT_EQ(with.Out + with.Err, "") << c.Document;
    ASSERT_EQ(Corvane({c.Document, c.Template, folder / "without", "1"}).Status, 0) << c.Document;
    // NAME.XML and the payloads are as without the option; the page comes on top.
    std::vector<std::string> expectedNames = Names("without");
    expectedNames.push_back(c.Name + ".html");
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(Names("with"), expectedNames) << c.Document;
    const std::string copy = ReadFile(folder.Path() / "with" / (c.Name + ".XML"));
    EXPECT_EQ(copy, ReadFile(folder.Path() / "without" / (c.Name + ".XML"))) << c.Document;
    const std::string page = ReadFile(folder.Path() / "with" / (c.Name + ".html"));
    EXPECT_EQ(page, Xsltproc(c.Template, folder / ("with/" + c.Name + ".XML"))) << c.Document;
    EXPECT_NE(page.find(c.Holds), std::string::npos) << page;
  }
}

TEST_F(CorvaneHtml, FailuresGiveOneLineAndNoPage) {
  WriteFile(folder / "good.xml", "<?xml version=\"1.0\"?>\n<r>ok</r>\n");
  WriteFile(folder / "view.xsl", ImplicitHtmlTemplate);
  std::string deep = "<r>";
  for (int i = 0; i < 300; ++i) deep += "<a>";
  for (int i = 0; i < 300; ++i) deep += "</a>";
  deep += "</r>";
  struct TCase {
    std::string Document, Template, ExpectedLine;
  };
  const std::string out = folder / "out/";
  const std::vector<TCase> cases = {
      // The template: missing, not XSLT, not XML, an error while it runs, a write.
      {"<r/>", "", (folder / "missing.xsl") + ": cannot read the template: No such file or directory"},
      {"<r/>", "<html/>", (folder / "t.xsl") + ":1: xsltParseStylesheetProcess : document is not a stylesheet"},
      {"<r/>", "<xsl:stylesheet/>", (folder / "t.xsl") + ":1: Namespace prefix xsl on stylesheet is not defined"},
      {"<r/>",
       XslHead + "<xsl:template match=\"/\">\n<xsl:value-of select=\"$nope\"/>\n</xsl:template></xsl:stylesheet>",
       (folder / "t.xsl") + ":3: Variable 'nope' has not been declared."},
      {"<r/>",
       XslHead + "<xsl:template match=\"/\"><xsl:message>note</xsl:message>"
                 "<xsl:message terminate=\"yes\">no page today</xsl:message></xsl:template></xsl:stylesheet>",
       (folder / "t.xsl") + ": the template stopped the transformation: no page today"},
      {"<r/>",
       XslHead + "<xsl:template match=\"/\"><xsl:document href=\"../written.txt\">x</xsl:document><p/>"
                 "</xsl:template></xsl:stylesheet>",
       (folder / "t.xsl") + ":2: File write for ../written.txt refused"},
      // The document: not well-formed (NAME.XML has the instruction's two lines more),
      // nested deeper or with a text larger than libxml2's limits.
      {"<?xml version=\"1.0\"?>\n<r>\n<b>\n</r>\n", "view",
       out + "d.XML:6: Opening and ending tag mismatch: b line 5 and r"},
      {deep, "view", out + "d.XML:3: Excessive depth in document: 256 use XML_PARSE_HUGE option"},
      {"<r>" + std::string(10'000'001, 'x') + "</r>", "view", out + "d.XML:3: xmlSAX2Characters: huge text node"},
  };
  for (const auto& c : cases) {
    fs::remove_all(folder.Path() / "out");
    fs::create_directory(folder.Path() / "out");
    WriteFile(folder.Path() / "out/d.html", "an older page");
    WriteFile(folder / "d.xml", c.Document);
    std::string xsl = folder / "view.xsl";
    if (c.Template.empty()) {
      xsl = folder / "missing.xsl";
    } else if (c.Template != "view") {
      xsl = folder / "t.xsl";
      WriteFile(xsl, c.Template);
    }
    const auto result = Corvane({"--html", "d.xml", xsl, "out"});
    EXPECT_EQ(result.Status, 2) << c.ExpectedLine;
    EXPECT_EQ(result.Out, c.Template.empty() ? "Warning! The xsl(t) template " + xsl + " does not exist!\n" : "");
    EXPECT_EQ(result.Err, "corvane: " + c.ExpectedLine + "\n");
    // NAME.XML as without the option, and no page, no partial one, no older one.
    EXPECT_EQ(Names("out"), std::vector<std::string>{"d.XML"}) << c.ExpectedLine;
    EXPECT_FALSE(fs::exists(folder.Path() / "written.txt"));
    EXPECT_TRUE(fs::is_empty(folder.Path() / "temp"));
  }
}

TEST_F(CorvaneHtml, NothingGoesToTheNetworkAndNoEntityIsRead) {
  if (!testsupport::HaveCommand("python3")) GTEST_SKIP() << "python3 is not installed";
  WriteFile(folder / "secret.txt", "SECRET");
  // Listens on a free port, runs corvane on a document and a template that ask for
  // that port, and prints the number of connections that came.
  WriteFile(folder / "listen.py",
            "import socket,subprocess,sys\n"
            "s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen(8); s.settimeout(0.5)\n"
            "url='http://127.0.0.1:%d/' % s.getsockname()[1]\n"
            "for name in ('d.xml','t.xsl','import.xsl'):\n"
            "  text=open(name+'.in').read().replace('URL',url); open(name,'w').write(text)\n"
            "codes=[subprocess.call([sys.argv[1],'--html','d.xml',x,'out']) for x in ('t.xsl','import.xsl')]\n"
            "n=0\n"
            "try:\n"
            "  while True: s.accept()[0].close(); n+=1\n"
            "except OSError: pass\n"
            "print(codes[0], codes[1], n)\n");
  // Hidden behind a comment, the first DOCTYPE is not the one corvane removes.
  WriteFile(folder / "d.xml.in",
            "<!-- <!DOCTYPE x> --><!DOCTYPE r SYSTEM \"URLdtd\" [<!ENTITY s SYSTEM \"secret.txt\">"
            "<!ENTITY n SYSTEM \"URLentity\">]><r>&s;&n;<a href=\"URLhref\"/></r>");
  WriteFile(folder / "t.xsl.in", XslHead +
                                     "<xsl:template match=\"/\"><p><xsl:value-of select=\"r\"/>"
                                     "<xsl:copy-of select=\"document('URLdocument')\"/>"
                                     "<xsl:copy-of select=\"document(r/a/@href)\"/></p></xsl:template>"
                                     "</xsl:stylesheet>");
  WriteFile(folder / "import.xsl.in", XslHead + "<xsl:import href=\"URLimport.xsl\"/></xsl:stylesheet>");
  const std::string counts = folder / "counts";
  ASSERT_EQ(RunShell("cd " + ShellQuote(folder.Path().string()) + " && python3 listen.py " + ShellQuote(CORVANE_EXE) +
                     " >" + ShellQuote(counts) + " 2>/dev/null"),
            0);
  // Both fail (the template's network reads are refused), no connection came.
  EXPECT_EQ(ReadFile(counts), "2 2 0\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "out/d.html"));
  // The same document with a harmless template: the page, without the secret.
  WriteFile(folder / "v.xsl", ImplicitHtmlTemplate);
  ASSERT_EQ(Corvane({"--html", "d.xml", "v.xsl", "out"}).Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "out/d.html").find("SECRET"), std::string::npos);
}

TEST_F(CorvaneHtml, OptionsStandAnywhereUntilTheEndMark) {
  WriteFile(folder / "--html", "<r/>");
  WriteFile(folder / "v.xsl", ImplicitHtmlTemplate);
  // A document named like the option, reached by a path.
  EXPECT_EQ(Corvane({"./--html", "v.xsl", "out"}).Status, 0);
  EXPECT_EQ(Names("out"), std::vector<std::string>{"--html.XML"});
  // After the arguments it is the option still, never the extract flag.
  EXPECT_EQ(Corvane({"./--html", "v.xsl", "out2", "--html"}).Status, 0);
  EXPECT_EQ(Names("out2"), (std::vector<std::string>{"--html.XML", "--html.html"}));
  EXPECT_EQ(Corvane({"--html", "./--html", "v.xsl", "out3"}).Status, 0);
  EXPECT_EQ(Names("out3"), (std::vector<std::string>{"--html.XML", "--html.html"}));
  // After "--" everything is an argument: the document, and the extract flag.
  EXPECT_EQ(Corvane({"--", "--html", "v.xsl", "out4", "--html"}).Status, 0);
  EXPECT_EQ(Names("out4"), std::vector<std::string>{"--html.XML"});
  // The option and fewer than three arguments: the usage text.
  EXPECT_EQ(Corvane({"--html", "./--html", "v.xsl"}).Status, 1);
}

}  // namespace
