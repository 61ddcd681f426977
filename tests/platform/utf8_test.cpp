// One reading of UTF-8 for the whole system: the edges of each form, and how much
// of a broken sequence counts as one fault.

#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

TEST(PlatformUtf8Decoding, EdgesOfEachForm) {
  struct TRow {
    std::string Bytes;
    std::uint32_t CodePoint;  // 0 for a broken sequence
    std::size_t Length;
  };
  const TRow rows[] = {
      {"\xDF\xBF", 0x7FF, 2},             // last two-byte character
      {"\xE0\x9F\xBF", 0, 1},             // U+07FF in three bytes: a longer form than needed
      {"\xED\x9F\xBF", 0xD7FF, 3},        // just below the surrogates
      {"\xED\xBF\xBF", 0, 1},             // the last surrogate
      {"\xF0\x8F\xBF\xBF", 0, 1},         // U+FFFF in four bytes
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},  // the last code point
      {"\xF0\x9F\x98", 0, 3},             // cut short by the end of the text
      {"\xF0\x9F\x98"
       "A",
       0, 3},  // cut short by a byte that begins a character of its own
  };
  for (const TRow& row : rows) {
    const TUtf8Character character = DecodeUtf8(row.Bytes, 0);
    EXPECT_EQ(character.WellFormed, row.CodePoint != 0) << row.Bytes;
    EXPECT_EQ(character.CodePoint, row.CodePoint) << row.Bytes;
    EXPECT_EQ(character.Length, row.Length) << row.Bytes;
  }
}

TEST(PlatformUtf8Encoding, WhatHasNoFormBecomesTheReplacementCharacter) {
  std::string out;
  for (const std::uint32_t codePoint : {0x7FU, 0x80U, 0xFFFFU, 0x10000U, 0x10FFFFU, 0xD800U, 0x110000U})
    AppendUtf8(out, codePoint);
  EXPECT_EQ(out,
            "\x7F\xC2\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"
            "\xEF\xBF\xBD\xEF\xBF\xBD");
}
