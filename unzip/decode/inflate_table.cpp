// Canonical codes to the fast loop's tables.
//
// In canonical order (by length, equal lengths by symbol) the codes count upwards
// as bit strings whose first bit is the highest. The table is indexed by the bit
// buffer's lowest bits, where the stream's first bit lies, so a code is placed by
// its bits reversed: a code of L bits owns the slots whose low L bits are its
// reversed bits, one slot in every 2^L.
//
// The codes longer than the first level that share their first-level bits are
// neighbours in canonical order, and the last of such a run is its longest. The
// run gets one sub-table, as wide as that code has bits beyond the first level,
// behind a link in the slot of the shared bits, and its codes are placed there as
// the short ones are in the first level.

#include "unzip/decode/inflate_table.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr unsigned MaxCodeBits = 15;
constexpr unsigned MaxSymbols = FixedLiteralLengthCodes;

// What a symbol decodes to, before the bits of its code are known: the slot's
// Literals, Value and flags, and the extra bits that follow the code.
struct TMeaning {
  TFastSlot fields;
  unsigned extra;
};

constexpr TMeaning MeaningOf(TInflateCode code, const TInflateRows& rows, unsigned symbol) {
  if (code == TInflateCode::Literal) {
    if (symbol < LiteralSymbols) return {1u << SlotLiteralsShift | symbol << SlotValueShift, 0};
    if (symbol == EndOfBlockSymbol) return {SlotEndOfBlock, 0};
    if (symbol < LiteralLengthCodes)
      return {TFastSlot{rows.LengthBase[symbol - FirstLengthSymbol]} << SlotValueShift,
              rows.LengthExtra[symbol - FirstLengthSymbol]};
  } else if (symbol < rows.DistanceCodes) {
    return {TFastSlot{rows.DistanceBase[symbol]} << SlotValueShift, rows.DistanceExtra[symbol]};
  }
  return {SlotInvalid, 0};
}

// The slot of a symbol whose code has codeBits bits at the table level it is
// placed in.
constexpr TFastSlot SymbolSlot(TMeaning meaning, unsigned codeBits) {
  if (meaning.fields & SlotInvalid) return SlotInvalid;
  // A literal's Extra field keeps its code's bits, for the decoding of the first
  // literal alone; a length's or distance's keeps its extra bits.
  if (meaning.fields & SlotLiteralsMask) return meaning.fields | codeBits << SlotExtraShift | codeBits;
  return meaning.fields | meaning.extra << SlotExtraShift | (codeBits + meaning.extra);
}

constexpr TFastSlot LinkSlot(unsigned start, unsigned width, unsigned firstLevelBits) {
  return SlotLink | width << SlotExtraShift | start << SlotValueShift | firstLevelBits;
}

// The canonical code after `reversed`, a code of `length` bits held reversed:
// counting up adds one at the code's last bit, which reversed is bit length - 1,
// with the carry running downwards. A longer code goes on from the shorter ones
// with zeros appended, which leaves the reversed form as it is.
constexpr void NextCode(std::uint32_t& reversed, unsigned length) {
  std::uint32_t bit = 1u << (length - 1);
  while ((reversed & bit) != 0) {
    reversed ^= bit;
    bit >>= 1;
  }
  reversed |= bit;
}

// Every slot of a sub-table of `slots` slots whose index ends in the `codeBits`
// bits `index` gets `slot`.
constexpr void PlaceCode(TFastSlot* table, unsigned slots, std::uint32_t index, unsigned codeBits, TFastSlot slot) {
  for (std::uint32_t at = index; at < slots; at += 1u << codeBits) table[at] = slot;
}

