// The payload scanner and the Base64 decoder.

#include "converter/binaries.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {

TEST(Base64Decoding, Table) {
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("TWFu"), "Man");
  EXPECT_EQ(DecodeBase64("TWE="), "Ma");
  EXPECT_EQ(DecodeBase64("TQ=="), "M");
  EXPECT_EQ(DecodeBase64("TQ==TWFu"), "M");         // nothing after a padded group
  EXPECT_EQ(DecodeBase64("TWFuTQ"), "Man");         // an incomplete group gives nothing
  EXPECT_EQ(DecodeBase64(" T\r\nW\tF-u*"), "Man");  // other bytes are skipped
  EXPECT_EQ(DecodeBase64("=AAA"), "");              // malformed padding ends the payload
  EXPECT_EQ(DecodeBase64("TWFu=A=="), "Man");
  EXPECT_EQ(DecodeBase64("////"), "\xFF\xFF\xFF");
}

TEST(TaggedElements, ScanMovesPastEachElement) {
  const std::string text =
      "<b><binary id=\"a\" x=\"1\">QUJD</binary><binary content-type=\"t\" id=\"b\">REVG</binary></b>";
  std::size_t offset = 0;
  std::string_view value, content;
  ASSERT_TRUE(NextTaggedElement(text, offset, "binary", "id", value, content));
  EXPECT_EQ(value, "a");
  EXPECT_EQ(content, "QUJD");
  EXPECT_EQ(text.substr(offset, 9), "</binary>");
  ASSERT_TRUE(NextTaggedElement(text, offset, "binary", "id", value, content));
  EXPECT_EQ(value, "b");
  EXPECT_EQ(content, "REVG");
  EXPECT_FALSE(NextTaggedElement(text, offset, "binary", "id", value, content));
}

TEST(TaggedElements, AttributeRules) {
  std::size_t offset = 0;
  std::string_view value, content;
  // Without " id=" the first double-quoted value of the tag is taken.
  std::string text = "<binary content-type=\"image/png\">QQ==</binary>";
  ASSERT_TRUE(NextTaggedElement(text, offset, "binary", "id", value, content));
  EXPECT_EQ(value, "image/png");
  // A comment inside the payload cuts the content at its "<".
  offset = 0;
  text = "<binary id=\"c\">QUJD<!-- x -->REVG</binary>";
  ASSERT_TRUE(NextTaggedElement(text, offset, "binary", "id", value, content));
  EXPECT_EQ(content, "QUJD");
  // No closing tag: nothing found, the offset stays.
  offset = 0;
  text = "<binary id=\"c\">QUJD";
  EXPECT_FALSE(NextTaggedElement(text, offset, "binary", "id", value, content));
  EXPECT_EQ(offset, 0u);
  // An empty value ends the scan even though the element is complete.
  offset = 0;
  text = "<binary id=\"\">QUJD</binary>";
  EXPECT_FALSE(NextTaggedElement(text, offset, "binary", "id", value, content));
}

TEST(TaggedElements, TextHelpers) {
  EXPECT_EQ(TextBefore("a=b=c", "="), "a");
  EXPECT_EQ(TextBefore("abc", "="), "abc");
  EXPECT_EQ(TextAfter("a=b=c", "="), "b=c");
  EXPECT_EQ(TextAfter("abc", "="), "abc");
  EXPECT_EQ(TextBetween("x\"v\"y", "\"", "\""), "v");
  EXPECT_EQ(TextBetween("x\"v", "\"", "\""), "");
  EXPECT_EQ(TextBetween("xv", "\"", "\""), "");
}

TEST(TaggedElements, PayloadIdSafety) {
  for (const char* id : {"a.png", "cover.jpg", "..a", "a..", ".hidden"}) EXPECT_TRUE(PayloadIdIsSafe(id)) << id;
  for (const char* id : {"", ".", "..", "../a", "a/b", "a\\b", "C:a", "/abs"}) EXPECT_FALSE(PayloadIdIsSafe(id)) << id;
}

}  // namespace
