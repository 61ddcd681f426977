// bench_decode [FILE ...]: inflates raw deflate streams in memory with our decoder
// (output path and CRC-32 included), with zlib's inflate and with libdeflate's
// (neither with a checksum), in alternating rounds, and reports medians in MB/s of
// output and our speed as a fraction of libdeflate's. Ours is timed twice, into a
// buffer that holds the whole output as the other two leave theirs: decoded in
// place, the buffer offering its memory as a stream that keeps its bytes in memory
// does, and decoded through inflate's own buffer, each 32 KiB chunk copied into
// the output buffer, as a stream without such memory gets it. Times are processor
// times, which other work on the machine disturbs less than elapsed ones. Then it
// times our Deflate64 against our Deflate on 7-Zip's streams of the same text, the
// CRC-32 (ours, the eight-byte tables alone, zlib's) and the traditional
// decryption, in MB/s of input. Without files it uses generated text-like and
// mixed data; with files, their contents.

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "unzip/decode/crc32.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/entry_decoding.h"

namespace {

// Processor time of the process, in seconds.
double Now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

class TInput : public kestrel::TStream {
 public:
  explicit TInput(const std::string& bytes) : data_(bytes) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    const std::int32_t n = std::max(0, std::min(count, static_cast<std::int32_t>(data_.size()) - pos_));
    std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
    pos_ = origin == kestrel::soFromBeginning ? offset
           : origin == kestrel::soFromCurrent ? pos_ + offset
                                              : static_cast<std::int32_t>(data_.size()) + offset;
    return pos_;
  }

 private:
  const std::string& data_;
  std::int32_t pos_ = 0;
};

// Output into a preallocated buffer, as zlib gets one: offered for decoding in
// place, or, with inPlace false, copied into from what Write is given.
class TOutput : public kestrel::TStream {
 public:
  TOutput(std::vector<unsigned char>& buffer, bool inPlace) : buffer_(buffer), inPlace_(inPlace) {}
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (buffer != buffer_.data() + pos_) std::memcpy(buffer_.data() + pos_, buffer, static_cast<std::size_t>(count));
    pos_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
    pos_ = origin == kestrel::soFromBeginning ? offset : pos_ + offset;
    return pos_;
  }
  std::uint8_t* DirectStorage(std::int64_t count) override {
    return inPlace_ && pos_ + count <= static_cast<std::int64_t>(buffer_.size()) ? buffer_.data() + pos_ : nullptr;
  }
  std::int32_t pos_ = 0;

 private:
  std::vector<unsigned char>& buffer_;
  bool inPlace_;
};

class THost : public kestrel::TDecodeHost {
 public:
  explicit THost(const std::string& archive) : input_(archive) {}
  kestrel::TStream& ArchiveStream() override { return input_; }

 private:
  TInput input_;
};