// Where the first-level bits hold a literal's code and after it the whole code of
// a second literal, the slot gives both. Such a slot's index is the first code's
// reversed bits, then the second's, then any bits: each pair of literal codes that
// fits the first level fills the slots it owns, as a code of their joint length
// would. The literals come in canonical order, shortest first, so the second ones
// for a first stop at the first that no longer fits.
constexpr void PairLiterals(TFastSlot* table, unsigned tableBits, const std::uint16_t* symbols,
                            const std::uint32_t* reversed, const std::uint16_t* lengths, unsigned used) {
  std::uint16_t literal[LiteralSymbols] = {};
  std::uint32_t literalCode[LiteralSymbols] = {};
  unsigned literals = 0;
  for (unsigned i = 0; i < used; ++i)
    if (symbols[i] < LiteralSymbols) {
      literal[literals] = symbols[i];
      literalCode[literals++] = reversed[i];
    }
  for (unsigned a = 0; a < literals; ++a) {
    const unsigned firstBits = lengths[literal[a]];
    const TFastSlot first = TFastSlot{literal[a]} << SlotValueShift | firstBits << SlotExtraShift;
    for (unsigned b = 0; b < literals; ++b) {
      const unsigned bits = firstBits + lengths[literal[b]];
      if (bits > tableBits) break;
      const TFastSlot pair = first | TFastSlot{literal[b]} << (SlotValueShift + 8) | 2u << SlotLiteralsShift | bits;
      for (std::uint32_t at = literalCode[a] | literalCode[b] << firstBits; at < (1u << tableBits); at += 1u << bits)
        table[at] = pair;
    }
  }
}

constexpr TCodeResult BuildTable(const std::uint16_t* lengths, unsigned n, TInflateCode code, const TInflateRows& rows,
                                 TFastSlot* table, bool& absent, unsigned literalBits, bool pairLiterals) {
  const unsigned tableBits = code == TInflateCode::Literal ? literalBits : DistanceTableBits;
  const unsigned firstSlots = 1u << tableBits;
  absent = false;
  if (n > MaxSymbols) return TCodeResult::OverSubscribed;

  TLengthCount counted;
  if (!CountCodeLengths(lengths, n, MaxCodeBits, counted)) return TCodeResult::OverSubscribed;
  if (counted.Count[0] == n) {
    absent = true;
    std::fill_n(table, firstSlots, SlotInvalid);
    return TCodeResult::Complete;
  }
  if (counted.Free < 0) return TCodeResult::OverSubscribed;
  // The patterns an incomplete code leaves to no symbol must read as invalid.
  const bool incomplete = counted.Free != 0;

  // The symbols in canonical order, and their codes reversed.
  unsigned start[MaxCodeBits + 1] = {};
  for (unsigned k = 2; k <= MaxCodeBits; ++k) start[k] = start[k - 1] + counted.Count[k - 1];
  std::uint16_t symbols[MaxSymbols] = {};
  for (unsigned v = 0; v < n; ++v)
    if (lengths[v] != 0) symbols[start[lengths[v]]++] = static_cast<std::uint16_t>(v);
  const unsigned used = n - counted.Count[0];
  std::uint32_t reversed[MaxSymbols] = {};
  std::uint32_t next = 0;
  for (unsigned i = 0; i < used; ++i) {
    reversed[i] = next;
    NextCode(next, lengths[symbols[i]]);
  }

  // The codes that end within the first level, shortest first. A code of L bits
  // owns every 2^L-th slot, so the level is filled as wide as the code at hand
  // and doubled, its slots copied above themselves, whenever the codes grow longer.
  // (libdeflate builds its decode tables so: every slot is written once at the
  // width of its code, the copies fill the rest.)
  unsigned width = std::min(counted.Shortest, tableBits);
  if (incomplete) std::fill_n(table, 1u << width, SlotInvalid);
  unsigned i = 0;
  for (; i < used && lengths[symbols[i]] <= tableBits; ++i) {
    const unsigned length = lengths[symbols[i]];
    for (; width < length; ++width) std::copy_n(table, 1u << width, table + (1u << width));
    table[reversed[i]] = SymbolSlot(MeaningOf(code, rows, symbols[i]), length);
  }
  for (; width < tableBits; ++width) std::copy_n(table, 1u << width, table + (1u << width));

  unsigned subTable = firstSlots;
  while (i < used) {
    const std::uint32_t shared = reversed[i] & (firstSlots - 1);
    unsigned end = i + 1;
    while (end < used && (reversed[end] & (firstSlots - 1)) == shared) ++end;
    const unsigned width = lengths[symbols[end - 1]] - tableBits;
    const unsigned slots = 1u << width;
    if (incomplete) std::fill_n(table + subTable, slots, SlotInvalid);
    table[shared] = LinkSlot(subTable, width, tableBits);
    for (; i < end; ++i) {
      const unsigned rest = lengths[symbols[i]] - tableBits;
      PlaceCode(table + subTable, slots, reversed[i] >> tableBits, rest,
                SymbolSlot(MeaningOf(code, rows, symbols[i]), rest));
    }
    subTable += slots;
  }

  if (pairLiterals && code == TInflateCode::Literal) PairLiterals(table, tableBits, symbols, reversed, lengths, used);
  // A lone code of length 1 leaves half the patterns free, and still counts as
  // complete: a compressor may send such a code for a block of one distance.
  return incomplete && counted.Longest != 1 ? TCodeResult::Incomplete : TCodeResult::Complete;
}

