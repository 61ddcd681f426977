// Explode. The trees come first, as byte-coded descriptions; then a bit stream of
// tokens, each led by one bit: 1 a literal (8 raw bits, or a code of the literal
// tree), 0 a match (6 or 7 raw low distance bits, a distance code, a length code,
// and 8 more length bits after length code 63).

#include "unzip/decode/explode.h"

#include <array>

#include "unzip/decode/code_table.h"
#include "unzip/decode/window_copy.h"

namespace kestrel {
namespace {

constexpr std::uint32_t ExplodeWindow = 32768;

constexpr std::array<std::uint16_t, 64> Bases(unsigned first, unsigned step) {
  std::array<std::uint16_t, 64> bases{};
  for (unsigned i = 0; i < 64; ++i) bases[i] = static_cast<std::uint16_t>(first + step * i);
  return bases;
}

// Match lengths from length codes 0-63: from 2 with two trees, from 3 with three.
constexpr auto LengthBase2 = Bases(2, 1);
constexpr auto LengthBase3 = Bases(3, 1);
// Distances from distance codes 0-63, less the raw low bits: the 4 KiB dictionary
// sends 6 low bits, the 8 KiB one 7.
constexpr auto DistanceBase4 = Bases(1, 64);
constexpr auto DistanceBase8 = Bases(1, 128);
// Extra bits after a code: only length code 63 has any (8). Distance codes share
// the table but their extra-bit count is never used.
constexpr std::array<std::uint8_t, 64> CodeExtraBits = [] {
  std::array<std::uint8_t, 64> extra{};
  extra[63] = 8;
  return extra;
}();
static_assert(LengthBase2[63] + 255 == 320 && LengthBase3[63] + 255 == 321);
static_assert(DistanceBase4[63] + 63 == 4096 && DistanceBase8[63] + 127 == 8192);

// Literal codes are looked up 9 bits at a time at the first level, lengths and
// distances 7; an entry of more than 200,000 compressed bytes looks distances up
// 8 bits at a time, which pays off only on entries that long.
constexpr int LiteralWidth = 9;
constexpr int LengthWidth = 7;
constexpr int DistanceWidth = 7;
constexpr int LongDistanceWidth = 8;
constexpr std::int32_t LongEntry = 200000;

// The decoding loop over one entry's tokens, after the trees are built. Bit
// buffer, bit count and window position are locals, written nowhere else; the
// byte reader, window flushes and the output path go through the state.
class TExploder {
 public:
  TExploder(TDecodeState& state, bool dictionary8K)
      : s_(state), window_(state.Window.data()), lowBits_(dictionary8K ? 7 : 6) {}

  /// Three trees: literals are codes of the literal tree.
  void ExplodeWithLiteralTree(const TCodeSet& literals, int literalWidth, const TCodeSet& lengths, int lengthWidth,
                              const TCodeSet& distances, int distanceWidth) {
    Run<true>(literals.Root(), literalWidth, lengths.Root(), lengthWidth, distances.Root(), distanceWidth);
  }
  /// Two trees: literals are 8 raw bits.
  void ExplodeRawLiterals(const TCodeSet& lengths, int lengthWidth, const TCodeSet& distances, int distanceWidth) {
    Run<false>(nullptr, 0, lengths.Root(), lengthWidth, distances.Root(), distanceWidth);
  }

 private:
  template <bool LiteralTree>
  void Run(const TCodeTableEntry* literalTable, int literalWidth, const TCodeTableEntry* lengthTable, int lengthWidth,
           const TCodeTableEntry* distanceTable, int distanceWidth);

