// Inflate against zlib's deflate: zlib compresses the fuzzer's bytes with settings
// taken from the input, our inflate decodes the stream through the decoding frame,
// and the bytes and the CRC must be the input again. Random bytes rarely form a
// valid deflate stream; these are the streams users have.
//
// Input: byte 0 level (0-9), byte 1 strategy, byte 2 window bits (9-15), byte 3
// memory level (1-9), byte 4 how many times the data is repeated (bits 0-5: 1-64,
// so that small inputs still wrap the 32 KiB window and reach back across it; bit
// 6: into an output that offers its memory for decoding in place), bytes 5-6
// the size of the pieces handed to deflate, byte 7 the flush after each piece and
// whether the level changes between pieces; then the data.

#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t Header = 8;
  if (size < Header) return 0;
  const int level = data[0] % 10;
  static constexpr int Strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  const int strategy = Strategies[data[1] % 5];
  const int windowBits = 9 + data[2] % 7;
  const int memLevel = 1 + data[3] % 9;
  const int repeats = 1 + data[4] % 64;
  const std::size_t piece = 1 + (static_cast<std::size_t>(data[5]) | static_cast<std::size_t>(data[6]) << 8);
  const std::uint8_t pattern = data[7];

  std::string original;
  for (int i = 0; i < repeats; ++i) original.append(reinterpret_cast<const char*>(data + Header), size - Header);

  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -windowBits, memLevel, strategy) != Z_OK) std::abort();
  std::string packed(deflateBound(&z, original.size()) + 64 * (original.size() / piece + 2), '\0');
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = static_cast<uInt>(packed.size());
  static constexpr int Flushes[] = {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK, Z_PARTIAL_FLUSH, Z_NO_FLUSH};
  std::size_t at = 0;
  for (unsigned turn = 0; at < original.size(); ++turn) {
    const std::size_t n = std::min(piece, original.size() - at);
    z.next_in = reinterpret_cast<Bytef*>(original.data() + at);
    z.avail_in = static_cast<uInt>(n);
    at += n;
    const int flush = at == original.size() ? Z_FINISH : Flushes[(pattern >> (turn % 6)) % 6];
    if (deflate(&z, flush) == Z_STREAM_ERROR || z.avail_in != 0) std::abort();
    // A change of level in mid-stream ends the block and starts one of the new kind.
    if ((pattern & 0x80) != 0 && at < original.size() &&
        deflateParams(&z, (level + static_cast<int>(turn) + 1) % 10, strategy) != Z_OK)
      std::abort();
  }
  if (original.empty() && deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  packed.resize(z.total_out);
  deflateEnd(&z);

  fuzzsupport::TEntryRun run(packed, 8, static_cast<std::uint32_t>(original.size()));
  run.output.keep = true;
  run.output.inPlace = (data[4] & 0x40) != 0;
  if (run.Decode() != kestrel::drDecoded) std::abort();
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(original.data()), static_cast<uInt>(original.size())));
  if (run.output.data != original || run.state.Crc() != crc) std::abort();
  return 0;
}
