// Inflate's fast loop.

#include "unzip/decode/inflate_fast.h"

namespace kestrel::inflating {

[[gnu::noinline]] std::uint8_t* CopyNearMatch(std::uint8_t* out, std::uint32_t dist, std::uint32_t len) {
  std::uint8_t* const end = out + len;
  const std::uint8_t* src = out - dist;
  if (dist == 1) {
    const std::uint64_t v = *src * std::uint64_t{0x0101010101010101};
    std::uint8_t pattern[16];
    std::memcpy(pattern, &v, 8);
    std::memcpy(pattern + 8, &v, 8);
    for (; out < end; out += 16) std::memcpy(out, pattern, 16);
  } else {
    // A period of 2 to 7 bytes. The first word is the period doubled in a
    // register until it fills 8 bytes; after it come words from a whole number
    // of periods back, 8 bytes or more, so that each one copies what is already
    // written.
    constexpr std::uint8_t WordStride[8] = {0, 0, 8, 9, 8, 10, 12, 14};
    std::uint64_t pattern = LowBits(Load64(src), 8 * dist);
    pattern |= pattern << (8 * dist);
    if (dist < 4) pattern |= pattern << (16 * dist);
    if constexpr (std::endian::native == std::endian::big) pattern = __builtin_bswap64(pattern);
    std::memcpy(out, &pattern, 8);
    for (out += 8; out < end; out += 8) Copy8(out, out - WordStride[dist]);
  }
  return end;
}

namespace {

// The steps of a turn of the fast loop, inlined into it: the loop's bit reader,
// output pointer and tables stay in registers throughout.

// The slot of the symbol at the front of the buffer in the literal/length table's
// first level.
template <unsigned LiteralBits>
[[gnu::always_inline]] inline TFastSlot LookUpLiteral(const TFastSlot* literals, const TFastBits& b) {
  return literals[b.word & ((std::uint64_t{1} << LiteralBits) - 1)];
}

// Literal slots one after the other, as many as the bits of a refill hold
// together with the lookup after the last one; returns the slot of the symbol
// that follows them.
template <unsigned LiteralBits>
[[gnu::always_inline]] inline TFastSlot PutLiteralRun(TFastBits& b, std::uint8_t*& out, const TFastSlot* literals,
                                                      TFastSlot slot) {
  constexpr unsigned literalSlotsPerTurn = (RefillBits - LiteralBits) / LiteralBits;
  for (unsigned n = 0; n < literalSlotsPerTurn; ++n) {
    b.Consume(slot);
    PutLiterals(out, slot);
    slot = LookUpLiteral<LiteralBits>(literals, b);
    if (!(slot & SlotLiteralsMask)) break;
  }
  return slot;
}

// What a literal/length slot that is not a literal turned out to be.
enum class TSlotKind {
  Literal,     // a literal of a code longer than the first level, written
  Length,      // a length, whose slot is now in hand
  EndOfBlock,  // the block's end code, consumed
  Invalid,     // a pattern no symbol owns
};

// A link, the end of the block or an invalid pattern: follows a link to its
// sub-table, where a literal is written at once (and the next symbol's slot
// looked up) and a length comes back in slot.
template <unsigned LiteralBits>
[[gnu::always_inline]] inline TSlotKind FollowSpecialSlot(TFastBits& b, std::uint8_t*& out, const TFastSlot* literals,
                                                          TFastSlot& slot) {
  if (slot & SlotLink) {
    slot = b.Follow(literals, slot);
    if (slot & SlotLiteralsMask) {
      b.Consume(slot);
      PutLiterals(out, slot);
      slot = LookUpLiteral<LiteralBits>(literals, b);
      return TSlotKind::Literal;
    }
  }
  if (slot & SlotEndOfBlock) {
    b.Consume(slot);
    return TSlotKind::EndOfBlock;
  }
  return slot & SlotInvalid ? TSlotKind::Invalid : TSlotKind::Length;
}

// A match: the length of the slot in hand, its distance, then the lookup of the
// next symbol into slot, made before the copy so that the table read overlaps
// it (as libdeflate's decompressor does: the processor loads the next slot while
// it copies); then the copy. False for a pattern no distance owns, or a distance before
// the entry's first byte.
template <class TFormat, unsigned LiteralBits, bool WholeHistory>
[[gnu::always_inline]] inline bool DecodeMatch(TFastBits& b, std::uint8_t*& out, TFastSlot& slot,
                                               const TFastSlot* literals, const TFastSlot* distances,
                                               const std::uint8_t* entryStart) {
  const std::uint64_t beforeLength = b.word;
  b.Consume(slot);
  const std::uint32_t length = MatchValue(slot, beforeLength);
  if constexpr (TFormat::Deflate64) {
    if (b.count < MaxDistance64Bits) b.Refill();
  }
  TFastSlot distanceSlot = distances[b.word & DistanceMask];
  if (SlotIsSpecial(distanceSlot)) [[unlikely]] {
    if (distanceSlot & SlotLink) distanceSlot = b.Follow(distances, distanceSlot);
    // A pattern no distance owns, or a block without distance codes.
    if (SlotIsSpecial(distanceSlot)) return false;
  }
  const std::uint64_t beforeDistance = b.word;
  b.Consume(distanceSlot);
  const std::uint32_t distance = MatchValue(distanceSlot, beforeDistance);
  if constexpr (TFormat::Deflate64) {
    if (b.count < LiteralBits) b.Refill();
  }
  slot = LookUpLiteral<LiteralBits>(literals, b);
  // A distance that reaches before the entry's first byte names history the
  // entry does not have. Other decoders reject such a stream; so do we, rather
  // than copy whatever an earlier entry left in the buffer.
  if (!WholeHistory && distance > static_cast<std::size_t>(out - entryStart)) return false;
  out = CopyMatch(out, distance, length);
  return true;
}

// The fast loop. On entry: FastMargin bytes or more from `in` to the end of the
// input chunk, out below outLimit, count below 64 with zeros above it in word. It
// stops with TSymbolResult::More at a look at its limits that finds `in` past
// inLimit or out at outLimit or beyond, having written at most Overshoot bytes
// past outLimit.
//
// The loop goes in turns, each started with the buffer refilled and the slot of
// its first symbol in hand, and ended with a look at the limits and a refill. A
// turn decodes literal slots, as many as the bits of a refill hold together with
// the lookup after the last one (a run of literals takes as many turns as it
// needs), or one match, or a literal of a code longer than the first level. A
// Deflate length and its distance take at most 48 bits of the refill, which
// leaves bits enough for the lookup of the next symbol: it is made before the
// match is copied, so that the table read overlaps the copy. A Deflate64 length
// and distance may take up to 60 bits: the buffer is refilled when it holds too few
// for the distance, or for the lookup after it.
// LiteralBits: the width of the literal/length table's first level. WholeHistory:
// 32 KiB or more of the entry lie before out, so that no distance can reach before
// the entry's first byte.
template <class TFormat, unsigned LiteralBits, bool WholeHistory>
[[gnu::always_inline]] inline TSymbolResult RunFastLoop(TFastLoop<TFormat>& f) {
  TFastBits b = f.bits;
  std::uint8_t* out = f.out;
  const TFastSlot* const literals = f.literals;
  const TFastSlot* const distances = f.distances;
  const std::uint8_t* const entryStart = f.entryStart;
  TFastLimits<TFormat> limits = f.limits;
  TSymbolResult result = TSymbolResult::More;

  b.Refill();
  TFastSlot slot = LookUpLiteral<LiteralBits>(literals, b);
  for (;;) {
    if (slot & SlotLiteralsMask) {
      slot = PutLiteralRun<LiteralBits>(b, out, literals, slot);
    } else {
      TSlotKind kind = TSlotKind::Length;
      if (SlotIsSpecial(slot)) [[unlikely]]
        kind = FollowSpecialSlot<LiteralBits>(b, out, literals, slot);
      if (kind == TSlotKind::EndOfBlock || kind == TSlotKind::Invalid) {
        result = kind == TSlotKind::EndOfBlock ? TSymbolResult::EndOfBlock : TSymbolResult::BadData;
        break;
      }
      if (kind == TSlotKind::Length &&
          !DecodeMatch<TFormat, LiteralBits, WholeHistory>(b, out, slot, literals, distances, entryStart)) {
        result = TSymbolResult::BadData;
        break;
      }
    }
    if (!limits.Allow(b.in, out)) break;
    b.Refill();
  }
  f.bits = b;
  f.out = out;
  return result;
}

template <class TFormat, unsigned LiteralBits, bool WholeHistory>
TSymbolResult RunFastLoopPlain(TFastLoop<TFormat>& f) {
  return RunFastLoop<TFormat, LiteralBits, WholeHistory>(f);
}
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTREL_INFLATE_BMI 1
// The loop shifts by counts held in registers and keeps the low bits of values at
// nearly every step. Processors with BMI1 and BMI2 do each in one instruction that
// needs no fixed count register; the same loop compiled for them is faster.
template <class TFormat, unsigned LiteralBits, bool WholeHistory>
[[gnu::target("bmi,bmi2")]] TSymbolResult RunFastLoopBmi(TFastLoop<TFormat>& f) {
  return RunFastLoop<TFormat, LiteralBits, WholeHistory>(f);
}
#endif

}  // namespace

template <class TFormat>
TFastLoopRun<TFormat> ChooseFastLoop(unsigned literalBits, bool wholeHistory) {
  constexpr unsigned Narrow = LiteralTableBits;
  constexpr unsigned Wide = WideLiteralTableBits;
  const bool wide = literalBits == Wide;
#ifdef KESTREL_INFLATE_BMI
  // The compiler's runtime keeps the processor's answer.
  if (__builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) {
    if (wide) return wholeHistory ? RunFastLoopBmi<TFormat, Wide, true> : RunFastLoopBmi<TFormat, Wide, false>;
    return wholeHistory ? RunFastLoopBmi<TFormat, Narrow, true> : RunFastLoopBmi<TFormat, Narrow, false>;
  }
#endif
  if (wide) return wholeHistory ? RunFastLoopPlain<TFormat, Wide, true> : RunFastLoopPlain<TFormat, Wide, false>;
  return wholeHistory ? RunFastLoopPlain<TFormat, Narrow, true> : RunFastLoopPlain<TFormat, Narrow, false>;
}

template TFastLoopRun<TDeflateFormat> ChooseFastLoop<TDeflateFormat>(unsigned, bool);
template TFastLoopRun<TDeflate64Format> ChooseFastLoop<TDeflate64Format>(unsigned, bool);

}  // namespace kestrel::inflating
