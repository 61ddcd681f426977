// BufferStreamWindow: the window of TS_BufferStream and TLFNFileStream over an inner
// stream that counts its calls.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/support/test_support.h"
#include "unzip/decode_ahead.h"
#include "unzip/lfn_file_stream.h"
#include "unzip/text_output.h"

namespace kestrel {
namespace {

/// An in-memory stream that counts the calls the window makes and can refuse writes.
class TCountingStream : public TStream {
 public:
  explicit TCountingStream(std::string data = {}) : data_(std::move(data)) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    ++Reads;
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(count, data_.size() - position_));
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += static_cast<std::size_t>(n);
    return n;
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    ++Writes;
    WriteSizes.push_back(count);
    const std::int32_t n = std::min(count, Accept);
    Accept -= n;
    if (data_.size() < position_ + static_cast<std::size_t>(n)) data_.resize(position_ + static_cast<std::size_t>(n));
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(n));
    position_ += static_cast<std::size_t>(n);
    return n;
  }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
    const std::int64_t base = origin == 0   ? 0
                              : origin == 1 ? static_cast<std::int64_t>(position_)
                                            : static_cast<std::int64_t>(data_.size());
    position_ = static_cast<std::size_t>(std::max<std::int64_t>(base + offset, 0));
    return static_cast<std::int64_t>(position_);
  }
  const std::string& Data() const { return data_; }

  int Reads = 0;
  int Writes = 0;
  std::vector<std::int32_t> WriteSizes;
  std::int32_t Accept = 1 << 30;

 private:
  std::string data_;
  std::size_t position_ = 0;
};

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

TEST(BufferStreamWindow, PositionAfterReadKeepsTheWindow) {
  TCountingStream inner(Bytes(20000));
  TS_BufferStream stream(inner, 8192);
  char buffer[10];
  ASSERT_EQ(stream.Read(buffer, 10), 10);
  EXPECT_EQ(inner.Reads, 1);
  EXPECT_EQ(stream.Seek(0, soFromCurrent), 10);
  EXPECT_EQ(stream.Position(), 10);
  ASSERT_EQ(stream.Read(buffer, 10), 10);
  EXPECT_EQ(inner.Reads, 1) << "the second read must come from the window";
  EXPECT_EQ(std::string(buffer, 10), Bytes(20).substr(10));
}

TEST(BufferStreamWindow, SeekFromEndIgnoresTheSign) {
  TCountingStream inner(Bytes(5000));
  TS_BufferStream stream(inner, 8192);
  EXPECT_EQ(stream.Seek(-22, soFromEnd), 5000 - 22);
  EXPECT_EQ(stream.Seek(0, soFromBeginning), 0);
  EXPECT_EQ(stream.Seek(22, soFromEnd), 5000 - 22);
  EXPECT_EQ(stream.Size(), 5000);
}

TEST(BufferStreamWindow, ReadsAcrossWindowsAndAfterSeeks) {
  const std::string data = Bytes(30000);
  TCountingStream inner(data);
  TS_BufferStream stream(inner, 8192);
  std::string got(30000, '\0');
  EXPECT_EQ(stream.Read(got.data(), 30000), 30000);
  EXPECT_EQ(got, data);
  EXPECT_EQ(stream.Read(got.data(), 1), 0);
  // Back into the last window and out of it again.
  stream.SetPosition(29000);
  char c = 0;
  ASSERT_EQ(stream.Read(&c, 1), 1);
  EXPECT_EQ(c, data[29000]);
  stream.SetPosition(100);
  ASSERT_EQ(stream.Read(&c, 1), 1);
  EXPECT_EQ(c, data[100]);
  stream.Seek(5, soFromCurrent);
  ASSERT_EQ(stream.Read(&c, 1), 1);
  EXPECT_EQ(c, data[106]);
}