template <std::size_t Slots>
constexpr std::array<TFastSlot, Slots> MakeFixedTable(TInflateCode code, const TInflateRows& rows) {
  // The fixed distance code's 32 lengths: of Deflate's 30 distance codes that is
  // an incomplete code, and codes 30 and 31 are invalid.
  const bool literal = code == TInflateCode::Literal;
  const std::uint16_t* const lengths = literal ? FixedLiteralLengths.data() : FixedDistanceLengths.data();
  const unsigned n = literal ? FixedLiteralLengthCodes : rows.DistanceCodes;
  std::array<TFastSlot, Slots> table{};
  bool absent = false;
  BuildTable(lengths, n, code, rows, table.data(), absent, LiteralTableBits, false);
  return table;
}

}  // namespace

constexpr std::array<TFastSlot, 1u << LiteralTableBits> FixedLiteralTable =
    MakeFixedTable<1u << LiteralTableBits>(TInflateCode::Literal, DeflateRows);
constexpr std::array<TFastSlot, 1u << DistanceTableBits> FixedDistanceTable =
    MakeFixedTable<1u << DistanceTableBits>(TInflateCode::Distance, DeflateRows);
constexpr std::array<TFastSlot, 1u << LiteralTableBits> FixedLiteral64Table =
    MakeFixedTable<1u << LiteralTableBits>(TInflateCode::Literal, Deflate64Rows);
constexpr std::array<TFastSlot, 1u << DistanceTableBits> FixedDistance64Table =
    MakeFixedTable<1u << DistanceTableBits>(TInflateCode::Distance, Deflate64Rows);

// Fixed code 0000000 is 256, the end of the block; 00110000 is '\0'. The table
// index holds a code's first bit lowest.
static_assert(FixedLiteralTable[0] == (SlotEndOfBlock | 7));
static_assert(FixedLiteralTable[0b00001100] == (1u << SlotLiteralsShift | 8u << SlotExtraShift | 8));
// 11000101 is code 285, length 258 without extra bits; 11000110 is 286, invalid.
static_assert(FixedLiteralTable[0b10100011] == (258u << SlotValueShift | 8));
static_assert(FixedLiteralTable[0b01100011] == SlotInvalid);
// Distance code 29 (11101): base 24577, 13 extra bits; code 31 is invalid.
static_assert(FixedDistanceTable[0b10111] == (24577u << SlotValueShift | 13u << SlotExtraShift | 18));
static_assert(FixedDistanceTable[0b11111] == SlotInvalid);
// In Deflate64, 285 is a length of 3 with 16 extra bits, and 31 a distance of 49153
// with 14.
static_assert(FixedLiteral64Table[0b10100011] == (3u << SlotValueShift | 16u << SlotExtraShift | 24));
static_assert(FixedDistance64Table[0b11111] == (49153u << SlotValueShift | 14u << SlotExtraShift | 19));
// Two fixed literal codes take at least 16 bits: no fixed slot holds two.

TCodeResult BuildInflateTable(const std::uint16_t* lengths, unsigned n, TInflateCode code, const TInflateRows& rows,
                              TFastSlot* table, bool& absent, unsigned literalBits, bool pairLiterals) {
  if (literalBits != WideLiteralTableBits) literalBits = LiteralTableBits;
  return BuildTable(lengths, n, code, rows, table, absent, literalBits, pairLiterals);
}

}  // namespace kestrel
