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
  constexpr std::uint64_t literalMask = (1u << LiteralBits) - 1;
  constexpr unsigned literalSlotsPerTurn = (RefillBits - LiteralBits) / LiteralBits;
  TFastBits b = f.bits;
  std::uint8_t* out = f.out;
  const TFastSlot* const literals = f.literals;
  const TFastSlot* const distances = f.distances;
  TFastLimits<TFormat> limits = f.limits;
  TSymbolResult result = TSymbolResult::More;

  b.Refill();
  TFastSlot slot = literals[b.word & literalMask];
  for (;;) {
    if (slot & SlotLiteralsMask) {
      for (unsigned n = 0; n < literalSlotsPerTurn; ++n) {
        b.Consume(slot);
        PutLiterals(out, slot);
        slot = literals[b.word & literalMask];
        if (!(slot & SlotLiteralsMask)) break;
      }
    } else {
      if (SlotIsSpecial(slot)) [[unlikely]] {
        if (slot & SlotLink) {
          slot = b.Follow(literals, slot);
          if (slot & SlotLiteralsMask) {  // a literal of a code longer than the first level
            b.Consume(slot);
            PutLiterals(out, slot);
            slot = literals[b.word & literalMask];
            if (!limits.Allow(b.in, out)) break;
            b.Refill();
            continue;
          }
        }
        if (slot & SlotEndOfBlock) {
          b.Consume(slot);
          result = TSymbolResult::EndOfBlock;
          break;
        }
        if (slot & SlotInvalid) {
          result = TSymbolResult::BadData;
          break;
        }
      }

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
        if (SlotIsSpecial(distanceSlot)) {
          result = TSymbolResult::BadData;
          break;
        }
      }
      const std::uint64_t beforeDistance = b.word;
      b.Consume(distanceSlot);
      const std::uint32_t distance = MatchValue(distanceSlot, beforeDistance);
      if constexpr (TFormat::Deflate64) {
        if (b.count < LiteralBits) b.Refill();
      }
      slot = literals[b.word & literalMask];
      // A distance that reaches before the entry's first byte names history the
      // entry does not have. Other decoders reject such a stream; so do we, rather
      // than copy whatever an earlier entry left in the buffer.
      if (!WholeHistory && distance > static_cast<std::size_t>(out - f.entryStart)) {
        result = TSymbolResult::BadData;
        break;
      }
      out = CopyMatch(out, distance, length);
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