std::string Deflate(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string TextLike(std::size_t size) {
  static const char* words[] = {"<text:p text:style-name=\"P1\">",
                                "the ",
                                "archive ",
                                "window ",
                                "</text:p>\n",
                                "of ",
                                "deflate ",
                                "and ",
                                "stream ",
                                "kilobytes ",
                                "a ",
                                "entry "};
  std::mt19937 rng(1);
  std::string s;
  while (s.size() < size) {
    const auto r = rng();
    if (r % 9 == 0)
      s += std::to_string(r % 1000003);
    else
      s += words[r % 12];
  }
  s.resize(size);
  return s;
}

void BenchInflate(const char* name, const std::string& original, int level, int rounds) {
  const std::string packed = Deflate(original, level);
  const std::string archive = std::string(30, '\0') + packed;
  std::vector<unsigned char> out(original.size() + 65536);
  THost host(archive);
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = 8;
  entry.CompressedSize = static_cast<std::uint32_t>(packed.size());
  entry.UncompressedSize = static_cast<std::uint32_t>(original.size());
  const std::uint32_t expectedCrc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(original.data()), static_cast<uInt>(original.size())));

  // Both ways of ours leave the whole output in the buffer.
  for (bool inPlace : {true, false}) {
    std::fill(out.begin(), out.end(), 0);
    TOutput sink(out, inPlace);
    host.ArchiveStream().SetPosition(30);  // at the data, as the driver leaves it
    kestrel::DecodeEntryData(state, entry, sink);
    if (std::memcmp(out.data(), original.data(), original.size()) != 0) {
      std::fprintf(stderr, "our inflate left wrong bytes in the output buffer\n");
      std::exit(1);
    }
  }

  libdeflate_decompressor* const fast = libdeflate_alloc_decompressor();
  std::vector<double> ours, oursCopied, zlibs, libdeflates;
  for (int r = 0; r < rounds; ++r) {
    for (bool inPlace : {true, false}) {
      TOutput sink(out, inPlace);
      host.ArchiveStream().SetPosition(30);  // at the data, as the driver leaves it
      const double t0 = Now();
      kestrel::DecodeEntryData(state, entry, sink);
      const double s = Now() - t0;
      if (state.Crc() != expectedCrc || static_cast<std::size_t>(sink.pos_) != original.size()) {
        std::fprintf(stderr, "our inflate gave a wrong result\n");
        std::exit(1);
      }
      (inPlace ? ours : oursCopied).push_back(static_cast<double>(original.size()) / s / 1e6);
    }
    {
      z_stream z{};
      const double t0 = Now();
      inflateInit2(&z, -15);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
      z.avail_in = static_cast<uInt>(packed.size());
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      const int rc = inflate(&z, Z_FINISH);
      inflateEnd(&z);
      const double s = Now() - t0;
      if (rc != Z_STREAM_END || z.total_out != original.size()) {
        std::fprintf(stderr, "zlib failed\n");
        std::exit(1);
      }
      zlibs.push_back(static_cast<double>(original.size()) / s / 1e6);
    }
    {
      std::size_t produced = 0;
      const double t0 = Now();
      const auto rc =
          libdeflate_deflate_decompress(fast, packed.data(), packed.size(), out.data(), out.size(), &produced);
      const double s = Now() - t0;
      if (rc != LIBDEFLATE_SUCCESS || produced != original.size()) {
        std::fprintf(stderr, "libdeflate failed\n");
        std::exit(1);
      }
      libdeflates.push_back(static_cast<double>(original.size()) / s / 1e6);
    }
  }
  libdeflate_free_decompressor(fast);
  const double o = Median(ours), c = Median(oursCopied), z = Median(zlibs), l = Median(libdeflates);
  std::printf("%-18s %2d %7.1f %6.1f %9.0f %6.2f %9.0f %6.2f %7.0f %10.0f\n", name, level, original.size() / 1e6,
              packed.size() / 1e6, o, o / l, c, c / l, z, l);
}

// The data of the one entry of a zip archive made by 7-Zip with the method (Deflate
// or Deflate64), or nothing when 7z is not at hand.
std::string SevenZipEntryData(const std::string& original, const char* method) {
  char folder[] = "/tmp/kestrel-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return {};
  const std::string dir = folder;
  std::ofstream(dir + "/data", std::ios::binary) << original;
  const std::string command = "cd " + dir + " && 7z a -tzip -mm=" + method + " -mx=9 -bd d.zip data > /dev/null 2>&1";
  std::string archive;
  if (std::system(command.c_str()) == 0) {
    std::ifstream f(dir + "/d.zip", std::ios::binary);
    archive.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  std::system(("rm -rf " + dir).c_str());
  if (archive.size() < 30) return {};
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned char>(archive[at]) | static_cast<unsigned char>(archive[at + 1]) << 8;
  };
  const std::size_t start = 30 + u16(26) + u16(28);
  const std::size_t packed = static_cast<std::uint32_t>(u16(18) | u16(20) << 16);
  return archive.size() >= start + packed ? archive.substr(start, packed) : std::string();
}

// Deflate64 against Deflate, both made by 7-Zip of the same data and decoded by ours
// in place, in alternating rounds.
void BenchDeflate64(const char* name, const std::string& original, int rounds) {
  const std::string deflated = SevenZipEntryData(original, "Deflate");
  const std::string deflated64 = SevenZipEntryData(original, "Deflate64");
  if (deflated.empty() || deflated64.empty()) {
    std::printf("%-18s (7z is needed to make Deflate64)\n", name);
    return;
  }
  std::vector<unsigned char> out(original.size() + 131072);
  std::vector<double> speeds[2];
  for (int r = 0; r < rounds; ++r) {
    for (int which = 0; which < 2; ++which) {
      const std::string archive = std::string(30, '\0') + (which ? deflated64 : deflated);
      THost host(archive);
      kestrel::TDecodeState state(host);
      kestrel::TDecodeEntry entry;
      entry.CompressionMethod = which ? 9 : 8;
      entry.CompressedSize = archive.size() - 30;
      entry.UncompressedSize = original.size();
      TOutput sink(out, true);
      host.ArchiveStream().SetPosition(30);  // at the data, as the driver leaves it
      const double t0 = Now();
      kestrel::DecodeEntryData(state, entry, sink);
      const double s = Now() - t0;
      if (std::memcmp(out.data(), original.data(), original.size()) != 0) {
        std::fprintf(stderr, "our %s gave wrong bytes\n", which ? "Deflate64" : "inflate");
        std::exit(1);
      }
      speeds[which].push_back(static_cast<double>(original.size()) / s / 1e6);
    }
  }
  const double d = Median(speeds[0]), d64 = Median(speeds[1]);
  std::printf("%-18s Deflate %.0f MB/s, Deflate64 %.0f MB/s (%.2f), compressed %.1f / %.1f MB\n", name, d, d64, d64 / d,
              deflated.size() / 1e6, deflated64.size() / 1e6);
}

