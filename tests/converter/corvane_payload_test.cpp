// corvane's payload extraction end to end: Base64 payloads of `binary` elements
// come out as files beside the .XML copy when a fourth argument is given.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TTempFolder;
using testsupport::WriteFile;

namespace {

class CorvanePayloads : public ::testing::Test {
 protected:
  testsupport::TRunResult Convert(const std::string& document, bool extract = true) {
    WriteFile(folder / "doc.fb2", document);
    std::vector<std::string> args{folder / "doc.fb2", folder / "view.xsl", folder / "out"};
    if (extract) args.push_back("1");
    return RunProgram(CORVANE_EXE, args);
  }
  std::set<std::string> OutputNames() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path() / "out")) names.insert(entry.path().filename());
    return names;
  }
  std::string Out(const std::string& name) { return ReadFile(folder.Path() / "out" / name); }
  TTempFolder folder;
};

TEST_F(CorvanePayloads, TwoElementsBecomeTwoFilesAndStayInTheCopy) {
  const std::string doc =
      "<FictionBook><binary id=\"a.png\" content-type=\"image/png\">iVBORw0KGgo=</binary>\n"
      "<binary content-type=\"image/jpeg\" id=\"b.jpg\">/9j/4A==</binary></FictionBook>";
  ASSERT_EQ(Convert(doc).Status, 0);
  EXPECT_EQ(OutputNames(), (std::set<std::string>{"a.png", "b.jpg", "doc.XML"}));
  EXPECT_EQ(Out("a.png"), "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(Out("b.jpg"), "\xFF\xD8\xFF\xE0");
  EXPECT_NE(Out("doc.XML").find("<binary id=\"a.png\""), std::string::npos);
}

TEST_F(CorvanePayloads, NothingWithoutTheFourthArgument) {
  ASSERT_EQ(Convert("<b><binary id=\"a.bin\">QUJD</binary></b>", false).Status, 0);
  EXPECT_EQ(OutputNames(), (std::set<std::string>{"doc.XML"}));
}

TEST_F(CorvanePayloads, LineBreaksPaddingAndIncompleteGroups) {
  std::string data(300, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  // Python-free reference: the standard encoding of data, in 76-character lines.
  static const char* Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(data[i]) << 16) | (static_cast<unsigned char>(data[i + 1]) << 8) |
                       static_cast<unsigned char>(data[i + 2]);
    for (int k = 3; k >= 0; --k) encoded += Alphabet[(v >> (6 * k)) & 63];
  }
  std::string lines;
  for (std::size_t i = 0; i < encoded.size(); i += 76) lines += encoded.substr(i, 76) + "\r\n";
  const std::string doc = "<r><binary id=\"lines.bin\">\r\n" + lines + "</binary>" +
                          "<binary id=\"pad1.bin\">QUI=QUJD</binary>" +    // "AB", the rest ignored
                          "<binary id=\"pad2.bin\">QQ==</binary>" +        // "A"
                          "<binary id=\"short.bin\">QUJDRA</binary></r>";  // "ABC", "RA" incomplete
  ASSERT_EQ(Convert(doc).Status, 0);
  EXPECT_EQ(Out("lines.bin"), data);
  EXPECT_EQ(Out("pad1.bin"), "AB");
  EXPECT_EQ(Out("pad2.bin"), "A");
  EXPECT_EQ(Out("short.bin"), "ABC");
}

TEST_F(CorvanePayloads, ScanStopsAtSingleQuotesAndEmptyContent) {
  ASSERT_EQ(Convert("<r><binary id=\"one\">QUJD</binary><binary id='two'>QUJD</binary>"
                    "<binary id=\"three\">QUJD</binary></r>")
                .Status,
            0);
  EXPECT_EQ(OutputNames(), (std::set<std::string>{"doc.XML", "one"}));
  fs::remove_all(folder.Path() / "out");
  ASSERT_EQ(Convert("<r><binary id=\"one\">QUJD</binary><binary id=\"two\"></binary>"
                    "<binary id=\"three\">QUJD</binary><binary\nid=\"four\">QUJD</binary></r>")
                .Status,
            0);
  EXPECT_EQ(OutputNames(), (std::set<std::string>{"doc.XML", "one"}));
}

TEST_F(CorvanePayloads, IdsThatLeaveTheFolderAreSkipped) {
  fs::create_directory(folder.Path() / "out");
  ASSERT_EQ(Convert("<r><binary id=\"../escape\">QUJD</binary><binary id=\"/tmp/abs\">QUJD</binary>"
                    "<binary id=\"sub\\x\">QUJD</binary><binary id=\"c:x\">QUJD</binary>"
                    "<binary id=\"..\">QUJD</binary><binary id=\".\">QUJD</binary>"
                    "<binary id=\"empty\">====</binary><binary id=\"last.bin\">QUJD</binary></r>")
                .Status,
            0);
  EXPECT_EQ(OutputNames(), (std::set<std::string>{"doc.XML", "last.bin"}));
  EXPECT_FALSE(fs::exists(folder.Path() / "escape"));
}

TEST_F(CorvanePayloads, PayloadNamedLikeTheCopyReplacesItAndTheScanGoesOn) {
  ASSERT_EQ(Convert("<r><binary id=\"doc.XML\">QUJD</binary><binary id=\"after.bin\">REVG</binary></r>").Status, 0);
  EXPECT_EQ(Out("doc.XML"), "ABC");
  EXPECT_EQ(Out("after.bin"), "DEF");
}

// Real FictionBook books: every payload comes out exactly as an independent
// extractor (Python's re and base64) decodes it.
TEST_F(CorvanePayloads, RealBooksMatchAnIndependentExtractor) {
  if (!testsupport::HaveCommand("python3")) GTEST_SKIP() << "python3 is not installed";
  for (const std::string book : {"docs/test-book-ru.fb2", "docs/test-book-en.fb2"}) {
    const fs::path source = testsupport::Fixture(book);
    KESTREL_REQUIRE_FIXTURE(source);
    fs::remove_all(folder.Path() / "out");
    fs::remove_all(folder.Path() / "expected");
    fs::create_directory(folder.Path() / "expected");
    const auto result = RunProgram(CORVANE_EXE, {source.string(), folder / "view.xsl", folder / "out", "x"});
    ASSERT_EQ(result.Status, 0) << result.Out;
    const std::string script =
        "import re,base64,sys\n"
        "t=open(sys.argv[1],'rb').read()\n"
        "for m in re.finditer(rb'<binary ([^>]*)>([^<]*)</binary>',t):\n"
        "  i=re.search(rb' id=\"([^\"]*)\"',b' '+m.group(1)).group(1).decode()\n"
        "  open(sys.argv[2]+'/'+i,'wb').write(base64.b64decode(m.group(2)))\n";
    WriteFile(folder / "oracle.py", script);
    ASSERT_EQ(testsupport::RunShell("python3 " + testsupport::ShellQuote(folder / "oracle.py") + " " +
                                    testsupport::ShellQuote(source.string()) + " " +
                                    testsupport::ShellQuote(folder / "expected")),
              0);
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder.Path() / "expected")) {
      ++count;
      EXPECT_EQ(Out(entry.path().filename()), ReadFile(entry.path())) << book << ": " << entry.path().filename();
    }
    EXPECT_GE(count, 30u) << book;
    EXPECT_EQ(OutputNames().size(), count + 1) << book;
  }
}

}  // namespace
