#pragma once
// Inflate's fast loop and what it shares with the symbol-by-symbol paths: the
// 64-bit bit reader, the value of a length or distance slot, the match copy, and
// the bounds that let the loop look at its limits only now and then. The loop
// itself, chosen for the literal table's width, the history at hand and the
// processor, lives in inflate_fast.cpp; inflate.cpp drives it.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "unzip/decode/inflate.h"

namespace kestrel::inflating {

// The bits a refill leaves in the buffer at least.
constexpr unsigned RefillBits = 56;
// The bits of a Deflate64 distance at most: a 15-bit code with 14 extra bits.
constexpr unsigned MaxDistance64Bits = 29;
constexpr std::uint64_t DistanceMask = (1u << DistanceTableBits) - 1;

// The fast loop's bounds for a format. It refills once a turn, after a look at its
// limits, and in Deflate64, whose length and distance may take more bits than a
// refill holds, up to twice more within the turn. A refill reads 8 bytes and moves
// on by at most 7, so a turn may start with FastMargin bytes left in the input
// chunk; the loop is entered with more, so that a loop that has just handed back
// its read-ahead is not entered again at once. A turn moves out on by at most one
// match, whose copy writes up to 32 bytes past its end; a turn of literals writes
// far fewer.
template <class TFormat>
struct TFastBounds {
  static constexpr unsigned RefillsPerTurn = TFormat::Deflate64 ? 3 : 1;
  static constexpr std::size_t TurnInput = 7 * RefillsPerTurn;
  static constexpr std::uint32_t FastMargin = TFormat::Deflate64 ? 24 : 16;
  static constexpr std::uint32_t FastInput = FastMargin + 8;
  static constexpr std::size_t TurnOutput = TFormat::LongestMatch;
  static constexpr std::size_t Overshoot = TurnOutput + 32;
  static constexpr std::size_t BufferEnd =
      TInflateWorkspaceOf<TFormat>::History + TInflateWorkspaceOf<TFormat>::Chunks * DecodeChunk;
  static_assert(7 * (RefillsPerTurn - 1) + 8 <= FastMargin);
  static_assert(TFormat::Deflate64 || TFormat::MaxMatchBits <= RefillBits, "a refill holds a whole match");
  static_assert(TInflateWorkspaceOf<TFormat>::Slack >= Overshoot);
  static_assert(TInflateWorkspaceOf<TFormat>::Chunks * DecodeChunk >= TInflateWorkspaceOf<TFormat>::History + Overshoot,
                "the slide copies the history and what ran past it to the front without overlap");
};
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}
inline void Copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }
// The low n bits of v, n below 64.
inline std::uint64_t LowBits(std::uint64_t v, unsigned n) { return v & ~(~std::uint64_t{0} << n); }

// Writes the literal or two of a literal slot, both bytes whatever their count
// (the next symbol overwrites the second one of a slot of one), and moves out on
// by the count.
inline void PutLiterals(std::uint8_t*& out, TFastSlot slot) {
  const auto bytes = static_cast<std::uint16_t>(slot >> SlotValueShift);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &bytes, 2);
  } else {
    out[0] = static_cast<std::uint8_t>(bytes);
    out[1] = static_cast<std::uint8_t>(bytes >> 8);
  }
  out += SlotLiterals(slot);
}

// The value of a length or distance slot: its base plus its extra bits, taken
// from the bits as they stood before the slot was consumed, where the extra bits
// follow the code's bits. The slot has no flag set, so its Extra field is all
// that lies above SlotExtraShift.
inline std::uint32_t MatchValue(TFastSlot slot, std::uint64_t before) {
  const unsigned extraBits = slot >> SlotExtraShift;
  const unsigned codeBits = SlotDrop(slot) - extraBits;
  return SlotValue(slot) + static_cast<std::uint32_t>(LowBits(before >> codeBits, extraBits));
}

// Writes a match of len (3 to 258) bytes from dist (1 or more) bytes back at out
// and returns its end. Overlapping matches repeat their pattern, as a byte loop in
// increasing order would. Up to 32 bytes past the end are overwritten: they are
// not yet output and not history. Most matches are short: the first 32 bytes are
// copied whatever the length, which spares a branch that is hard to predict.
//
// CopyNearMatch takes the distances below 8, which are rare; it stays out of the
// loops that copy, so that its registers do not crowd theirs.
std::uint8_t* CopyNearMatch(std::uint8_t* out, std::uint32_t dist, std::uint32_t len);

