// Varied data through the test encoders and back through the decoders, for every
// variant of every legacy method: empty, one byte, long runs, random bytes, text
// and binary larger than every window, data that starts with zeros so that the
// encoders copy from before the first byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "legacy_encoders.h"
#include "legacy_support.h"

namespace legacytest {
namespace {

struct TSample {
  const char* name;
  std::string data;
};

const std::vector<TSample>& Samples() {
  static const std::vector<TSample> samples = {
      {"empty", ""},
      {"one byte", "A"},
      {"one DLE", "\x90"},
      {"DLE pairs", std::string(50, '\x90') + "x\x90\x90y" + std::string(3, '\x90')},
      {"run", std::string(70000, 'a')},
      {"abc",
       [] {
         std::string s;
         while (s.size() < 50000) s += "abc";
         return s;
       }()},
      {"random", RandomData(40000, 11)},
      {"text past the windows", TextData(120000, 12)},
      {"binary", BinaryData(40000, 13)},
      {"all bytes",
       [] {
         std::string s;
         for (int r = 0; r < 64; ++r)
           for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
         return s;
       }()},
      {"repeats at the largest distances",
       [] {
         const std::string a = RandomData(4096, 14), b = RandomData(8192, 15);
         return a + a + a + b + b + RandomData(512, 16) + RandomData(512, 16);
       }()},
      {"zeros first", std::string(5000, '\0') + TextData(3000, 17)},
  };
  return samples;
}

void ExpectRoundTrip(const std::string& compressed, std::uint16_t method, std::uint16_t flags,
                     const std::string& original, const std::string& what) {
  const TDecoded got = DecodeEntry(compressed, method, static_cast<std::uint32_t>(original.size()), flags);
  EXPECT_FALSE(got.sizeGuard) << what;
  EXPECT_EQ(got.crc, Crc32(original)) << what;
  EXPECT_TRUE(got.output == original) << what << ": " << got.output.size() << " of " << original.size() << " bytes";
}

TEST(ShrinkRoundTrips, EveryVariant) {
  const std::vector<std::pair<const char*, TShrinkOptions>> variants = {
      {"clear when full", {}},
      {"never clear", {false, 0, false}},
      {"clear every 700 codes", {true, 700, false}},
      {"clear every 37 codes, eager size", {true, 37, true}},
      {"eager size", {true, 0, true}},
  };
  for (const auto& [variant, options] : variants)
    for (const auto& sample : Samples())
      ExpectRoundTrip(ShrinkEncode(sample.data, options), 1, 0, sample.data,
                      std::string(variant) + " / " + sample.name);
}

TEST(ShrinkRoundTrips, LongTextFillsAndClearsTheTableRepeatedly) {
  const std::string text = TextData(1 << 20, 21) + RandomData(100000, 22);
  ExpectRoundTrip(ShrinkEncode(text), 1, 0, text, "1 MiB");
}

TEST(ReduceRoundTrips, EveryFactor) {
  for (int factor = 1; factor <= 4; ++factor)
    for (int style = 0; style < 3; ++style)
      for (const auto& sample : Samples()) {
        TReduceOptions o;
        o.CopyBeforeStart = style == 1;
        o.EmptyFollowerSets = style == 2;
        const auto method = static_cast<std::uint16_t>(factor + 1);
        ExpectRoundTrip(ReduceEncode(sample.data, factor, o), method, 0, sample.data,
                        "factor " + std::to_string(factor) + " style " + std::to_string(style) + " / " + sample.name);
      }
}

TEST(ImplodeRoundTrips, EveryTreeAndDictionaryVariant) {
  for (int flags = 0; flags < 4; ++flags)
    for (int style = 0; style < 3; ++style)
      for (const auto& sample : Samples()) {
        TImplodeOptions o;
        o.Dictionary8K = (flags & 1) != 0;
        o.ThreeTrees = (flags & 2) != 0;
        o.FlatTrees = style == 1;
        o.CopyBeforeStart = style == 2;
        ExpectRoundTrip(
            ImplodeEncode(sample.data, o), 6, ImplodeFlags(o), sample.data,
            "flags " + std::to_string(ImplodeFlags(o)) + " style " + std::to_string(style) + " / " + sample.name);
      }
}

// More than 200,000 compressed bytes: distances are looked up 8 bits at a time.
TEST(ImplodeRoundTrips, EntryLongerThan200000CompressedBytes) {
  const std::string data = RandomData(150000, 31) + TextData(200000, 32) + RandomData(100000, 33);
  for (bool threeTrees : {false, true}) {
    TImplodeOptions o;
    o.Dictionary8K = true;
    o.ThreeTrees = threeTrees;
    const std::string compressed = ImplodeEncode(data, o);
    ASSERT_GT(compressed.size(), 200000u);
    ExpectRoundTrip(compressed, 6, ImplodeFlags(o), data, threeTrees ? "three trees" : "two trees");
  }
}

// One run decodes entry after entry in the same window: copies from before the
// first byte give zeros, never the previous entry's bytes, and each method sets up
// its own tables again.
TEST(LegacyRoundTrips, EntriesShareOneDecodingState) {
  const std::string noise = RandomData(40000, 41);
  const std::string zerosFirst = std::string(900, '\0') + TextData(20000, 42);
  TImplodeOptions implode;
  implode.CopyBeforeStart = true;
  TReduceOptions reduce;
  reduce.CopyBeforeStart = true;
  TLegacyDecoder decoder;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(decoder.Decode(ShrinkEncode(noise), 1, 0, 40000).output, noise);
    EXPECT_EQ(decoder.Decode(ImplodeEncode(zerosFirst, implode), 6, 0, 20900).output, zerosFirst);
    EXPECT_EQ(decoder.Decode(ReduceEncode(noise, 3), 4, 0, 40000).output, noise);
    EXPECT_EQ(decoder.Decode(ReduceEncode(zerosFirst, 4, reduce), 5, 0, 20900).output, zerosFirst);
    EXPECT_EQ(decoder.Decode(ShrinkEncode(zerosFirst), 1, 0, 20900).output, zerosFirst);
  }
}

}  // namespace
}  // namespace legacytest