  TDecodeState& s_;
  std::uint8_t* window_;
  const unsigned lowBits_;
};

template <bool LiteralTree>
void TExploder::Run(const TCodeTableEntry* literalTable, int literalWidth, const TCodeTableEntry* lengthTable,
                    int lengthWidth, const TCodeTableEntry* distanceTable, int distanceWidth) {
  std::uint32_t bits = 0;  // bits not yet used, first bit lowest
  unsigned bitCount = 0;   // bits held in `bits`
  std::uint32_t windowPos = 0;
  bool firstPass = true;  // until the window is flushed once: bytes before it are zeros
  std::int64_t left = s_.EntrySize;

  auto need = [&](unsigned n) { s_.EnsureBits(n, bits, bitCount); };
  auto drop = [&](unsigned n) { TDecodeState::DropBits(n, bits, bitCount); };
  auto windowFull = [&] {
    s_.FlushWindow(ExplodeWindow);
    windowPos = 0;
    firstPass = false;
  };
  // One symbol of a tree; false on a bit pattern no symbol owns. Slots are indexed
  // by the complemented bits, at every level.
  auto decode = [&](const TCodeTableEntry* table, unsigned width, TCodeTableEntry& entry) {
    need(width);
    entry = table[~bits & BitMask[width]];
    while (entry.Extra > ceLiteral) {
      if (entry.Extra == ceInvalid) return false;
      drop(entry.Bits);
      const unsigned more = entry.Extra - 16u;
      need(more);
      entry = table[entry.Value + (~bits & BitMask[more])];
    }
    drop(entry.Bits);
    return true;
  };

  const unsigned lowMask = BitMask[lowBits_];
  TCodeTableEntry entry;
  // Entry: `bits` holds bitCount < 32 bits; the window holds windowPos < 32,768 bytes
  // not yet flushed.
  while (left > 0) {
    // Past the end of the data the last byte is shifted in again. Once a symbol
    // has taken any of those made-up bits the stream is damaged: decoding stops
    // rather than writing made-up bytes up to the declared size, which a few
    // hostile bytes can set to 2 GiB; the CRC then reports the entry.
    if (static_cast<std::uint64_t>(s_.MissedBytes) * 8 > bitCount) break;
    need(1);
    if (bits & 1) {  // a literal
      drop(1);
      --left;
      std::uint8_t byte;
      if constexpr (LiteralTree) {
        if (!decode(literalTable, static_cast<unsigned>(literalWidth), entry)) return;
        byte = static_cast<std::uint8_t>(entry.Value);
      } else {
        need(8);
        byte = static_cast<std::uint8_t>(bits);
        drop(8);
      }
      window_[windowPos++] = byte;
      if (windowPos == ExplodeWindow) windowFull();
      continue;
    }

    // A match: low distance bits, distance code, length code, its extra bits.
    drop(1);
    need(lowBits_);
    const std::uint32_t low = bits & lowMask;
    drop(lowBits_);
    if (!decode(distanceTable, static_cast<unsigned>(distanceWidth), entry)) return;
    const std::uint32_t from = windowPos - low - entry.Value;
    if (!decode(lengthTable, static_cast<unsigned>(lengthWidth), entry)) return;
    std::uint32_t length = entry.Value;
    if (entry.Extra != 0) {
      need(entry.Extra);
      length += bits & BitMask[entry.Extra];
      drop(entry.Extra);
    }
    // A match may run past the size; it is copied whole and the output-size guard
    // judges the entry.
    left -= static_cast<std::int32_t>(length);

    CopyWindowMatch(window_, ExplodeWindow, windowPos, firstPass, from, length, windowFull);
  }
  s_.FlushWindow(windowPos);
}

// Builds a tree's code set, reporting a table that could not be allocated.
TCodeResult BuildTree(TDecodeState& state, const std::uint16_t* lengths, unsigned n, unsigned s,
                      const std::uint16_t* base, TCodeSet& set, int& width) {
  const TCodeResult result = BuildCodeTable(lengths, n, s, base, CodeExtraBits.data(), set, width);
  if (result == TCodeResult::OutOfMemory) state.ReportOutOfMemory();
  return result;
}

}  // namespace

bool ReadTreeLengths(TDecodeState& state, std::uint16_t* lengths, unsigned n) {
  // Past the end of the data the last byte value comes again.
  state.ReadCompressedByte(state.LastByte);
  const unsigned count = (state.LastByte & 0xFFu) + 1;
  unsigned filled = 0;
  for (unsigned i = 0; i < count; ++i) {
    state.ReadCompressedByte(state.LastByte);
    const auto length = static_cast<std::uint16_t>((state.LastByte & 0x0Fu) + 1);
    const unsigned repeat = ((state.LastByte >> 4) & 0x0Fu) + 1;
    if (filled + repeat > n) return false;
    for (unsigned r = 0; r < repeat; ++r) lengths[filled++] = length;
  }
  return filled == n;
}

void Explode(TDecodeState& state) {
  const bool dictionary8K = (state.Entry.Flags & FlagImplode8KDictionary) != 0;
  const bool literalTree = (state.Entry.Flags & FlagImplodeLiteralTree) != 0;
  int literalWidth = LiteralWidth;
  int lengthWidth = LengthWidth;
  int distanceWidth = state.CompressedLeft > LongEntry ? LongDistanceWidth : DistanceWidth;

  // Released on every path, an exception of the output path included.
  TCodeSet literals, matchLengths, distances;
  std::uint16_t lengths[256];
  // A tree that does not give exactly its count of lengths, or whose lengths do
  // not make a complete code, ends the entry before any output.
  if (literalTree) {
    if (!ReadTreeLengths(state, lengths, 256)) return;
    if (BuildTree(state, lengths, 256, 256, nullptr, literals, literalWidth) != TCodeResult::Complete) return;
  }
  if (!ReadTreeLengths(state, lengths, 64)) return;
  if (BuildTree(state, lengths, 64, 0, literalTree ? LengthBase3.data() : LengthBase2.data(), matchLengths,
                lengthWidth) != TCodeResult::Complete)
    return;
  if (!ReadTreeLengths(state, lengths, 64)) return;
  if (BuildTree(state, lengths, 64, 0, dictionary8K ? DistanceBase8.data() : DistanceBase4.data(), distances,
                distanceWidth) != TCodeResult::Complete)
    return;

  TExploder exploder(state, dictionary8K);
  if (literalTree)
    exploder.ExplodeWithLiteralTree(literals, literalWidth, matchLengths, lengthWidth, distances, distanceWidth);
  else
    exploder.ExplodeRawLiterals(matchLengths, lengthWidth, distances, distanceWidth);
  ReleaseCodeTables(literals);
  ReleaseCodeTables(matchLengths);
  ReleaseCodeTables(distances);
  state.FlushOutput();
}

}  // namespace kestrel