void PrintInflateHeading() {
  std::printf(
      "inflate, MB/s of output; ours with CRC-32, decoded in place in the output buffer or copied\n"
      "there chunk by chunk, and as a fraction of libdeflate's speed\n");
  std::printf("%-18s %2s %7s %6s %9s %6s %9s %6s %7s %10s\n", "data", "L", "out MB", "in MB", "in place", "ratio",
              "copied", "ratio", "zlib", "libdeflate");
}

// The CRC over 64 MiB in the decoders' 32 KiB chunks: the processor's folded path
// where it has one, the eight-byte tables alone, and zlib's.
void BenchCrc(int rounds) {
  std::vector<std::uint8_t> buffer(64 << 20);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  auto rate = [&](auto&& run) {
    std::vector<double> rates;
    std::uint32_t crc = 0;
    for (int r = 0; r < rounds; ++r) {
      const double t0 = Now();
      crc = run();
      const double s = Now() - t0;
      rates.push_back(static_cast<double>(buffer.size()) / s / 1e6);
    }
    return std::pair{Median(rates), crc};
  };
  auto chunks = [&](auto&& update) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t at = 0; at < buffer.size(); at += 32768) crc = update(crc, buffer.data() + at, 32768);
    return ~crc;
  };
  const auto ours = rate([&] {
    return chunks([](std::uint32_t c, const void* p, std::size_t n) { return kestrel::UpdateCrc(c, p, n); });
  });
  const auto sliced = rate([&] {
    return chunks([](std::uint32_t c, const void* p, std::size_t n) { return kestrel::UpdateCrcSliced(c, p, n); });
  });
  const auto zlibs = rate([&] {
    uLong crc = 0;
    for (std::size_t at = 0; at < buffer.size(); at += 32768) crc = crc32(crc, buffer.data() + at, 32768);
    return static_cast<std::uint32_t>(crc);
  });
  if (ours.second != zlibs.second || sliced.second != zlibs.second) {
    std::fprintf(stderr, "CRC-32 differs from zlib's\n");
    std::exit(1);
  }
  std::printf("CRC-32, 64 MiB in 32 KiB chunks: ours %.0f MB/s, eight-byte tables alone %.0f MB/s, zlib %.0f MB/s\n",
              ours.first, sliced.first, zlibs.first);
}

void BenchDecrypt(int rounds) {
  std::vector<std::uint8_t> buffer(64 << 20);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i * 131);
  std::vector<double> rates;
  for (int r = 0; r < rounds; ++r) {
    kestrel::TZipKeys keys;
    keys.InitKeys("benchmark password");
    const double t0 = Now();
    for (std::size_t at = 0; at < buffer.size(); at += 32768) keys.DecryptBuffer(buffer.data() + at, 32768);
    const double s = Now() - t0;
    rates.push_back(static_cast<double>(buffer.size()) / s / 1e6);
  }
  std::printf("traditional decryption, 64 MiB in 32 KiB chunks: %.0f MB/s\n", Median(rates));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = 7;
  PrintInflateHeading();
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      std::ifstream f(argv[i], std::ios::binary);
      const std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      for (int level : {1, 6, 9}) BenchInflate(argv[i], data, level, rounds);
    }
  } else {
    const std::string text = TextLike(64 << 20);
    for (int level : {1, 6, 9}) BenchInflate("generated text", text, level, rounds);
    std::string mixed;
    std::mt19937 rng(2);
    while (mixed.size() < (48u << 20)) {
      mixed += text.substr(rng() % (text.size() - 300000), 200000);
      std::string noise(50000, '\0');
      for (auto& c : noise) c = static_cast<char>(rng() % 64);  // low-entropy binary
      mixed += noise;
    }
    for (int level : {1, 6, 9}) BenchInflate("mixed text/binary", mixed, level, rounds);
  }
  std::printf("\nDeflate64 against Deflate, 7-Zip's of the same data at -mx=9, ours in place\n");
  BenchDeflate64("generated text", TextLike(32 << 20), rounds);
  BenchCrc(rounds);
  BenchDecrypt(rounds);
  return 0;
}
