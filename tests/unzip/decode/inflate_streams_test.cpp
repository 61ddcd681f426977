// Inflate over raw deflate streams made by Python's zlib: text-like, incompressible
// and highly repetitive data, at levels 1, 6 and 9, in sizes that cross the 32 KiB
// refill and the window many times.

#include <gtest/gtest.h>

#include "decode_test_support.h"
#include "tests/support/test_support.h"
#include "unzip/decode/crc32.h"

namespace {
using namespace decodetest;

std::uint32_t Crc(const std::string& s) { return ~kestrel::UpdateCrc(0xFFFFFFFFu, s.data(), s.size()); }

void ExpectRoundTrip(const std::string& original, int level, const char* what) {
  const std::string packed = PythonDeflate(original, level);
  ASSERT_FALSE(packed.empty());
  const TDecoded d = DecodeData(packed, 8, static_cast<std::uint32_t>(original.size()));
  EXPECT_TRUE(d.ok) << what << " level " << level;
  EXPECT_EQ(d.output.size(), original.size()) << what << " level " << level;
  EXPECT_TRUE(d.output == original) << what << " level " << level;
  EXPECT_EQ(d.crc, Crc(original)) << what << " level " << level;
}

TEST(InflateZlibStreams, TextAtEveryLevel) {
  const std::string text = TextData(300000, 1);
  for (int level : {1, 6, 9}) ExpectRoundTrip(text, level, "text");
}

// Incompressible data becomes stored blocks whose bytes cross every refill.
TEST(InflateZlibStreams, RandomDataAtEveryLevel) {
  const std::string data = RandomData(200000, 2);
  for (int level : {1, 6, 9}) ExpectRoundTrip(data, level, "random");
  // Bytes of 64 values get literal codes of 6 bits, which share a slot only in the
  // literal table's wider first level.
  std::string narrow = RandomData(200000, 3);
  for (char& c : narrow) c = static_cast<char>(static_cast<unsigned char>(c) % 64);
  ExpectRoundTrip(narrow, 6, "64 values");
}

// Long runs: matches of 258 at distance 1 and far matches near 32 KiB.
TEST(InflateZlibStreams, RepetitiveData) {
  std::string data(100000, 'a');
  const std::string block = RandomData(30000, 5);
  data += block + TextData(2000, 9) + block + std::string(5000, '\0') + block;
  for (int level : {1, 9}) ExpectRoundTrip(data, level, "repetitive");
}

// A random block of 30,000 bytes over and over: nearly every match reaches back
// 30,000 bytes and is 258 long, so matches run across every 32 KiB chunk's end and
// across the end of inflate's buffer, whose last 32 KiB then move to its front.
// The output still leaves in whole chunks of 32 KiB, then the rest.
TEST(InflateZlibStreams, MatchesAcrossChunkAndBufferEnds) {
  const std::string block = RandomData(30000, 14);
  std::string data;
  for (int i = 0; i < 20; ++i) data += block;
  data += TextData(40000, 15);
  ExpectRoundTrip(data, 9, "repeated block");
  const TDecoded d = DecodeData(PythonDeflate(data, 9), 8, static_cast<std::uint32_t>(data.size()));
  std::vector<std::int32_t> chunks(data.size() / 32768, 32768);
  chunks.push_back(static_cast<std::int32_t>(data.size() % 32768));
  EXPECT_EQ(d.writes, chunks);
}

TEST(InflateZlibStreams, SmallAndEmptyInputs) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{100}, std::size_t{32768},
                        std::size_t{32769}, std::size_t{65536}})
    ExpectRoundTrip(TextData(n, 11), 6, "small");
}

// Mixed data whose compressed bytes run through several refills of the input.
TEST(InflateZlibStreams, CompressedDataCrossesSeveralRefills) {
  std::string data;
  for (int i = 0; i < 8; ++i) data += RandomData(20000, 20 + i) + TextData(30000, 40 + i);
  const std::string packed = PythonDeflate(data, 6);
  ASSERT_GT(packed.size(), 4u * 32768u);
  ExpectRoundTrip(data, 6, "mixed");
}

// A stream decoded entry after entry in the same state, as one extraction run
// does: the window keeps the previous entry's bytes, which must not matter.
TEST(InflateZlibStreams, SameStateServesEntryAfterEntry) {
  const std::string a = TextData(70000, 4), b = RandomData(40000, 8);
  const std::string pa = PythonDeflate(a, 9), pb = PythonDeflate(b, 1);
  TTestHost host(WithLocalHeader(pa) + pb);
  kestrel::TDecodeState state(host);
  for (int round = 0; round < 2; ++round) {
    kestrel::TDecodeEntry ea;
    ea.CompressionMethod = 8;
    ea.CompressedSize = static_cast<std::uint32_t>(pa.size());
    ea.UncompressedSize = static_cast<std::uint32_t>(a.size());
    TMemoryStream oa;
    oa.inPlace = round == 0;  // in place after the workspace's entries, and before them
    ASSERT_EQ(DecodeBehindHeader(state, ea, oa), kestrel::drDecoded);
    EXPECT_TRUE(oa.data == a);
    EXPECT_EQ(state.Crc(), Crc(a));
    kestrel::TDecodeEntry eb = ea;
    eb.CompressedSize = static_cast<std::uint32_t>(pb.size());
    eb.UncompressedSize = static_cast<std::uint32_t>(b.size());
    TMemoryStream ob;
    ob.inPlace = round == 1;
    host.archive_.Seek(static_cast<std::int64_t>(30 + pa.size()), kestrel::soFromBeginning);  // b's data
    ASSERT_EQ(kestrel::DecodeEntryData(state, eb, ob), kestrel::drDecoded);
    EXPECT_TRUE(ob.data == b);
    EXPECT_EQ(state.Crc(), Crc(b));
  }
}

// Deflate64 entries that 7-Zip wrote: text, matches that reach back further than
// 32 KiB (a random block three times, 90,000 bytes apart) and a long run.
TEST(InflateDeflate64, SevenZipEntries) {
  if (!testsupport::HaveCommand("7z")) GTEST_SKIP() << "7z is not installed";
  testsupport::TTempFolder folder;
  const std::string block = RandomData(40000, 21);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"far.bin", block + TextData(50000, 22) + block + std::string(200000, 'a') + block},
      {"text.txt", TextData(1200000, 23)}};
  for (const auto& [name, data] : files) testsupport::WriteFile(folder.Path() / name, data);
  testsupport::ShellIn(folder.Path(), "7z a -tzip -mm=Deflate64 -mx=9 -bd d64.zip far.bin text.txt > /dev/null");
  const std::string archive = testsupport::ReadFile(folder.Path() / "d64.zip");
  const auto entries = ReadZipEntries(archive);
  ASSERT_EQ(entries.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const kestrel::TDecodeEntry& e = entries[i].entry;
    ASSERT_EQ(e.CompressionMethod, 9) << files[i].first;
    const std::string data = archive.substr(entries[i].dataOffset, e.CompressedSize);
    const TDecoded d = DecodeData(data, 9, static_cast<std::uint32_t>(files[i].second.size()));
    EXPECT_TRUE(d.ok && d.output == files[i].second && d.crc == entries[i].crc) << files[i].first;
  }
}

}  // namespace
