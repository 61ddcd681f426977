// Inflate over crafted streams, one per rule of the format's edge cases. A failed
// block stops inflate without flushing anything, so "nothing written" marks a
// stream rejected, and the bytes of the good blocks before it are not written
// either.

#include <gtest/gtest.h>

#include "decode_test_support.h"
#include "unzip/decode/crc32.h"

namespace {
using namespace decodetest;

std::uint32_t Crc(const std::string& s) { return ~kestrel::UpdateCrc(0xFFFFFFFFu, s.data(), s.size()); }

// A non-final fixed block holding "ab".
void FixedAb(TBitWriter& w) {
  w.Bits(0, 1);
  w.Bits(1, 2);
  w.FixedLiteral('a');
  w.FixedLiteral('b');
  w.FixedLiteral(256);
}

// A final fixed block holding one literal.
void FinalFixedLiteral(TBitWriter& w, unsigned literal) {
  w.Bits(1, 1);
  w.Bits(1, 2);
  w.FixedLiteral(literal);
  w.FixedLiteral(256);
}

TDecoded Inflated(const TBitWriter& w, std::uint32_t size = 1000000) { return DecodeData(w.Bytes(), 8, size); }

TEST(InflateStoredBlocks, EmptyStoredBlockProducesNothingAndDecodingGoesOn) {
  TBitWriter w;
  FixedAb(w);
  w.Bits(0, 1);  // stored, not last
  w.Bits(0, 2);
  w.Align(1);  // the bits skipped to the byte boundary are ignored, whatever they hold
  w.Bits(0x0000, 16);
  w.Bits(0xFFFF, 16);
  FinalFixedLiteral(w, 'c');
  EXPECT_EQ(Inflated(w).output, "abc");
}

TEST(InflateStoredBlocks, LengthNotMatchingItsComplementFails) {
  TBitWriter w;
  FixedAb(w);
  w.Bits(1, 1);
  w.Bits(0, 2);
  w.Align();
  w.Bits(3, 16);
  w.Bits(0xFFFB, 16);  // not ~3
  w.Byte('x');
  w.Byte('y');
  w.Byte('z');
  EXPECT_EQ(Inflated(w).output, "");
}

// The first 32,768 bytes leave as soon as the window is full; the rest at the end.
TEST(InflateStoredBlocks, StoredFirstBlockOf65535BytesCrossesTheWindowOnce) {
  const std::string data = RandomData(65535, 31);
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(0, 2);
  w.Align();
  w.Bits(65535, 16);
  w.Bits(0, 16);
  std::string stream = w.Bytes() + data;
  const TDecoded d = DecodeData(stream, 8, 65535);
  EXPECT_TRUE(d.output == data);
  EXPECT_EQ(d.writes, (std::vector<std::int32_t>{32768, 32767}));
}

TEST(InflateFixedBlocks, MatchOf258AtDistance1RepeatsOneByte) {
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(1, 2);
  w.FixedLiteral('q');
  w.FixedLiteral(285);  // length 258, no extra bits
  w.FixedDistance(0);   // distance 1
  w.FixedLiteral(256);
  EXPECT_EQ(Inflated(w).output, std::string(259, 'q'));
}

TEST(InflateFixedBlocks, LengthCodes286And287AreInvalid) {
  for (unsigned code : {286u, 287u}) {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedLiteral('a');
    w.FixedLiteral(code);
    w.FixedDistance(0);
    w.FixedLiteral(256);
    EXPECT_EQ(Inflated(w).output, "") << code;
  }
}

TEST(InflateFixedBlocks, DistanceCodes30And31AreInvalid) {
  for (unsigned code : {30u, 31u}) {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedLiteral('a');
    w.FixedLiteral(257);
    w.FixedDistance(code);
    w.FixedLiteral(256);
    EXPECT_EQ(Inflated(w).output, "") << code;
  }
}

// Deflate64: length code 285 is 3 plus 16 extra bits, and distance codes 30 and 31
// reach back past 32 KiB, to 65,536 at most.
TEST(InflateFixedBlocks, Deflate64LongestMatchAndFarDistances) {
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(1, 2);
  w.FixedLiteral('a');
  w.FixedLiteral('b');
  w.FixedLiteral(285);
  w.Bits(65535, 16);   // 65,538
  w.FixedDistance(1);  // 2
  w.FixedLiteral('c');
  w.FixedLiteral(257);  // 3
  w.FixedDistance(31);
  w.Bits(16383, 14);  // 65,536
  w.FixedLiteral(257);
  w.FixedDistance(30);
  w.Bits(0, 14);  // 32,769
  w.FixedLiteral(256);
  std::string want = "ab";
  auto copy = [&want](std::size_t length, std::size_t distance) {
    for (std::size_t i = 0; i < length; ++i) want += want[want.size() - distance];
  };
  copy(65538, 2);
  want += 'c';
  copy(3, 65536);
  copy(3, 32769);
  const TDecoded d = DecodeData(w.Bytes(), 9, static_cast<std::uint32_t>(want.size()));
  EXPECT_TRUE(d.ok && d.output == want && d.crc == Crc(want));
}

TEST(InflateFixedBlocks, BlockType3Fails) {
  TBitWriter w;
  FixedAb(w);
  w.Bits(1, 1);
  w.Bits(3, 2);
  w.Bits(0, 16);
  EXPECT_EQ(Inflated(w).output, "");
}

// 65,536 bytes: the output buffer is written exactly twice while decoding, and the
// final flush finds it empty.
TEST(InflateFixedBlocks, Output65536BytesIsWrittenInTwoChunks) {
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(1, 2);
  w.FixedLiteral('z');
  for (int i = 0; i < 254; ++i) {  // 254 matches of 258 = 65,532
    w.FixedLiteral(285);
    w.FixedDistance(0);
  }
  w.FixedLiteral(257);  // and 3 more
  w.FixedDistance(0);
  w.FixedLiteral(256);
  TTestHost host("");
  const TDecoded d = DecodeData(w.Bytes(), 8, 65536, &host);
  EXPECT_EQ(d.output, std::string(65536, 'z'));
  EXPECT_EQ(d.writes, (std::vector<std::int32_t>{32768, 32768}));
  EXPECT_EQ(host.filePercents, (std::vector<std::int32_t>{50, 100}));
}

// Dynamic blocks. Literal/length lengths list 257+ symbols; distance lengths 1+.
std::vector<int> LiteralLengths(std::initializer_list<std::pair<int, int>> symbolLengths, std::size_t count = 257) {
  std::vector<int> l(count, 0);
  for (auto [s, len] : symbolLengths) l[static_cast<std::size_t>(s)] = len;
  return l;
}

TEST(InflateDynamicBlocks, DecodesWithItsOwnCodes) {
  // 'a' 1 bit, 'b' 2 bits, end 3, length 257 3 bits; distance: one code of 1 bit.
  auto lit = LiteralLengths({{'a', 1}, {'b', 2}, {256, 3}, {257, 3}}, 258);
  std::vector<int> dist = {1};
  const auto lc = CanonicalCodes(lit);
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  DynamicHeader(w, lit, dist);
  w.Code(lc['a'], 1);
  w.Code(lc['b'], 2);
  w.Code(lc[257], 3);  // length 3
  w.Code(0, 1);        // distance 1
  w.Code(lc[256], 3);
  EXPECT_EQ(Inflated(w).output, "abbbb");
}

TEST(InflateDynamicBlocks, TooManyDeclaredCodesFail) {
  for (auto [nl, nd] : {std::pair{287, 1}, std::pair{257, 31}}) {
    TBitWriter w;
    FixedAb(w);
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(static_cast<std::uint32_t>(nl - 257), 5);
    w.Bits(static_cast<std::uint32_t>(nd - 1), 5);
    w.Bits(15, 4);
    for (int i = 0; i < 19; ++i) w.Bits(4, 3);
    w.Bits(0, 32);
    EXPECT_EQ(Inflated(w).output, "") << nl << " " << nd;
  }
}

TEST(InflateDynamicBlocks, SingleCodeOfLength1IsAcceptedTwoCodesOfLength2AreNot) {
  {
    TBitWriter w;
    FixedAb(w);
    w.Bits(0, 1);
    w.Bits(2, 2);
    DynamicHeader(w, LiteralLengths({{256, 1}}), {0});
    w.Code(0, 1);  // end of block
    FinalFixedLiteral(w, 'c');
    EXPECT_EQ(Inflated(w).output, "abc");
  }
  {
    TBitWriter w;
    FixedAb(w);
    w.Bits(0, 1);
    w.Bits(2, 2);
    DynamicHeader(w, LiteralLengths({{'x', 2}, {256, 2}}), {0});
    w.Code(1, 2);
    FinalFixedLiteral(w, 'c');
    EXPECT_EQ(Inflated(w).output, "");
  }
}

TEST(InflateDynamicBlocks, LiteralOnlyBlockFailsAtItsFirstLengthCode) {
  // One distance code of length 0: no distance codes at all.
  auto lit = LiteralLengths({{'a', 2}, {256, 2}, {257, 1}}, 258);
  const auto lc = CanonicalCodes(lit);
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    DynamicHeader(w, lit, {0});
    w.Code(lc['a'], 2);
    w.Code(lc['a'], 2);
    w.Code(lc[256], 2);
    EXPECT_EQ(Inflated(w).output, "aa");
  }
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    DynamicHeader(w, lit, {0});
    w.Code(lc['a'], 2);
    w.Code(lc[257], 1);
    w.Code(0, 8);
    w.Code(lc[256], 2);
    EXPECT_EQ(Inflated(w).output, "");
  }
}

