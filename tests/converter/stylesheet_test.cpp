// The stylesheet reference: where it goes, what is removed, and the UTF-8 form
// of the template path; and whether a text can be XML at all.

#include "converter/stylesheet.h"

#include <gtest/gtest.h>

#include "converter/document_kind.h"
#include "tests/support/test_support.h"

using namespace corvane;

namespace {

std::string Edited(const std::string& text, const std::string& templatePath = "T") {
  const auto edit = PlanStylesheetReference(text, templatePath);
  if (!edit) return "<none>";
  std::string removed = text;
  std::string out;
  if (edit->InsertAt <= edit->DoctypeStart) {
    out = text.substr(0, edit->InsertAt) + "|" + text.substr(edit->InsertAt, edit->DoctypeStart - edit->InsertAt) +
          text.substr(edit->DoctypeEnd);
  } else {
    out = text.substr(0, edit->DoctypeStart) + text.substr(edit->DoctypeEnd, edit->InsertAt - edit->DoctypeEnd) + "|" +
          text.substr(edit->InsertAt);
  }
  EXPECT_EQ(edit->Instruction, "\r\n<?xml-stylesheet href=\"" + templatePath + "\" type=\"text/xsl\"?>\r\n");
  return out;
}

TEST(DocumentKind, OnlyWhatPrecedesTheMarkupAndTheSignaturesCount) {
  using std::string_literals::operator""s;
  // Text: wide encodings with and without a byte-order mark, 8-bit letters before
  // and after the markup, white space with form feed, no markup at all.
  for (const std::string& text : {"\0<\0r\0/\0>"s, "\0\0\0 \0\0\0<"s, " \0<\0r\0/\0>\0"s, "\xFE\xFF\0<"s,
                                  "\xCF\xF0\xE8 <r>\x01\x98</r>"s, "\f\v\t<r/>"s, "plain"s, ""s}) {
    EXPECT_EQ(NotXmlReason(text), std::nullopt) << testing::PrintToString(text);
  }
  EXPECT_EQ(NotXmlReason("\0\0\x01<r/>"s),
            "the file is not XML: a binary byte (0x00 at offset 0) comes before any markup");
  EXPECT_EQ(NotXmlReason("\xEF\xBB\xBF\x1B<r/>"),
            "the file is not XML: a binary byte (0x1B at offset 3) comes before any markup");
  EXPECT_EQ(NotXmlReason("no markup\x02"),
            "the file is not XML: a binary byte (0x02 at offset 9) comes before any markup");
  EXPECT_EQ(NotXmlReason("GIF87a<>"), "the file is a GIF image, not XML");
}

TEST(StylesheetPlacement, Table) {
  // "|" marks the instruction.
  EXPECT_EQ(Edited("<?xml version=\"1.0\"?>\n<!DOCTYPE a>\n<a/>"), "<?xml version=\"1.0\"?>|\n\n<a/>");
  // Without a prolog the instruction goes in front of the root element, never
  // inside it: a name after the "<" makes it a start tag (a letter, "_", ":" or a
  // byte beyond ASCII), after a BOM or a removed DOCTYPE too.
  EXPECT_EQ(Edited("<root><x/></root>"), "|<root><x/></root>");
  EXPECT_EQ(Edited("\xEF\xBB\xBF\n<w:document/>"), "\xEF\xBB\xBF\n|<w:document/>");
  EXPECT_EQ(Edited("<_a/>"), "|<_a/>");
  EXPECT_EQ(Edited("<\xC3\xA9t\xC3\xA9/>"), "|<\xC3\xA9t\xC3\xA9/>");
  EXPECT_EQ(Edited("<!DOCTYPE a>\n<a/>"), "\n|<a/>");
  EXPECT_EQ(Edited("<!-- c --><r/>"), "<!-- c -->|<r/>");
  EXPECT_EQ(Edited("< r/>"), "< r/>|");
  EXPECT_EQ(Edited("</r>"), "</r>|");
  // The removal stops at the first ">", leaving the rest of an internal subset.
  EXPECT_EQ(Edited("<!DOCTYPE a [<!ENTITY e \"v\">]>\n<a/>"), "]>\n|<a/>");
  EXPECT_EQ(Edited("<!DOCTYPE a [<!ENTITY e \"v\">]><a/>"), "]>|<a/>");
  // Lower case is left alone; so is a second DOCTYPE.
  EXPECT_EQ(Edited("<!doctype a><a/>"), "<!doctype a>|<a/>");
  EXPECT_EQ(Edited("<a/><!DOCTYPE b><!DOCTYPE c>"), "|<a/><!DOCTYPE c>");
  // A DOCTYPE without ">" is not removed.
  EXPECT_EQ(Edited("<!DOCTYPE a"), "<none>");
  EXPECT_EQ(Edited("x<!DOCTYPE a>y"), "<none>");
  EXPECT_EQ(Edited(""), "<none>");
  EXPECT_EQ(Edited("a < b"), "<none>");
  // The first "<" comes before the DOCTYPE and its ">" after it.
  EXPECT_EQ(Edited("<a <!DOCTYPE q> b>c"), "|<a  b>c");
  // Bytes are bytes: NULs and UTF-16 text are searched as they stand.
  EXPECT_EQ(Edited(std::string("\0<\0>\0", 5)), std::string("\0<\0>|\0", 6));
}

TEST(StylesheetPlacement, InsertInPlaceKeepsFileOnFailure) {
  testsupport::TTempFolder tmp;
  testsupport::WriteFile(tmp / "d.xml", "<?xml?><!DOCTYPE d><d/>");
  EXPECT_TRUE(InsertStylesheetReference(tmp / "d.xml", "/x&y.xsl"));
  EXPECT_EQ(testsupport::ReadFile(tmp / "d.xml"),
            "<?xml?>\r\n<?xml-stylesheet href=\"/x%26y.xsl\" type=\"text/xsl\"?>\r\n<d/>");
  testsupport::WriteFile(tmp / "n.xml", "<!DOCTYPE d> no markup");
  EXPECT_FALSE(InsertStylesheetReference(tmp / "n.xml", "t"));
  EXPECT_EQ(testsupport::ReadFile(tmp / "n.xml"), "<!DOCTYPE d> no markup");
  EXPECT_FALSE(InsertStylesheetReference(tmp / "missing.xml", "t"));
}

TEST(StylesheetHrefEscaping, Table) {
  const auto& posix = platform::PosixPathRules;
  const auto& win32 = platform::Win32PathRules;
  // A path of letters, digits and "-._~/:" stays byte for byte.
  EXPECT_EQ(StylesheetHref("/usr/share/x-y_z.1~/View.XSL", posix), "/usr/share/x-y_z.1~/View.XSL");
  EXPECT_EQ(StylesheetHref("C:\\xsl\\view.xsl", win32), "C:\\xsl\\view.xsl");
  // A backslash separates folders only on Windows.
  EXPECT_EQ(StylesheetHref("C:\\xsl\\view.xsl", posix), "C:%5Cxsl%5Cview.xsl");
  // A blank, a quote, "&", "%", "#", "?" and UTF-8 bytes, upper-case hex.
  EXPECT_EQ(StylesheetHref("/a b/\"q\"&%#?.xsl", posix), "/a%20b/%22q%22%26%25%23%3F.xsl");
  EXPECT_EQ(StylesheetHref("C:\\\xD0\x9A\xD0\xB8 x\\v.xsl", win32), "C:\\%D0%9A%D0%B8%20x\\v.xsl");
  // Bytes that are not UTF-8 are U+FFFD before they are escaped.
  EXPECT_EQ(StylesheetHref("/\xE9", posix), "/%EF%BF%BD");
  EXPECT_EQ(StylesheetHref("", posix), "");
}

TEST(WholeFileText, SaveRefusesEmptyAndLoadReadsAllBytes) {
  testsupport::TTempFolder tmp;
  EXPECT_FALSE(SaveFileText(tmp / "e", std::string_view()));
  EXPECT_FALSE(std::filesystem::exists(tmp.Path() / "e"));
  testsupport::WriteFile(tmp / "old", "old content");
  EXPECT_FALSE(SaveFileText(tmp / "old", ""));
  EXPECT_EQ(testsupport::ReadFile(tmp / "old"), "old content");
  const std::string bytes("a\0b\xFF", 4);
  EXPECT_TRUE(SaveFileText(tmp / "old", bytes));
  TFileText text;
  ASSERT_TRUE(LoadFileText(tmp / "old", text));
  EXPECT_EQ(text.View(), bytes);
  testsupport::WriteFile(tmp / "empty", "");
  ASSERT_TRUE(LoadFileText(tmp / "empty", text));
  EXPECT_EQ(text.View(), "");
  EXPECT_FALSE(LoadFileText(tmp / "missing", text));
  EXPECT_FALSE(SaveFileText(tmp / "no/such/folder/f", "x"));
  // A write that does not take every byte is a failure.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(SaveFileText("/dev/full", "x"));
  }
}

