// The POSIX code pages: UTF-8 as the ANSI code page, code page 437 for OEM names.

#include "platform/code_page.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(PlatformCodePages, AnsiIsStrictUtf8) {
  EXPECT_EQ(AnsiToUtf16("a\xC3\xA9"), u"a\u00E9");
  EXPECT_EQ(AnsiToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(AnsiToUtf16("\xE9"), u"\uFFFD");                                // Latin-1 byte
  EXPECT_EQ(AnsiToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                      // overlong "/"
  EXPECT_EQ(AnsiToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
  EXPECT_EQ(AnsiToUtf16("\xE2\x82"), u"\uFFFD");                            // cut short
  EXPECT_EQ(AnsiToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
}

TEST(PlatformCodePages, OemNamesAreCodePage437) {
  EXPECT_EQ(OemToAnsi("abc/D.txt"), "abc/D.txt");
  EXPECT_EQ(OemToAnsi("\x80\x81\xE1\xFF"), "\xC3\x87\xC3\xBC\xC3\x9F\xC2\xA0");  // Ç ü ß nbsp
}

TEST(PlatformCodePages, CaseRulesTouchAsciiOnly) {
  EXPECT_EQ(AnsiLowerCase("ABC.Xml\xC3\x89"), "abc.xml\xC3\x89");
  EXPECT_EQ(AnsiCompareText("Content.XML", "content.xml"), 0);
  EXPECT_LT(AnsiCompareText("a", "B"), 0);
  EXPECT_GT(AnsiCompareText("ab", "A"), 0);
}

TEST(PlatformCodePages, WindowsCodePagesToUtf8) {
  EXPECT_EQ(CodePageToUtf8(1251, "\xC2\xE2\xE5\xE4\xE5\xED\xE8\xE5.htm"),
            "\xD0\x92\xD0\xB2\xD0\xB5\xD0\xB4\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5.htm");
  // Hebrew and Vietnamese converters hold the last character back until the end.
  EXPECT_EQ(CodePageToUtf8(1255, "a.htm\xE0"), "a.htm\xD7\x90");
  EXPECT_EQ(CodePageToUtf8(1258, "\xD5.htm"), "\xC6\xA0.htm");
  EXPECT_EQ(CodePageToUtf8(932, "\x82"), std::nullopt);  // a lead byte without its trail
  EXPECT_EQ(CodePageToUtf8(1, "a"), std::nullopt);       // no such code page
}
