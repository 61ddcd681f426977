// Decoding throughput of the legacy methods on a few MB of generated data (text
// and structured binary, compressed by the test encoders), against Info-ZIP
// `unzip -p` for the methods it decodes (shrink and implode). Ours and unzip run
// alternately, round after round, on the same entries; the CRC is computed on
// both sides. Usage: bench_legacy [megabytes=4] [rounds=7]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "legacy_encoders.h"
#include "legacy_support.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/entry_decoding.h"
#include "unzip/decode/explode.h"
#include "unzip/decode/unreduce.h"
#include "unzip/decode/unshrink.h"

namespace {

using namespace legacytest;
using TClock = std::chrono::steady_clock;

// Counts the bytes written; keeps nothing.
class TSink : public kestrel::TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t count) override {
    pos += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override {
    pos = origin == kestrel::soFromCurrent ? pos + offset : offset;
    return pos;
  }
  std::int32_t pos = 0;
};

struct TVariant {
  std::string name;
  std::uint16_t method, flags;
  std::string compressed;
  bool infoZip;
  std::vector<double> ours, theirs;
};

// One entry through the frame's per-entry setup and the decoder; the CRC is returned.
std::uint32_t DecodeOnce(TMemoryHost& host, kestrel::TDecodeState& state, const TVariant& v, std::uint32_t size) {
  TSink sink;
  kestrel::TDecodeEntry entry;
  entry.CompressionMethod = v.method;
  entry.Flags = v.flags;
  entry.CompressedSize = static_cast<std::uint32_t>(v.compressed.size());
  entry.UncompressedSize = size;
  host.archive.pos = 30;  // at the data, as the driver leaves the archive
  kestrel::DecodeEntryData(state, entry, sink);
  if (sink.pos == 0 && size != 0) {  // the frame does not dispatch the method yet
    state.Entry = entry;
    state.CompressedSize = entry.CompressedSize;
    state.CompressedLeft = static_cast<std::int32_t>(entry.CompressedSize);
    state.EntrySize = static_cast<std::int32_t>(size);
    host.archive.pos = 30;
    if (v.method == 1)
      kestrel::Unshrink(state);
    else if (v.method == 6)
      kestrel::Explode(state);
    else
      kestrel::Unreduce(state);
  }
  return state.Crc();
}

double Median(std::vector<double> x) {
  std::sort(x.begin(), x.end());
  return x.empty() ? 0 : x[x.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::size_t size = megabytes << 20;
  const std::string data = TextData(size * 3 / 4, 1) + BinaryData(size - size * 3 / 4, 2);
  const std::uint32_t crc = Crc32(data);

  std::vector<TVariant> variants;
  variants.push_back({"shrink", 1, 0, ShrinkEncode(data), true, {}, {}});
  for (int f = 0; f < 4; ++f) {
    TImplodeOptions o;
    o.Dictionary8K = (f & 1) != 0;
    o.ThreeTrees = (f & 2) != 0;
    const std::string name = std::string("implode ") + (o.Dictionary8K ? "8K" : "4K") + (o.ThreeTrees ? "3T" : "2T");
    variants.push_back({name, 6, ImplodeFlags(o), ImplodeEncode(data, o), true, {}, {}});
  }
  for (int factor = 1; factor <= 4; ++factor)
    variants.push_back({"reduce " + std::to_string(factor),
                        static_cast<std::uint16_t>(factor + 1),
                        0,
                        ReduceEncode(data, factor),
                        false,
                        {},
                        {}});

  const bool haveUnzip = std::system("command -v unzip >/dev/null 2>&1") == 0;
  const auto folder = std::filesystem::temp_directory_path() /
                      ("kestrel-legacy-bench-" + std::to_string(TClock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  TZipWriter zip;
  for (const auto& v : variants)
    if (v.infoZip) zip.Add(v.name, v.method, v.flags, v.compressed, data);
  const auto zipPath = (folder / "legacy.zip").string();
  std::ofstream(zipPath, std::ios::binary) << zip.Bytes();

  TMemoryHost host;
  kestrel::TDecodeState state(host);
  int failures = 0;
  for (int round = 0; round < rounds; ++round)
    for (auto& v : variants) {
      host.archive = TMemoryStream(std::string(30, '\0') + v.compressed);
      const auto t0 = TClock::now();
      const std::uint32_t got = DecodeOnce(host, state, v, static_cast<std::uint32_t>(data.size()));
      v.ours.push_back(std::chrono::duration<double>(TClock::now() - t0).count());
      if (got != crc) ++failures;
      if (v.infoZip && haveUnzip) {
        const std::string command = "unzip -p '" + zipPath + "' '" + v.name + "' > /dev/null";
        const auto t1 = TClock::now();
        if (std::system(command.c_str()) != 0) ++failures;
        v.theirs.push_back(std::chrono::duration<double>(TClock::now() - t1).count());
      }
    }
  std::filesystem::remove_all(folder);

  std::printf("%zu MiB (3/4 text, 1/4 binary), %d alternating rounds, median MB/s of decoded output\n", megabytes,
              rounds);
  std::printf("%-14s %10s %12s %12s %8s\n", "method", "ratio", "kestrel", "unzip -p", "speedup");
  for (const auto& v : variants) {
    const double mb = static_cast<double>(data.size()) / 1e6;
    const double ours = mb / Median(v.ours);
    const double theirs = v.theirs.empty() ? 0 : mb / Median(v.theirs);
    std::printf("%-14s %9.1f%% %12.1f", v.name.c_str(),
                100.0 * static_cast<double>(v.compressed.size()) / static_cast<double>(data.size()), ours);
    if (theirs > 0)
      std::printf(" %12.1f %7.2fx\n", theirs, ours / theirs);
    else
      std::printf(" %12s %8s\n", "-", "-");
  }
  if (failures != 0) std::printf("%d decodes did not give the original bytes\n", failures);
  return failures == 0 ? 0 : 1;
}
