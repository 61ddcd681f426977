// The decoding frame: stored entries chunk by chunk, the output-size guard, the
// premature end of the archive, unknown methods, progress events, cancellation and
// short writes; the circular window's match copy.

#include <gtest/gtest.h>

#include <cstring>

#include "decode_test_support.h"
#include "unzip/decode/crc32.h"
#include "unzip/decode/window_copy.h"

namespace {
using namespace decodetest;

std::uint32_t Crc(const std::string& s) { return ~kestrel::UpdateCrc(0xFFFFFFFFu, s.data(), s.size()); }

TEST(DecodeStoredEntries, ChunkSizes) {
  struct Case {
    std::size_t size;
    std::vector<std::int32_t> writes;
  };
  const Case cases[] = {
      {0, {}},  // nothing written, no event, CRC 0
      {1, {1}},
      {32768, {32768}},     // exactly one chunk
      {32769, {32768, 1}},  // one more byte: a second chunk
      {100000, {32768, 32768, 32768, 1696}},
  };
  for (const auto& c : cases) {
    const std::string data = RandomData(c.size, static_cast<std::uint32_t>(c.size));
    TTestHost host("");
    const TDecoded d = DecodeData(data, 0, static_cast<std::uint32_t>(c.size), &host);
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.output == data) << c.size;
    EXPECT_EQ(d.writes, c.writes) << c.size;
    EXPECT_EQ(d.crc, Crc(data)) << c.size;
    if (c.size == 0)
      EXPECT_TRUE(host.filePercents.empty());
    else
      EXPECT_EQ(host.filePercents.back(), 100);
    EXPECT_EQ(host.pumps, static_cast<int>(c.writes.size()));  // the pump runs once per chunk
  }
}

TEST(DecodeStoredEntries, EmptyEntryHasCrcZero) {
  for (std::uint16_t method : {0, 8}) {
    TTestHost host("");
    const TDecoded d = DecodeData("", method, 0, &host);
    EXPECT_EQ(d.output, "");
    EXPECT_EQ(d.writes.size(), 0u);
    EXPECT_TRUE(host.filePercents.empty());
    EXPECT_EQ(d.crc, 0u) << method;
  }
}

// Compressed size above the uncompressed size: the chunk that passes the declared
// size is refused, the ones before it stay written, and the entry reports false.
TEST(DecodeStoredEntries, SizeGuardStopsAtTheChunkThatPassesTheSize) {
  const std::string data = RandomData(80000, 1);
  const TDecoded d = DecodeData(data, 0, 40000);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.output, data.substr(0, 32768));
}

// Inside inflate the guard fails the entry without an exception: nothing more is
// written, and the result says why. A declared size of whole chunks lets
// output decoded in place run past its room into the workspace before the guard.
TEST(DecodeStoredEntries, SizeGuardInsideInflateFailsOnlyTheEntry) {
  const std::string text = TextData(100000, 2);
  for (std::uint32_t declared : {50000u, 65536u}) {
    const TDecoded d = DecodeData(PythonDeflate(text, 6), 8, declared);
    EXPECT_EQ(d.result, kestrel::drTooLarge);
    EXPECT_EQ(d.output, text.substr(0, declared / 32768 * 32768));
    EXPECT_NE(d.crc, Crc(text));
  }
}

TEST(DecodeStoredEntries, PrematureEndEndsTheRunForStoredEntries) {
  TTestHost host(WithLocalHeader(RandomData(1000, 3)));
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.CompressedSize = 5000;  // past the end of the archive
  entry.UncompressedSize = 5000;
  TMemoryStream out;
  try {
    DecodeBehindHeader(state, entry, out);
    FAIL() << "no exception";
  } catch (const kestrel::EFatalUnzipError& e) {
    EXPECT_STREQ(e.what(), "Premature end of file reached");
  }
}

TEST(DecodeStoredEntries, PrematureEndFailsOnlyADeflatedEntry) {
  const std::string text = TextData(200000, 5);
  const std::string packed = PythonDeflate(text, 6);
  TTestHost host(WithLocalHeader(packed.substr(0, packed.size() / 2)));
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = 8;
  entry.CompressedSize = static_cast<std::uint32_t>(packed.size());
  entry.UncompressedSize = static_cast<std::uint32_t>(text.size());
  TMemoryStream out;
  EXPECT_EQ(DecodeBehindHeader(state, entry, out), kestrel::drBadData);
  EXPECT_EQ(state.FailureDetail, "the data ends inside the stream");
  EXPECT_NE(state.Crc(), Crc(text));
}