TEST(InflateDynamicBlocks, IncompleteDistanceCodeFails) {
  auto lit = LiteralLengths({{'a', 1}, {256, 1}});
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  DynamicHeader(w, lit, {2, 2});
  w.Code(0, 1);
  w.Code(1, 1);
  EXPECT_EQ(Inflated(w).output, "");
}

// A first code-length symbol 16 repeats the previous length, which starts at 0.
TEST(InflateDynamicBlocks, FirstRepeatSymbolRepeatsLengthZero) {
  // Code-length code: 16 one bit ("0"), 0 and 1 two bits ("10", "11").
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  w.Bits(0, 5);   // 257 literal/length lengths
  w.Bits(0, 5);   // 1 distance length
  w.Bits(14, 4);  // 18 code-length lengths, in the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1
  const int order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (int sym : order) w.Bits(sym == 16 ? 1 : (sym == 0 || sym == 1) ? 2 : 0, 3);
  auto sixZeros = [&w](int times) {
    for (int i = 0; i < times; ++i) {
      w.Code(0, 1);  // 16
      w.Bits(3, 2);  // 3 + 3 repeats
    }
  };
  sixZeros(16);     // symbols 0-95, starting with a 16
  w.Code(0b10, 2);  // 96: 0
  w.Code(0b11, 2);  // 97 'a': 1
  w.Code(0b10, 2);  // 98: 0
  sixZeros(26);     // 99-254
  w.Code(0b10, 2);  // 255: 0
  w.Code(0b11, 2);  // 256: 1
  w.Code(0b10, 2);  // distance 0: 0 (no distance codes)
  w.Code(0, 1);     // 'a'
  w.Code(0, 1);     // 'a'
  w.Code(1, 1);     // end of block
  EXPECT_EQ(Inflated(w).output, "aa");
}

