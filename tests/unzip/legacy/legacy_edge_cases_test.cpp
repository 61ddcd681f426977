// Hand-made streams for the corners of the legacy methods, and damaged input:
// every decoder must end cleanly, inside its tables, with at most the declared
// size written, and leave the verdict to the CRC comparison.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "legacy_encoders.h"
#include "legacy_support.h"
#include "unzip/decode/unshrink.h"

namespace legacytest {
namespace {

std::string FlatTree(unsigned n, int length) { return TreeDescription(std::vector<int>(n, length)); }

// --- Explode ------------------------------------------------------------------

// Flat trees: every literal 8 bits, every length and distance code 6 bits, so a
// symbol's code is its number.
std::string ExplodeHeader(bool threeTrees) {
  return (threeTrees ? FlatTree(256, 8) : "") + FlatTree(64, 6) + FlatTree(64, 6);
}
void Literal(TBitWriter& w, bool threeTrees, std::uint8_t byte) {
  w.Bits(1, 1);
  if (threeTrees)
    ImplodeCode(w, byte, 8);
  else
    w.Bits(byte, 8);
}
void Match(TBitWriter& w, int lowBits, unsigned low, unsigned distanceCode, unsigned lengthCode, int extra = -1) {
  w.Bits(0, 1);
  w.Bits(low, lowBits);
  ImplodeCode(w, distanceCode, 6);
  ImplodeCode(w, lengthCode, 6);
  if (extra >= 0) w.Bits(static_cast<std::uint32_t>(extra), 8);
}

TEST(ExplodeEdgeCases, LengthCode63WithExtraByte255) {
  for (bool threeTrees : {false, true}) {
    TBitWriter w;
    Literal(w, threeTrees, 'x');
    Match(w, 6, 0, 0, 63, 255);  // distance 1: 65 + 255 = 320 (or 66 + 255 = 321) bytes
    const std::string expected(threeTrees ? 322 : 321, 'x');
    const TDecoded got = DecodeEntry(ExplodeHeader(threeTrees) + w.Bytes(), 6,
                                     static_cast<std::uint32_t>(expected.size()), threeTrees ? 4 : 0);
    EXPECT_EQ(got.output, expected);
    EXPECT_FALSE(got.sizeGuard);
  }
}

TEST(ExplodeEdgeCases, LargestDistanceBeforeTheFirstByteGivesZeros) {
  TLegacyDecoder decoder;
  for (bool dictionary8K : {false, true}) {
    // A previous entry leaves its bytes in the window.
    const std::string noise = RandomData(40000, 5);
    ASSERT_EQ(decoder.Decode(ImplodeEncode(noise), 6, 0, 40000).output, noise);
    TBitWriter w;
    const int lowBits = dictionary8K ? 7 : 6;
    Literal(w, false, 'q');
    Match(w, lowBits, (1u << lowBits) - 1, 63, 1);  // the largest distance, 4096 or 8192; 3 bytes
    Literal(w, false, 'z');
    Match(w, lowBits, 1, 0, 0);  // distance 2, 2 bytes: the zero and the 'z' before
    const TDecoded got = decoder.Decode(ExplodeHeader(false) + w.Bytes(), 6, dictionary8K ? 2 : 0, 7);
    EXPECT_EQ(got.output, std::string("q\0\0\0z\0z", 7)) << dictionary8K;
  }
}

TEST(ExplodeEdgeCases, TreeDescriptionOf63LengthsEndsTheEntryWithNoOutput) {
  // 16 + 16 + 16 + 15 lengths of 6 bits for a tree of 64.
  const std::string lengths63 = std::string("\x03\xF5\xF5\xF5\xE5", 5);
  TBitWriter w;
  Literal(w, false, 'a');
  const TDecoded got = DecodeEntry(lengths63 + FlatTree(64, 6) + w.Bytes(), 6, 1);
  EXPECT_EQ(got.output, "");
  EXPECT_NE(got.crc, Crc32("a"));
  // 65 lengths fail the same way; so does an incomplete code (all lengths 7).
  EXPECT_EQ(DecodeEntry(std::string("\x04\xF5\xF5\xF5\xF5\x05", 6) + FlatTree(64, 6) + w.Bytes(), 6, 1).output, "");
  EXPECT_EQ(DecodeEntry(FlatTree(64, 7) + FlatTree(64, 6) + w.Bytes(), 6, 1).output, "");
}

TEST(ExplodeEdgeCases, SizeZeroWritesNothingThoughDataFollows) {
  const TDecoded got = DecodeEntry(ImplodeEncode("hello, hello, hello"), 6, 0);
  EXPECT_EQ(got.output, "");
  EXPECT_EQ(got.crc, 0u);
  EXPECT_FALSE(got.sizeGuard);
}

TEST(ExplodeEdgeCases, MatchPastTheSizeTripsTheSizeGuard) {
  const TDecoded got = DecodeEntry(ImplodeEncode(std::string(1000, 'a')), 6, 500);
  EXPECT_TRUE(got.sizeGuard);
  EXPECT_LE(got.output.size(), 500u);
}

// --- Unshrink -----------------------------------------------------------------

std::string Codes(const std::vector<std::pair<unsigned, int>>& codes) {
  TBitWriter w;
  for (auto [code, bits] : codes) w.Bits(code, bits);
  return w.Bytes();
}

TEST(UnshrinkEdgeCases, NoCompressedBytesWritesNothing) {
  const TDecoded got = DecodeEntry("", 1, 0);
  EXPECT_EQ(got.output, "");
  EXPECT_EQ(got.crc, 0u);
}

TEST(UnshrinkEdgeCases, TheCodeBeingDefinedIsThePreviousStringAndItsFirstByte) {
  EXPECT_EQ(DecodeEntry(Codes({{'a', 9}, {257, 9}}), 1, 3).output, "aaa");
  EXPECT_EQ(DecodeEntry(Codes({{'a', 9}, {'b', 9}, {258, 9}}), 1, 4).output, "abbb");
}

TEST(UnshrinkEdgeCases, CodeSizeEscapeWidensTheNextCode) {
  EXPECT_EQ(DecodeEntry(Codes({{'a', 9}, {256, 9}, {1, 9}, {'b', 10}, {257, 10}}), 1, 4).output, "abab");
}

TEST(UnshrinkEdgeCases, PartialClearFreesTheLeavesAndReusesTheLowestCode) {
  std::vector<std::uint8_t> window(kestrel::WindowSize);
  auto set = [&](unsigned code, std::int16_t prefix) { std::memcpy(window.data() + 2 * code, &prefix, 2); };
  auto get = [&](unsigned code) {
    std::int16_t p;
    std::memcpy(&p, window.data() + 2 * code, 2);
    return p;
  };
  for (unsigned c = 257; c <= 8192; ++c) set(c, -1);
  set(257, 'a');  // "a?"   parent of 258
  set(258, 257);  // "a??"  leaf
  set(259, 'b');  // leaf
  set(260, 259);  // "b??", leaf; makes 259 a parent
  set(261, -1);   // already free
  set(262, 261);  // names a free code: that code must stay free
  EXPECT_EQ(kestrel::PartialClear(window.data(), 263), 258u);
  EXPECT_EQ(get(257), 'a');
  EXPECT_EQ(get(258), -1);
  EXPECT_EQ(get(259), 'b');
  EXPECT_EQ(get(260), -1);
  EXPECT_EQ(get(261), -1);
  EXPECT_EQ(get(262), -1);
  // A full table clears the same way and hands out its lowest leaf.
  for (unsigned c = 257; c < 8192; ++c) set(c, static_cast<std::int16_t>(c == 257 ? 'x' : c - 1));
  EXPECT_EQ(kestrel::PartialClear(window.data(), 8192), 8191u);
}

TEST(UnshrinkEdgeCases, DamagedStreamsEndInsideTheTables) {
  // Code size past 13: the entry ends at the fifth escape.
  std::vector<std::pair<unsigned, int>> wide = {{'a', 9}};
  for (int size = 9; size <= 13; ++size) wide.insert(wide.end(), {{256, size}, {1, size}});
  wide.push_back({'b', 14});
  EXPECT_EQ(DecodeEntry(Codes(wide), 1, 100).output, "a");
  // A free code that refers to itself builds a string longer than the stack.
  const TDecoded loop = DecodeEntry(Codes({{300, 9}, {300, 9}, {'c', 9}}), 1, 100000);
  EXPECT_EQ(loop.output, ",");
  // A code cut short by the end of the data is not decoded.
  EXPECT_EQ(DecodeEntry(Codes({{'a', 9}, {'b', 9}}).substr(0, 2), 1, 2).output, "a");
  // A flipped byte in a long stream.
  const std::string text = TextData(60000, 9);
  std::string shrunk = ShrinkEncode(text);
  shrunk[shrunk.size() / 2] = static_cast<char>(shrunk[shrunk.size() / 2] ^ 0xFF);
  const TDecoded flipped = DecodeEntry(shrunk, 1, 60000);
  EXPECT_NE(flipped.crc, Crc32(text));
}

// --- Unreduce -----------------------------------------------------------------

// No follower sets: 256 counts of 0, then every byte as 8 plain bits.
std::string PlainReduced(const std::string& bytes) {
  TBitWriter w;
  for (int i = 0; i < 256; ++i) w.Bits(0, 6);
  for (unsigned char b : bytes) w.Bits(b, 8);
  return w.Bytes();
}

TEST(UnreduceEdgeCases, DleFollowedByZeroIsOneDleByte) {
  for (std::uint16_t method = 2; method <= 5; ++method)
    EXPECT_EQ(DecodeEntry(PlainReduced(std::string("a\x90\x00"
                                                   "b",
                                                   4)),
                          method, 3)
                  .output,
              "a\x90"
              "b");
}

TEST(UnreduceEdgeCases, Factor1LengthEscapeAndDistance512BeforeTheFirstByte) {
  TLegacyDecoder decoder;
  const std::string noise = RandomData(20000, 3);
  ASSERT_EQ(decoder.Decode(ReduceEncode(noise, 1), 2, 0, 20000).output, noise);
  // DLE, V = 0xFF (length bits 0x7F: one more length byte; distance bit 1), 255, 0xFF:
  // 0x7F + 255 + 3 = 385 bytes from 256 + 255 + 1 = 512 back, all before the start.
  const TDecoded got = decoder.Decode(PlainReduced(std::string("x\x90\xFF\xFF\xFF", 5)), 2, 0, 386);
  EXPECT_EQ(got.output, "x" + std::string(385, '\0'));
}

TEST(UnreduceEdgeCases, Factor4ReachesDistance4096) {
  const std::string first = TextData(4096, 8);
  std::string plain;
  for (char c : first) {
    plain.push_back(c);
    if (c == '\x90') plain.push_back('\0');
  }
  // DLE, V = 0xF0 (distance bits 15, length 0 + 3), 0xFF: 15 * 256 + 255 + 1 = 4096.
  plain += std::string("\x90\xF0\xFF", 3);
  const TDecoded got = DecodeEntry(PlainReduced(plain), 5, 4099);
  EXPECT_EQ(got.output, first + first.substr(0, 3));
}

TEST(UnreduceEdgeCases, SizeZeroAndCutDataEndCleanly) {
  const std::string text = TextData(30000, 4);
  const std::string reduced = ReduceEncode(text, 2);
  EXPECT_EQ(DecodeEntry(reduced, 3, 0).output, "");
  const TDecoded cut = DecodeEntry(reduced.substr(0, reduced.size() / 2), 3, 30000);
  EXPECT_LE(cut.output.size(), 30000u);
  EXPECT_NE(cut.crc, Crc32(text));
}

// Data that runs out long before a huge declared size: decoding stops where the
// real bits end instead of writing made-up bytes up to the size.
TEST(LegacyDamagedInput, DataRunningOutStopsTheEntry) {
  const std::string text = TextData(30000, 5);
  const std::uint32_t huge = 0x29FFFFFF;  // about 700 MB declared
  const TDecoded reduced = DecodeEntry(ReduceEncode(text, 2).substr(0, 2000), 3, huge);
  EXPECT_LT(reduced.output.size(), 100000u);
  const TDecoded exploded = DecodeEntry(ImplodeEncode(text).substr(0, 2000), 6, huge);
  EXPECT_LT(exploded.output.size(), 100000u);
  // An entry whose data ends exactly where its stream ends is not touched.
  EXPECT_EQ(DecodeEntry(ReduceEncode(text, 2), 3, 30000).output, text);
  EXPECT_EQ(DecodeEntry(ImplodeEncode(text), 6, 30000).output, text);
}

// --- All three over noise -------------------------------------------------------

TEST(LegacyDamagedInput, RandomBytesNeverPassTheDeclaredSize) {
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    const std::string noise = RandomData(seed * 37 % 3000, seed);
    for (std::uint16_t method : {1, 2, 3, 4, 5, 6})
      for (std::uint16_t flags : {0, 2, 4, 6}) {
        if (method != 6 && flags != 0) continue;
        for (std::uint32_t size : {0u, 1u, 5000u, 70000u}) {
          const TDecoded got = DecodeEntry(noise, method, size, flags);
          EXPECT_LE(got.output.size(), size) << method << " " << seed;
        }
      }
  }
}

}  // namespace
}  // namespace legacytest