// A short write ends the run, stored or deflated: the bytes are lost, not damaged.
TEST(DecodeStoredEntries, ShortWriteIsCantWrite) {
  const std::string text = TextData(50000, 4);
  for (std::uint16_t method : {0, 8}) {
    const std::string data = method == 0 ? text : PythonDeflate(text, 6);
    TTestHost host(WithLocalHeader(data));
    kestrel::TDecodeState state(host);
    kestrel::TDecodeEntry entry;
    entry.CompressionMethod = method;
    entry.CompressedSize = static_cast<std::uint32_t>(data.size());
    entry.UncompressedSize = 50000;
    TMemoryStream out;
    out.writeLimit = 40000;
    EXPECT_THROW(DecodeBehindHeader(state, entry, out), kestrel::ECantWriteUCF) << method;
  }
}

TEST(DecodeStoredEntries, CancelBeforeAChunkEndsTheRun) {
  for (std::uint16_t method : {0, 8}) {
    const std::string data = RandomData(100000, 6);
    const std::string entryData = method == 0 ? data : PythonDeflate(data, 1);
    TTestHost host(WithLocalHeader(entryData));
    host.cancelAfterPumps = 1;  // the second chunk sees the request
    kestrel::TDecodeState state(host);
    kestrel::TDecodeEntry entry;
    entry.CompressionMethod = method;
    entry.CompressedSize = static_cast<std::uint32_t>(entryData.size());
    entry.UncompressedSize = 100000;
    TMemoryStream out;
    EXPECT_THROW(DecodeBehindHeader(state, entry, out), kestrel::EUserCanceled) << method;
  }
}

TEST(DecodeUnknownMethods, ShowTheNoticeAndWriteNothing) {
  for (std::uint16_t method : {7, 10, 98, 99}) {
    TTestHost host("");
    const TDecoded d = DecodeData("some compressed bytes", method, 100, &host);
    EXPECT_EQ(d.result, kestrel::drUnsupported);
    EXPECT_EQ(d.output, "");
    EXPECT_EQ(d.crc, 0u);  // passes only an entry whose stored CRC is 0
    EXPECT_EQ(host.errors, (std::vector<std::string>{"Zip Error: Unknown Compression Method"})) << method;
  }
}

// Both percentages, rounded to nearest with ties to even, and BtsDone advanced
// only through the total event.
TEST(DecodeProgressEvents, FileAndTotalPercent) {
  const std::string data = RandomData(32768 * 3 + 16384, 9);  // 3.5 chunks
  TTestHost host("");
  host.total = 4 * static_cast<std::int64_t>(data.size());
  const TDecoded d = DecodeData(data, 0, static_cast<std::uint32_t>(data.size()), &host);
  ASSERT_TRUE(d.ok);
  // 32768/114688 = 28.57 -> 29; 57.14 -> 57; 85.71 -> 86; 100.
  EXPECT_EQ(host.filePercents, (std::vector<std::int32_t>{29, 57, 86, 100}));
  // A quarter of those: 7.14 -> 7, 14.29 -> 14, 21.43 -> 21, 25.
  EXPECT_EQ(host.totalPercents, (std::vector<std::int32_t>{7, 14, 21, 25}));
  EXPECT_EQ(host.btsDone, static_cast<std::int64_t>(data.size()));
}

TEST(DecodeProgressEvents, TiesRoundToEven) {
  // 32768 of 65536*... : choose sizes where the percent is exactly x.5.
  // 1 chunk of 32768 in 65536*100/... : 32768 * 100 / 262144 = 12.5 -> 12.
  const std::string data = RandomData(32768, 10);
  TTestHost host("");
  host.total = 262144;
  DecodeData(data, 0, 32768, &host);
  EXPECT_EQ(host.totalPercents, (std::vector<std::int32_t>{12}));
  TTestHost host2("");
  host2.total = 32768 * 100 / 37.5;  // 37.5 -> 38 (ties to even)
  DecodeData(data, 0, 32768, &host2);
  EXPECT_EQ(host2.totalPercents, (std::vector<std::int32_t>{38}));
}