TEST(InflateDynamicBlocks, RepeatPastTheDeclaredLengthsFails) {
  // Code-length code: 0 and 18 with one bit each.
  TBitWriter w;
  FixedAb(w);
  w.Bits(1, 1);
  w.Bits(2, 2);
  w.Bits(0, 5);
  w.Bits(0, 5);
  w.Bits(0, 4);  // 4 lengths: 16 17 18 0
  w.Bits(0, 3);
  w.Bits(0, 3);
  w.Bits(1, 3);  // 18: 1 bit
  w.Bits(1, 3);  // 0: 1 bit   -> codes: 0 -> "0", 18 -> "1"
  w.Code(1, 1);
  w.Bits(127, 7);  // 18: 138 zeros
  w.Code(1, 1);
  w.Bits(127, 7);  // 138 more: 276 > 258 declared lengths
  EXPECT_EQ(Inflated(w).output, "");
}

// After its data ran out, inflate reads the last byte again and again. Whatever
// that byte and wherever the block boundary falls in it, decoding ends: through an
// invalid code, the output-size guard (100 bytes declared here, so productive
// garbage meets it at the first flush), or, for a block that would start with no
// real bit left, at once.
TEST(InflateDamagedStreams, RepeatedLastByteAlwaysEnds) {
  for (int last = 0; last < 256; ++last)
    for (int phase = 0; phase < 8; ++phase)
      for (std::uint32_t lead : {0u, 0xFFu, 0x55u, 0xAAu}) {
        TBitWriter w;
        w.Bits(lead, phase);
        w.Align();
        const TDecoded d = DecodeData(w.Bytes() + static_cast<char>(last), 8, 100);
        ASSERT_LE(d.output.size(), 100u) << last << " " << phase;
      }
}