inline std::uint8_t* CopyMatch(std::uint8_t* out, std::uint32_t dist, std::uint32_t len) {
  if (dist < 8) [[unlikely]]
    return CopyNearMatch(out, dist, len);
  // Words of 8 bytes: each one's source lies before its destination, so it is
  // final. Past the first 32 bytes, a distance of 16 or more allows pieces of 16.
  std::uint8_t* const end = out + len;
  const std::uint8_t* src = out - dist;
  Copy8(out, src);
  Copy8(out + 8, src + 8);
  Copy8(out + 16, src + 16);
  Copy8(out + 24, src + 24);
  out += 32;
  src += 32;
  if (out < end) [[unlikely]] {
    if (dist >= 16) {
      for (; out < end; out += 16, src += 16) std::memcpy(out, src, 16);
    } else {
      for (; out < end; out += 8, src += 8) Copy8(out, src);
    }
  }
  return end;
}

// The fast loop's bit reader. `word` holds the stream's next bits, the first one
// lowest; `count` of them are paid for, their bytes lie before `in`. The bits
// above `count` are the bytes at `in` and after, read ahead by the last refill (or
// zeros): a lookup may see them, and the next refill puts the same bits there
// again. So the buffer needs no masking between refills, only at the loop's end.
struct TFastBits {
  const std::uint8_t* in;
  std::uint64_t word;
  unsigned count;  // 0 to 63

  // Tops the buffer up to 56 bits or more with one unaligned load and no branch:
  // the 8 bytes at `in` go in above the bits held, and `in` moves past the whole
  // bytes that found room. (The "lookahead" refill that Fabian Giesen describes in
  // "Reading bits in far too many ways", part 2.)
  void Refill() {
    word |= Load64(in) << count;
    in += 7 - count / 8;
    count |= 56;
  }
  // Takes off the bits a slot says it uses.
  void Consume(TFastSlot slot) {
    word >>= SlotDrop(slot);
    count -= SlotDrop(slot);
  }
  // The slot of a sub-table that a link leads to, after the link's first-level
  // bits are consumed.
  TFastSlot Follow(const TFastSlot* table, TFastSlot link) {
    Consume(link);
    return table[SlotValue(link) + LowBits(word, SlotExtra(link))];
  }
};

// The fast loop's limits. A turn reads at most TurnInput bytes and moves out on by
// at most TurnOutput, so many turns fit before either limit: the loop looks at the
// limits themselves only once those are used up, or when they are near.
template <class TFormat>
struct TFastLimits {
  using TBounds = TFastBounds<TFormat>;

  const std::uint8_t* inLimit;  // the furthest `in` may be at a look at the limits
  std::uint8_t* outLimit;       // the end of the buffer's last chunk
  std::ptrdiff_t turns = 0;     // turns that may start without a look

  /// True when another turn may start.
  bool Allow(const std::uint8_t* in, const std::uint8_t* out) {
    if (--turns >= 0) [[likely]]
      return true;
    if (in > inLimit || out >= outLimit) return false;
    turns = std::min((inLimit - in) / static_cast<std::ptrdiff_t>(TBounds::TurnInput),
                     (outLimit - out - 1) / static_cast<std::ptrdiff_t>(TBounds::TurnOutput));
    return true;
  }
};

// What the fast loop works with, and where it stops.
template <class TFormat>
struct TFastLoop {
  TFastBits bits;
  TFastLimits<TFormat> limits;
  std::uint8_t* out;
  const std::uint8_t* entryStart;  // the entry's first byte in the buffer
  const TFastSlot* literals;
  const TFastSlot* distances;
};

// How a symbol, or a run of them, ended.
enum class TSymbolResult {
  More,        // the run reached the end of its input or output: go on
  EndOfBlock,  // the block's end code
  BadData,     // a code no symbol owns, or a distance before the entry's first byte
};

template <class TFormat>
using TFastLoopRun = TSymbolResult (*)(TFastLoop<TFormat>&);

/// The fast loop for a literal/length table whose first level is literalBits
/// wide (LiteralTableBits or WideLiteralTableBits), and for output that is a
/// whole history or more into the entry, compiled for this processor. On entry:
/// FastMargin bytes or more from the reader's `in` to the end of the input chunk,
/// out below the limits' outLimit, the reader's count below 64 with zeros above it
/// in its word. The loop stops with TSymbolResult::More at a look at its limits
/// that finds `in` past inLimit or out at outLimit or beyond, having written at
/// most Overshoot bytes past outLimit; or at the end of the block, or at bad data.
template <class TFormat>
TFastLoopRun<TFormat> ChooseFastLoop(unsigned literalBits, bool wholeHistory);
extern template TFastLoopRun<TDeflateFormat> ChooseFastLoop<TDeflateFormat>(unsigned, bool);
extern template TFastLoopRun<TDeflate64Format> ChooseFastLoop<TDeflate64Format>(unsigned, bool);

}  // namespace kestrel::inflating