// A stored entry of 4 GiB less one byte, the largest a size field holds: every
// count and position of the frame passes 2 GiB on the way. The archive is made up
// as it is read (a 30-byte local header, then the bytes 0, 1, ..., 255 over and
// over), and the output only counts.
TEST(DecodeStoredEntries, EntryOfFourGiBLessOneByte) {
  class TPattern : public kestrel::TStream {
   public:
    std::int32_t Read(void* buffer, std::int32_t count) override {
      const auto n = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(count, size - pos)));
      static const std::string cycle = [] {
        std::string bytes(65536 + 256, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
        return bytes;
      }();
      // The frame reads only behind the header, at most 32 KiB at a time.
      std::memcpy(buffer, cycle.data() + ((pos - 30) & 255), static_cast<std::size_t>(n));
      pos += n;
      return n;
    }
    std::int32_t Write(const void*, std::int32_t count) override {
      pos += count;
      return count;
    }
    std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
      return pos = origin == kestrel::soFromBeginning ? offset
                   : origin == kestrel::soFromCurrent ? pos + offset
                                                      : size + offset;
    }
    std::int64_t pos = 0, size = 0;
  };
  class THost : public TTestHost {
   public:
    THost() : TTestHost("") { archive.size = 30 + 0xFFFFFFFFll; }
    kestrel::TStream& ArchiveStream() override { return archive; }
    TPattern archive;
  } host;
  host.total = 0xFFFFFFFFll;
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = 0;
  entry.CompressedSize = entry.UncompressedSize = 0xFFFFFFFFu;
  TPattern out;
  ASSERT_EQ(DecodeBehindHeader(state, entry, out), kestrel::drDecoded);
  EXPECT_EQ(out.pos, 0xFFFFFFFFll);
  EXPECT_EQ(state.Crc(), 0xD796DC51u);  // Python's zlib.crc32 of the same bytes
  EXPECT_EQ(host.btsDone, 0xFFFFFFFFll);
  EXPECT_EQ(host.filePercents.back(), 100);
  EXPECT_EQ(host.filePercents[65535], 50);  // 2 GiB of 4
}

// The shared code reader of the legacy decoders: least significant bit first,
// and the exhausted flag only when a refill found no byte at all.
TEST(DecodeCodeReader, ReadsCodesAndFlagsExhaustion) {
  TTestHost host(WithLocalHeader(std::string("\xB5\x03", 2)));
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = 99;  // decodes nothing: the reader is then driven by hand
  entry.CompressedSize = 2;
  TMemoryStream out;
  DecodeBehindHeader(state, entry, out);
  state.Host.ArchiveStream().Seek(30, kestrel::soFromBeginning);
  state.CompressedLeft = 2;
  state.CompressedSize = 2;
  EXPECT_EQ(state.ReadCodeBits(9), 0x1B5);  // 0xB5 then the low bit of 0x03
  EXPECT_EQ(state.InputExhausted, 0);
  EXPECT_EQ(state.ReadCodeBits(7), 0x01);
  state.ReadCodeBits(9);
  EXPECT_EQ(state.InputExhausted, -1);
}

}  // namespace

namespace {

// The circular window's match copy against the plain rule: each byte is the one
// `distance` bytes back in the whole output, or a zero before the first byte. A
// window of 16 bytes makes sources wrap, matches straddle the window's end and
// overlap their destination, on the first pass and later ones.
TEST(CircularWindowCopy, EveryByteIsTheOneDistanceBack) {
  constexpr std::uint32_t WindowBytes = 16;
  std::uint8_t window[WindowBytes];
  std::memset(window, 0xEE, WindowBytes);  // an earlier entry's leftovers: never output
  std::uint32_t pos = 0;
  bool firstPass = true;
  std::string flushed, expected;
  auto full = [&] {
    flushed.append(reinterpret_cast<const char*>(window), WindowBytes);
    pos = 0;
    firstPass = false;
  };
  std::uint32_t seed = 7;
  auto next = [&](std::uint32_t n) { return (seed = seed * 1103515245u + 12345u) / 65536u % n; };
  for (int i = 0; i < 400; ++i) {
    if (next(3) == 0) {  // a literal
      const auto byte = static_cast<std::uint8_t>('a' + next(26));
      expected += static_cast<char>(byte);
      window[pos++] = byte;
      if (pos == WindowBytes) full();
      continue;
    }
    const std::uint32_t distance = 1 + next(WindowBytes), n = 1 + next(40);
    for (std::uint32_t k = 0; k < n; ++k)
      expected += expected.size() >= distance ? expected[expected.size() - distance] : '\0';
    kestrel::CopyWindowMatch(window, WindowBytes, pos, firstPass, pos - distance, n, full);
    ASSERT_EQ(flushed + std::string(reinterpret_cast<const char*>(window), pos), expected) << "match " << i;
  }
}

}  // namespace