// The same streams with a huge declared size: once a symbol would take bits of the
// repeated last byte, the entry stops, so a few bytes never turn into megabytes of
// made-up copies. At most the one symbol the real bits hold comes out.
TEST(InflateDamagedStreams, DataRunningOutInsideABlockStopsTheEntry) {
  for (int last = 0; last < 256; ++last)
    for (int phase = 0; phase < 8; ++phase) {
      TBitWriter w;
      w.Bits(0xAA, phase);
      w.Align();
      const TDecoded d = DecodeData(w.Bytes() + static_cast<char>(last), 8, 16u << 20);
      ASSERT_LE(d.output.size(), 600u) << last << " " << phase;
    }
}

// A stream that ends exactly after a complete non-final block (3 header bits, six
// 9-bit literals and the 7-bit end: 64 bits). A block after it would be made of the
// repeated last byte only, so it is not decoded at all: the entry writes nothing,
// however much garbage that byte would decode to.
TEST(InflateDamagedStreams, NoBlockStartsAfterTheDataRanOut) {
  for (unsigned lastLiteral : {200u, 201u}) {  // the last byte is then 0x00 or 0x01
    TBitWriter w;
    w.Bits(0, 1);
    w.Bits(1, 2);
    for (unsigned literal : {150u, 160u, 170u, 180u, 190u, lastLiteral}) w.FixedLiteral(literal);
    w.FixedLiteral(256);
    ASSERT_EQ(w.Bytes().size(), 8u);
    const TDecoded d = DecodeData(w.Bytes(), 8, 50000000);
    EXPECT_EQ(d.output.size(), 0u) << lastLiteral;
  }
}

// Streams cut short at every length: never a crash, and a short output.
TEST(InflateDamagedStreams, TruncatedStreamsFailCleanly) {
  const std::string text = TextData(50000, 77);
  const std::string packed = PythonDeflate(text, 6);
  for (std::size_t cut = 0; cut < packed.size(); cut += 97) {
    const TDecoded d = DecodeData(packed.substr(0, cut), 8, 50000);
    EXPECT_LE(d.output.size(), text.size());
    EXPECT_NE(d.crc, Crc(text));
  }
}

}  // namespace
