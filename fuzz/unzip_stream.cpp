// Reads arbitrary archive bytes as a stream that cannot seek (a pipe): once for a
// listing, once extracting every entry into nothing, as -t does. Exceptions of the
// component are fine; a crash, a hang, a huge allocation, or more output than the
// bytes can hold (a deflated byte gives at most 1,032), is not.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "unzip/kestrel_unzip.h"

namespace {

// Counts what the entries decode to.
class TCount final : public kestrel::TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t count) override {
    Bytes += static_cast<std::uint64_t>(count);
    return count;
  }
  std::int64_t Seek(std::int64_t, std::int16_t) override { return static_cast<std::int64_t>(Bytes); }
  std::uint64_t Bytes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    fuzzsupport::TPipe pipe(data, size);
    kestrel::TKestrelUnZip unzip;
    unzip.SetInputStream(&pipe);
    try {
      unzip.LoadZipDirectory();
      for (std::int32_t i = 0; i < unzip.EntryCount(); ++i) unzip.FileComment(i);
    } catch (const kestrel::Exception&) {
    }
  }
  fuzzsupport::TPipe pipe(data, size);
  TCount output;
  kestrel::TKestrelUnZip unzip;
  unzip.SetInputStream(&pipe);
  unzip.SetOutputStream(&output);
  unzip.SetDoAll(true);
  unzip.SetPassword("password");
  try {
    unzip.UnZip();
  } catch (const kestrel::Exception&) {
  }
  // Deflate's densest form gives 258 bytes from 2 bits, of the input and of the
  // zeros that pad a stream's end for each entry whose sizes follow its data.
  const std::uint64_t entries = static_cast<std::uint64_t>(std::max<std::int32_t>(unzip.EntryCount(), 1));
  if (output.Bytes > 1032 * (size + entries * kestrel::TStreamSource::PaddingSize)) std::abort();
  return 0;
}
