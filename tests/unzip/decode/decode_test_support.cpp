#include "decode_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "tests/support/test_support.h"

namespace decodetest {

std::string WithLocalHeader(const std::string& data) { return std::string(30, '\0') + data; }

kestrel::TDecodeResult DecodeBehindHeader(kestrel::TDecodeState& state, const kestrel::TDecodeEntry& entry,
                                          kestrel::TStream& output) {
  state.Host.ArchiveStream().Seek(30, kestrel::soFromBeginning);
  return kestrel::DecodeEntryData(state, entry, output);
}

namespace {

TDecoded DecodeWith(TTestHost& host, const std::string& data, std::uint16_t method, std::uint32_t uncompressedSize,
                    bool inPlace) {
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = method;
  entry.CompressedSize = static_cast<std::uint32_t>(data.size());
  entry.UncompressedSize = uncompressedSize;
  TMemoryStream out;
  out.inPlace = inPlace;
  TDecoded result;
  result.result = DecodeBehindHeader(state, entry, out);
  result.ok = result.result == kestrel::drDecoded;
  result.output = out.data;
  result.crc = state.Crc();
  result.writes = out.writes;
  return result;
}

}  // namespace

TDecoded DecodeData(const std::string& data, std::uint16_t method, std::uint32_t uncompressedSize, TTestHost* host) {
  TTestHost local(WithLocalHeader(data));
  TTestHost& h = host ? *host : local;
  if (host) h.archive_.data = WithLocalHeader(data);
  // Inflate decodes in place into an output that offers its memory: every deflate
  // case runs that way too, on a twin of the host, and must give the same
  // results, writes and events (or fail as well).
  TTestHost twin = h;
  TDecoded inPlace;
  bool twinFailed = false;
  const bool inflated = method == 8 || method == 9;
  if (inflated) try {
      inPlace = DecodeWith(twin, data, method, uncompressedSize, true);
    } catch (...) {
      twinFailed = true;
    }
  TDecoded result;
  try {
    result = DecodeWith(h, data, method, uncompressedSize, false);
  } catch (...) {
    EXPECT_TRUE(!inflated || twinFailed) << "decoding in place did not fail";
    throw;
  }
  if (inflated) {
    EXPECT_FALSE(twinFailed) << "decoding in place failed";
    EXPECT_EQ(inPlace.ok, result.ok);
    EXPECT_EQ(inPlace.output, result.output) << "decoded in place";
    EXPECT_EQ(inPlace.crc, result.crc);
    EXPECT_EQ(inPlace.writes, result.writes);
    EXPECT_EQ(twin.pumps, h.pumps);
    EXPECT_EQ(twin.filePercents, h.filePercents);
    EXPECT_EQ(twin.totalPercents, h.totalPercents);
    EXPECT_EQ(twin.errors, h.errors);
  }
  return result;
}

std::string PythonDeflate(const std::string& data, int level) {
  testsupport::TTempFolder folder;
  const std::string in = folder / "in", out = folder / "out";
  testsupport::WriteFile(in, data);
  const std::string script = "import zlib,sys; c=zlib.compressobj(" + std::to_string(level) +
                             ", zlib.DEFLATED, -15); d=open(sys.argv[1],'rb').read(); "
                             "open(sys.argv[2],'wb').write(c.compress(d)+c.flush())";
  const auto run = testsupport::RunProgram("python3", {"-c", script, in, out});
  EXPECT_EQ(run.Status, 0) << run.Err;
  return testsupport::ReadFile(out);
}

void TBitWriter::Bits(std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) {
    acc_ |= ((value >> i) & 1u) << count_;
    if (++count_ == 8) {
      bytes_ += static_cast<char>(acc_);
      acc_ = 0;
      count_ = 0;
    }
  }
}

void TBitWriter::Code(std::uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1u, 1);
}

void TBitWriter::Align(int fill) {
  while (count_ != 0) Bits(static_cast<std::uint32_t>(fill), 1);
}

std::string TBitWriter::Bytes() const {
  std::string b = bytes_;
  if (count_ != 0) b += static_cast<char>(acc_);
  return b;
}

void TBitWriter::FixedLiteral(unsigned symbol) {
  if (symbol < 144)
    Code(0x30 + symbol, 8);
  else if (symbol < 256)
    Code(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    Code(symbol - 256, 7);
  else
    Code(0xC0 + symbol - 280, 8);
}

void DynamicHeader(TBitWriter& w, const std::vector<int>& literalLengths, const std::vector<int>& distanceLengths) {
  w.Bits(static_cast<std::uint32_t>(literalLengths.size() - 257), 5);
  w.Bits(static_cast<std::uint32_t>(distanceLengths.size() - 1), 5);
  // All 19 code-length lengths are sent (HCLEN 15): symbols 0-15 get 4 bits.
  w.Bits(15, 4);
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::vector<int> cl(19, 0);
  for (int i = 0; i < 16; ++i) cl[i] = 4;
  for (int i = 0; i < 19; ++i) w.Bits(static_cast<std::uint32_t>(cl[order[i]]), 3);
  const auto codes = CanonicalCodes(cl);
  for (int l : literalLengths) w.Code(codes[l], 4);
  for (int l : distanceLengths) w.Code(codes[l], 4);
}

namespace {
std::uint32_t U16(const std::string& s, std::size_t at) {
  return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8;
}
std::uint32_t U32(const std::string& s, std::size_t at) { return U16(s, at) | U16(s, at + 2) << 16; }
}  // namespace

std::vector<TZipEntry> ReadZipEntries(const std::string& archive) {
  std::vector<TZipEntry> entries;
  const std::size_t end = archive.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return entries;
  const std::uint32_t count = U16(archive, end + 10);
  std::size_t p = U32(archive, end + 16);
  for (std::uint32_t i = 0; i < count; ++i) {
    TZipEntry e;
    e.entry.Flags = static_cast<std::uint16_t>(U16(archive, p + 8));
    e.entry.CompressionMethod = static_cast<std::uint16_t>(U16(archive, p + 10));
    e.dosDateTime = U32(archive, p + 12);
    e.crc = U32(archive, p + 16);
    e.entry.CompressedSize = U32(archive, p + 20);
    e.entry.UncompressedSize = U32(archive, p + 24);
    const std::uint32_t nameLength = U16(archive, p + 28), extraLength = U16(archive, p + 30),
                        commentLength = U16(archive, p + 32);
    e.entry.LocalHeaderOffset = U32(archive, p + 42);
    e.name = archive.substr(p + 46, nameLength);
    e.dataOffset = e.entry.LocalHeaderOffset + 30 + U16(archive, e.entry.LocalHeaderOffset + 26) +
                   U16(archive, e.entry.LocalHeaderOffset + 28);
    entries.push_back(e);
    p += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

std::string TextData(std::size_t size, std::uint32_t seed) {
  static const char* words[] = {"the ",       "deflate ", "window ", "of ",     "thirty-two ",
                                "kilobytes ", "and ",     "a ",      "stream ", "<para>",
                                "</para>\n",  "archive ", "entry ",  "CRC ",    "0x1F "};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(size);
  while (s.size() < size) {
    const auto r = rng();
    if (r % 23 == 0)
      s += std::to_string(r % 100000);
    else
      s += words[r % 15];
  }
  s.resize(size);
  return s;
}

std::string RandomData(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

}  // namespace decodetest