TEST(PosFromSearch, Table) {
  EXPECT_EQ(PosFrom(">", "<a>b>", 1), 3u);
  EXPECT_EQ(PosFrom(">", "<a>b>", 3), 3u);  // the start itself is a candidate
  EXPECT_EQ(PosFrom(">", "<a>b>", 4), 5u);
  EXPECT_EQ(PosFrom(">", "<a>b>", 6), 0u);  // past the last possible start
  EXPECT_EQ(PosFrom("ab", "xab", 2), 2u);
  EXPECT_EQ(PosFrom("ab", "xab", 3), 0u);
  EXPECT_EQ(PosFrom("abc", "ab", 1), 0u);
}

TEST(Utf8Encoding, SurrogatesAndCapacity) {
  char out[16];
  // U+1F600 as a surrogate pair: one four-byte sequence.
  EXPECT_EQ(EncodeUtf8(u"\U0001F600", out, sizeof out), 5u);
  EXPECT_EQ(std::string(out), "\xF0\x9F\x98\x80");
  // A lone half becomes U+FFFD.
  const char16_t lone[] = {0xD800, u'a', 0};
  EXPECT_EQ(EncodeUtf8(lone, out, sizeof out), 5u);
  EXPECT_EQ(std::string(out),
            "\xEF\xBF\xBD"
            "a");
  // Encoding stops before a character that does not fit; the terminator always fits.
  EXPECT_EQ(EncodeUtf8(u"a\u00E9", out, 3), 2u);
  EXPECT_EQ(std::string(out), "a");
  EXPECT_EQ(EncodeUtf8(u"a", out, 1), 1u);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(EncodeUtf8(u"\u0800", out, 4), 4u);
  EXPECT_EQ(std::string(out), "\xE0\xA0\x80");

  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(AnsiToUtf8("C:\\x\xC3\xA9\xF0\x9F\x98\x80"), "C:\\x\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(AnsiToUtf8("a\xE9z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(AnsiToUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // an encoded surrogate
}

}  // namespace
