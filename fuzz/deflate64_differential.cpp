// Deflate64 against the bytes it should give. No library writes Deflate64, so the
// fuzzer's bytes are read as a program of literals and matches, which a small
// encoder here writes with the fixed codes (in blocks of random sizes, now and
// then a stored block between them), and a byte loop plays to give the expected
// output. Our decoder must give those bytes and their CRC. The matches reach what
// only Deflate64 has: lengths up to 65,538 through length code 285 and its 16
// extra bits, distances up to 65,536 through distance codes 30 and 31.
//
// Input: byte 0 bit 0 an output that offers its memory for decoding in place; then
// operations. An operation's first byte: below 0x80 a literal of that value (or,
// with 0x7F, of the next byte); otherwise a match, whose bits 0-3 pick the length
// (3 to 10 as they are; longer ones from the next two bytes, up to 65,538) and
// bits 4-6 the distance (1 to 8 as they are; farther ones from the next two bytes,
// within what has been written), and a byte after that sets how the match is coded
// (bit 0: through code 285 whatever its length) and whether the block ends (bit 1)
// or a stored block follows (bit 2).

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "unzip/decode/crc32.h"
#include "unzip/decode/inflate_table.h"

namespace {

class TBitWriter {
 public:
  void Bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  // A Huffman code goes out with its first bit, the highest, first.
  void Code(std::uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Bit((code >> i) & 1);
  }
  void Align() {
    while (count_ != 0) Bit(0);
  }
  std::string bytes;

 private:
  void Bit(unsigned bit) {
    acc_ |= bit << count_;
    if (++count_ == 8) {
      bytes += static_cast<char>(acc_);
      acc_ = 0;
      count_ = 0;
    }
  }
  unsigned acc_ = 0, count_ = 0;
};

void FixedSymbol(TBitWriter& w, unsigned symbol) {
  if (symbol < 144)
    w.Code(0x30 + symbol, 8);
  else if (symbol < 256)
    w.Code(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    w.Code(symbol - 256, 7);
  else
    w.Code(0xC0 + symbol - 280, 8);
}

// Code 285 (index 28) takes any length; the others their ranges, code 284 227-258.
void Length(TBitWriter& w, unsigned length, bool through285) {
  unsigned code = 28;
  if (!through285 && length <= 258) {
    code = 0;
    while (code < 27 && length >= kestrel::Length64Base[code + 1]) ++code;
  }
  FixedSymbol(w, 257 + code);
  w.Bits(length - kestrel::Length64Base[code], kestrel::Length64Extra[code]);
}

void Distance(TBitWriter& w, unsigned distance) {
  unsigned code = 0;
  while (code < 31 && distance >= kestrel::Distance64Base[code + 1]) ++code;
  w.Code(code, 5);
  w.Bits(distance - kestrel::Distance64Base[code], kestrel::Distance64Extra[code]);
}

void StartFixedBlock(TBitWriter& w) {
  w.Bits(0, 1);
  w.Bits(1, 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool inPlace = (data[0] & 1) != 0;
  std::string expected;
  TBitWriter w;
  StartFixedBlock(w);
  auto next = [&](std::size_t& at) -> unsigned { return at < size ? data[at++] : 0; };
  for (std::size_t at = 1; at < size && expected.size() < (1u << 22);) {
    const unsigned op = next(at);
    if (op < 0x80) {
      const unsigned literal = op == 0x7F ? next(at) : op;
      FixedSymbol(w, literal);
      expected += static_cast<char>(literal);
      continue;
    }
    unsigned length = 3 + (op & 0x0F);
    if ((op & 0x0F) >= 8) length = 3 + ((next(at) | next(at) << 8) % 65536);
    unsigned distance = 1 + ((op >> 4) & 7);
    if (((op >> 4) & 7) == 7) distance = 1 + ((next(at) | next(at) << 8) % 65536);
    const unsigned how = next(at);
    if (expected.empty()) continue;
    if (distance > expected.size()) distance = static_cast<unsigned>(expected.size());
    Length(w, length, (how & 1) != 0);
    Distance(w, distance);
    for (unsigned i = 0; i < length; ++i) expected += expected[expected.size() - distance];
    if (how & 2) {
      FixedSymbol(w, 256);
      if (how & 4) {  // a stored block of a few bytes of the input
        w.Bits(0, 1);
        w.Bits(0, 2);
        w.Align();
        const unsigned n = std::min<std::size_t>(how >> 3, size - at);
        w.Bits(n, 16);
        w.Bits(~n & 0xFFFF, 16);
        for (unsigned i = 0; i < n; ++i) w.Bits(data[at + i], 8);
        expected.append(reinterpret_cast<const char*>(data + at), n);
        at += n;
      }
      StartFixedBlock(w);
    }
  }
  FixedSymbol(w, 256);
  w.Bits(1, 1);  // an empty final block
  w.Bits(1, 2);
  FixedSymbol(w, 256);
  w.Align();

  fuzzsupport::TEntryRun run(w.bytes, 9, static_cast<std::uint32_t>(expected.size()));
  run.output.keep = true;
  run.output.inPlace = inPlace;
  if (run.Decode() != kestrel::drDecoded) std::abort();
  const std::uint32_t crc = ~kestrel::UpdateCrc(0xFFFFFFFFu, expected.data(), expected.size());
  if (run.output.data != expected || run.state.Crc() != crc) std::abort();
  return 0;
}
