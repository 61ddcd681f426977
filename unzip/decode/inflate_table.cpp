// Canonical codes to the fast loop's tables.
//
// The codes are walked in canonical order (by length, equal lengths by symbol),
// holding the current code bit-reversed: the stream sends a code's first bit
// first, and the table is indexed by the buffer's lowest bits, so a code of
// length L owns every first-level slot whose low L bits are its reversed bits.
// Counting up in canonical order is counting at the code's last bit, which in
// the reversed form is bit L - 1, carrying downwards; a longer code continues
// where the shorter ones ended with zeros appended, which leaves the reversed
// form as it is.
//
// Codes longer than the first level share their first-level bits with the codes
// next to them in canonical order: such a run fills one subtree, and gets one
// sub-table as wide as its longest code needs. The width follows from the counts
// alone: the subtree's room at a depth, less the codes of that length still to
// come, is either used up there or doubles at the next depth.

#include "unzip/decode/inflate_table.h"

#include <algorithm>
#include <array>

namespace kestrel {
namespace {

constexpr unsigned MaxCodeBits = 15;
constexpr unsigned MaxSymbols = 288;

struct TSymbolEntry {
  std::uint32_t entry;  // the slot without its bit counts
  unsigned extra;       // extra bits after the code
};

constexpr TSymbolEntry SymbolEntry(TInflateCode code, unsigned v) {
  if (code == TInflateCode::Literal) {
    if (v < 256) return {ieOneLiteral | v << 16, 0};
    if (v == 256) return {ieSpecial | ieEndOfBlock, 0};
    if (v <= 285) return {static_cast<std::uint32_t>(LengthBase[v - 257]) << 16, LengthExtra[v - 257]};
    return {ieInvalid, 0};
  }
  if (v < 30) return {static_cast<std::uint32_t>(DistanceBase[v]) << 16, DistanceExtra[v]};
  return {ieInvalid, 0};
}

constexpr std::uint32_t Slot(TSymbolEntry s, unsigned codeBits) {
  return s.entry | codeBits << 8 | (codeBits + s.extra);
}

constexpr void NextCode(std::uint32_t& reversed, unsigned length) {
  // Add one at the code's last bit, which is bit length - 1 here.
  std::uint32_t bit = 1u << (length - 1);
  while ((reversed & bit) != 0) {
    reversed ^= bit;
    bit >>= 1;
  }
  reversed |= bit;
}

constexpr TCodeResult BuildTable(const std::uint16_t* lengths, unsigned n, TInflateCode code, std::uint32_t* table,
                                 bool& absent, unsigned literalBits, bool pairLiterals) {
  const unsigned tableBits = code == TInflateCode::Literal ? literalBits : DistanceTableBits;
  const unsigned tableSlots = 1u << tableBits;
  absent = false;
  if (n > MaxSymbols) return TCodeResult::OverSubscribed;

  TLengthCount lengthCount;
  if (!CountCodeLengths(lengths, n, MaxCodeBits, lengthCount)) return TCodeResult::OverSubscribed;
  const unsigned* const count = lengthCount.Count;
  if (count[0] == n) {
    absent = true;
    for (unsigned i = 0; i < tableSlots; ++i) table[i] = ieInvalid;
    return TCodeResult::Complete;
  }
  const unsigned shortest = lengthCount.Shortest;
  const unsigned longest = lengthCount.Longest;
  const std::int64_t free = lengthCount.Free;
  if (free < 0) return TCodeResult::OverSubscribed;
  // Every slot of a complete code belongs to some code; an incomplete one leaves
  // slots that must read as invalid.
  const bool incomplete = free != 0;

  // Symbols in canonical order.
  unsigned start[MaxCodeBits + 2] = {};
  for (unsigned k = 1; k <= MaxCodeBits; ++k) start[k + 1] = start[k] + count[k];
  std::uint16_t sorted[MaxSymbols] = {};
  for (unsigned v = 0; v < n; ++v)
    if (lengths[v] != 0) sorted[start[lengths[v]]++] = static_cast<std::uint16_t>(v);
  const unsigned used = n - count[0];

  // The first level is filled at the shortest code's width and doubled, a copy of
  // itself behind it, before each longer length: a code takes one slot of the
  // table as wide as itself, and the copies give it every slot whose higher bits
  // it leaves open.
  std::uint32_t reversed = 0;
  std::uint32_t reversedOf[MaxSymbols] = {};  // of the codes that fit the first level
  unsigned width = shortest < tableBits ? shortest : tableBits;
  if (incomplete)
    for (unsigned i = 0; i < (1u << width); ++i) table[i] = ieInvalid;
  unsigned i = 0;
  for (; i < used && lengths[sorted[i]] <= tableBits; ++i) {
    const unsigned v = sorted[i];
    const unsigned length = lengths[v];
    for (; width < length; ++width) std::copy_n(table, 1u << width, table + (1u << width));
    table[reversed] = Slot(SymbolEntry(code, v), length);
    reversedOf[i] = reversed;
    NextCode(reversed, length);
  }
  for (; width < tableBits; ++width) std::copy_n(table, 1u << width, table + (1u << width));

  unsigned left[MaxCodeBits + 1] = {};  // longer codes of each length not yet placed
  for (unsigned k = tableBits + 1; k <= MaxCodeBits; ++k) left[k] = count[k];
  unsigned nextSlot = tableSlots;  // where the next sub-table goes
  std::uint32_t subPrefix = ~0u;   // first-level slot of the current sub-table
  unsigned subStart = 0, subBits = 0;
  for (; i < used; ++i) {
    const unsigned v = sorted[i];
    const unsigned length = lengths[v];
    const std::uint32_t prefix = reversed & (tableSlots - 1);
    if (prefix != subPrefix) {
      unsigned subWidth = length - tableBits;
      std::int64_t room = std::int64_t{1} << subWidth;
      while (tableBits + subWidth < longest) {
        room -= left[tableBits + subWidth];
        if (room <= 0) break;
        ++subWidth;
        room *= 2;
      }
      subPrefix = prefix;
      subStart = nextSlot;
      subBits = subWidth;
      nextSlot += 1u << subWidth;
      if (incomplete)
        for (unsigned j = 0; j < (1u << subWidth); ++j) table[subStart + j] = ieInvalid;
      table[prefix] = ieSpecial | ieLink | subStart << 16 | subWidth << 8 | tableBits;
    }
    const unsigned rest = length - tableBits;
    const std::uint32_t slot = Slot(SymbolEntry(code, v), rest);
    for (std::uint32_t at = reversed >> tableBits; at < (1u << subBits); at += 1u << rest) table[subStart + at] = slot;
    --left[length];
    NextCode(reversed, length);
  }

  if (pairLiterals && code == TInflateCode::Literal) {
    // Where a slot's bits hold a literal's code and after it the whole code of a
    // second literal, the slot gives both. With the first code's bits fixed, the
    // bits after them are the index k of the slot that decodes the second code,
    // which at that point holds one literal or, already paired, two: its first
    // one and that one's length are what count.
    for (unsigned c = 0; c < used && lengths[sorted[c]] + shortest <= tableBits; ++c) {
      const unsigned firstBits = lengths[sorted[c]];
      if (sorted[c] >= 256) continue;
      const std::uint32_t first = sorted[c] << 16;
      for (std::uint32_t k = 0; k < (1u << (tableBits - firstBits)); ++k) {
        const std::uint32_t second = table[k];
        const unsigned secondBits = (second >> 8) & 15;
        if ((second & ieLiteral) == 0 || firstBits + secondBits > tableBits) continue;
        table[reversedOf[c] | k << firstBits] =
            (second & 0xFF0000) << 8 | first | ieTwoLiterals | firstBits << 8 | (firstBits + secondBits);
      }
    }
  }
  // A lone code of length 1 leaves half the patterns free, and still counts as
  // complete: a compressor may send such a code for a block of one distance.
  return incomplete && longest != 1 ? TCodeResult::Incomplete : TCodeResult::Complete;
}

template <std::size_t Slots>
constexpr std::array<std::uint32_t, Slots> MakeFixedTable(TInflateCode code) {
  // 288 literal/length lengths: 0-143 8 bits, 144-255 9, 256-279 7, 280-287 8;
  // 30 distance codes of 5 bits, an incomplete code (30 and 31 are unused).
  std::uint16_t lengths[288] = {};
  unsigned n = 30;
  if (code == TInflateCode::Literal) {
    n = 288;
    for (unsigned i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  } else {
    for (unsigned i = 0; i < 30; ++i) lengths[i] = 5;
  }
  std::array<std::uint32_t, Slots> table{};
  bool absent = false;
  BuildTable(lengths, n, code, table.data(), absent, LiteralTableBits, false);
  return table;
}

}  // namespace

constexpr std::array<std::uint32_t, 1u << LiteralTableBits> FixedLiteralTable =
    MakeFixedTable<1u << LiteralTableBits>(TInflateCode::Literal);
constexpr std::array<std::uint32_t, 1u << DistanceTableBits> FixedDistanceTable =
    MakeFixedTable<1u << DistanceTableBits>(TInflateCode::Distance);

// Fixed code 0000000 (256, end of block) and 00110000 ('\0'): first bits lowest.
static_assert(FixedLiteralTable[0] == (ieEndOfBlock | ieSpecial | 7 << 8 | 7));
// (Two fixed literal codes take at least 16 bits: no slot holds two.)
static_assert(FixedLiteralTable[0b00001100] == (ieOneLiteral | 0 << 16 | 8 << 8 | 8));
// 11000101 is code 285 (length 258, no extra bits); 11000110 is 286 (invalid).
static_assert(FixedLiteralTable[0b10100011] == (258u << 16 | 8 << 8 | 8));
static_assert((FixedLiteralTable[0b01100011] & (ieLiteral | ieSpecial | ieLink | ieEndOfBlock)) == ieInvalid);
// Distance code 29 (11101): base 24577, 13 extra bits; code 31 is invalid.
static_assert(FixedDistanceTable[0b10111] == (24577u << 16 | 5 << 8 | 18));
static_assert(FixedDistanceTable[0b11111] == ieInvalid);

TCodeResult BuildInflateTable(const std::uint16_t* lengths, unsigned n, TInflateCode code, std::uint32_t* table,
                              bool& absent, unsigned literalBits, bool pairLiterals) {
  if (literalBits != WideLiteralTableBits) literalBits = LiteralTableBits;
  return BuildTable(lengths, n, code, table, absent, literalBits, pairLiterals);
}

}  // namespace kestrel