TEST(BufferStreamWindow, OneWindowWrittenIsOneInnerWrite) {
  TCountingStream inner;
  {
    TS_BufferStream stream(inner, 8192);
    const std::string data = Bytes(8192);
    EXPECT_EQ(stream.Write(data.data(), 8192), 8192);
    EXPECT_EQ(inner.Writes, 1);
    EXPECT_EQ(stream.Mode(), WindowEmpty);
    EXPECT_EQ(stream.Write("x", 1), 1);
    EXPECT_EQ(inner.Writes, 1) << "the 8193rd byte starts a new window";
    EXPECT_EQ(stream.Mode(), WindowWriting);
    EXPECT_EQ(stream.Position(), 8193);
  }
  // The destructor wrote the pending byte.
  EXPECT_EQ(inner.Writes, 2);
  EXPECT_EQ(inner.Data().size(), 8193u);
  EXPECT_EQ(inner.Data().back(), 'x');
}

// Several windows' worth with nothing pending go to Inner in one call; behind a
// pending byte they go through the window, after that byte.
TEST(BufferStreamWindow, LargeWritesPassTheWindowOnlyWhenNothingIsPending) {
  TCountingStream inner;
  const std::string data = Bytes(20000);
  {
    TS_BufferStream stream(inner, 8192);
    EXPECT_EQ(stream.Write(data.data(), 20000), 20000);
    EXPECT_EQ(inner.WriteSizes, (std::vector<std::int32_t>{20000}));
    EXPECT_EQ(stream.Write("x", 1), 1);
    EXPECT_EQ(stream.Write(data.data(), 20000), 20000);
    EXPECT_EQ(stream.Position(), 40001);
  }
  EXPECT_EQ(inner.WriteSizes, (std::vector<std::int32_t>{20000, 8192, 8192, 3617}));
  EXPECT_EQ(inner.Data(), data + "x" + data);
}

TEST(BufferStreamWindow, ReadAfterWriteSeesTheWrittenBytes) {
  TCountingStream inner(Bytes(100));
  TS_BufferStream stream(inner, 16);
  char buffer[4];
  ASSERT_EQ(stream.Read(buffer, 4), 4);
  EXPECT_EQ(stream.Write("ABCD", 4), 4);  // at 4, over the read-ahead
  EXPECT_EQ(stream.Position(), 8);
  stream.SetPosition(4);
  ASSERT_EQ(stream.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "ABCD");
  EXPECT_EQ(inner.Data().substr(0, 4), Bytes(4));
}

TEST(BufferStreamWindow, RefusedBytesAreNotCounted) {
  TCountingStream inner;
  inner.Accept = 10;
  TS_BufferStream stream(inner, 16);
  const std::string data = Bytes(40);
  EXPECT_EQ(stream.Write(data.data(), 40), 10);
  EXPECT_EQ(inner.Data().size(), 10u);
}

TEST(BufferStreamWindow, InvalidOriginIsAnError) {
  TCountingStream inner(Bytes(10));
  TS_BufferStream stream(inner, 16);
  try {
    stream.Seek(0, 3);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid seek origin (3)");
  }
}

TEST(BufferStreamWindow, FileStreamOpensReadsAndCreates) {
  testsupport::TTempFolder folder;
  const std::string name = folder / "out.bin";
  {
    TLFNFileStream out(name, 8192, true, fmCreate);
    const std::string data = Bytes(10000);
    EXPECT_EQ(out.Write(data.data(), 10000), 10000);
  }
  EXPECT_EQ(testsupport::ReadFile(name), Bytes(10000));
  TLFNFileStream in(name, 8192, false, fmShareDenyWrite);
  EXPECT_EQ(in.Size(), 10000);
  EXPECT_GE(in.Handle(), 0);
  try {
    TLFNFileStream missing(folder / "missing.zip", 8192, false, fmShareDenyWrite);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + (folder / "missing.zip"));
  }
}

}  // namespace

// A text's CR LF split between two writes (the decoder's windows end anywhere)
// is one line end; a lone CR is one too, and Ctrl-Z goes.
TEST(TextOutputLineEnds, CarriageReturnAcrossWrites) {
  TMemoryOutput file;
  TTextOutput text(file);
  EXPECT_EQ(text.Write("a\r", 2), 2);
  EXPECT_EQ(text.Write("\nb\r\rc\x1A", 6), 6);
  EXPECT_EQ(file.Text, "a\nb\n\nc");
}

}  // namespace kestrel
