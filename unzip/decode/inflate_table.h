#pragma once
// The decoding tables of inflate's fast loop.
//
// The loop's every step is: look a slot up by the low bits of the bit buffer, shift
// the buffer by what the slot says, and act on the slot. So a slot carries the shift
// in its lowest six bits, where the processor's variable shifts take their count
// from, and the loop shifts by the slot as it comes; what the slot decodes to sits
// above that. A literal slot gives one byte, or two where the table's bits hold two
// whole literal codes, ready to be stored as they lie. A length or distance slot
// gives the base and the number of extra bits, and its shift takes the extra bits
// too, so one shift consumes the whole symbol; the extra bits are then read from
// the buffer as it stood before the shift, where they follow the code's bits.
// (Consuming code and extra bits in one shift and taking the extra bits from the
// word saved before it is how Eric Biggers' libdeflate decompressor reads a
// length or distance.) A code longer than the first level leads through a link
// slot to a sub-table, sized for the run of codes that share its first-level bits.
//
// A slot of two literals is the idea of the double-symbol tables of Zstandard's
// Huffman decoder: where two whole codes fit the bits one lookup resolves, the
// slot gives both symbols, and the shift consumes both codes.
//
// The code tables of code_table.h stay: the code-length code of a dynamic block
// and the symbol-by-symbol decoding next to an input refill are read through
// them, and explode builds its trees with them.

#include <array>
#include <cstdint>

#include "unzip/decode/code_table.h"
#include "unzip/decode/deflate_format.h"

namespace kestrel {

/// Base lengths and extra bits of length codes 257-285; codes 286 and 287 may be
/// coded in a fixed block but mean nothing (extra 99 makes them invalid in the
/// code tables of code_table.h).
inline constexpr std::uint16_t LengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27, 31,
                                                 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
inline constexpr std::uint8_t LengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                                 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
/// Base distances and extra bits of distance codes 0-29.
inline constexpr std::uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static_assert(LengthBase[28] == 258 && LengthBase[27] + (1 << LengthExtra[27]) - 1 == 258);
static_assert(DistanceBase[29] + (1 << DistanceExtra[29]) - 1 == 32768);

/// Deflate64, the format with a 64 KiB window, differs in three codes: length code
/// 285 is a length of 3 plus 16 extra bits (up to 65,538), and distance codes 30 and
/// 31 reach back to 65,536 with 14 extra bits each.
inline constexpr std::uint16_t Length64Base[31] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19, 23, 27, 31,
                                                   35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,  0,  0};
inline constexpr std::uint8_t Length64Extra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2,  2,  2, 2,
                                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
inline constexpr std::uint16_t Distance64Base[32] = {
    1,   2,   3,   4,   5,    7,    9,    13,   17,   25,   33,   49,    65,    97,    129,   193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
inline constexpr std::uint8_t Distance64Extra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                     7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
static_assert(Length64Base[28] + (1 << Length64Extra[28]) - 1 == 65538);
static_assert(Distance64Base[31] + (1 << Distance64Extra[31]) - 1 == 65536);

/// The rows of the format a table is built for: the bases and extra bits of length
/// codes 257-287 and of the distance codes, and how many distance codes mean
/// something (the others are invalid).
struct TInflateRows {
  const std::uint16_t* LengthBase;
  const std::uint8_t* LengthExtra;
  const std::uint16_t* DistanceBase;
  const std::uint8_t* DistanceExtra;
  unsigned DistanceCodes;
};
inline constexpr TInflateRows DeflateRows = {LengthBase, LengthExtra, DistanceBase, DistanceExtra,
                                             DeflateDistanceCodes};
inline constexpr TInflateRows Deflate64Rows = {Length64Base, Length64Extra, Distance64Base, Distance64Extra,
                                               Deflate64DistanceCodes};

/// First-level widths: a literal/length table resolves 11 bits, or 12 where that
/// lets two literal codes share a slot; a distance table resolves 8. Longer codes
/// continue in a sub-table behind the first level.
inline constexpr unsigned LiteralTableBits = 11;
inline constexpr unsigned WideLiteralTableBits = 12;
inline constexpr unsigned DistanceTableBits = 8;
/// Slots of the two tables, sub-tables included. A sub-table holds at most
/// 2^(15 - first-level width) slots and there is at most one per code longer
/// than the first level (288 literal/length codes, 32 distance codes).
inline constexpr unsigned LiteralTableSize =
    (1u << WideLiteralTableBits) + FixedLiteralLengthCodes * (1u << (15 - LiteralTableBits));
inline constexpr unsigned DistanceTableSize =
    (1u << DistanceTableBits) + FixedDistanceCodes * (1u << (15 - DistanceTableBits));

/// One slot of a fast table, 32 bits:
///   bits 0-5    Drop: the bits the slot takes off the buffer. A literal slot: its
///               code's bits (both codes' in a slot of two literals). A length or
///               distance: the code's bits at this level and the extra bits after
///               them. The end of the block: its code's bits. A link: the first
///               level's width. An invalid pattern: 0.
///   bits 6-7    Literals: how many literals the slot writes, 1 or 2; 0 in every
///               other kind of slot, so that one test tells literals apart.
///   bits 8-23   Value. A literal slot: the first literal in bits 8-15, the second
///               one in bits 16-23. A length or distance: its base. A link: the
///               sub-table's first slot.
///   bits 24-28  Extra. A length or distance: the number of extra bits, 0 to 16
///               (its code's bits are Drop less Extra). A literal slot: the first literal's
///               code bits. A link: the sub-table's index width.
///   bit 29      a link to a sub-table
///   bit 30      the end of the block
///   bit 31      a bit pattern that no symbol owns
/// A length or distance slot has none of the three flags, so it reads as below
/// SlotLink, and its Extra field is the slot shifted down by SlotExtraShift.
using TFastSlot = std::uint32_t;

inline constexpr TFastSlot SlotDropMask = 0x3F;
inline constexpr unsigned SlotLiteralsShift = 6;
inline constexpr TFastSlot SlotLiteralsMask = 3u << SlotLiteralsShift;
inline constexpr unsigned SlotValueShift = 8;
inline constexpr unsigned SlotExtraShift = 24;
inline constexpr TFastSlot SlotLink = 1u << 29;
inline constexpr TFastSlot SlotEndOfBlock = 1u << 30;
inline constexpr TFastSlot SlotInvalid = 1u << 31;

constexpr unsigned SlotDrop(TFastSlot slot) { return slot & SlotDropMask; }
constexpr unsigned SlotLiterals(TFastSlot slot) { return (slot >> SlotLiteralsShift) & 3; }
constexpr std::uint32_t SlotValue(TFastSlot slot) { return (slot >> SlotValueShift) & 0xFFFF; }
constexpr unsigned SlotExtra(TFastSlot slot) { return (slot >> SlotExtraShift) & 31; }
/// A link, the end of the block or an invalid pattern: anything but a literal, a
/// length or a distance.
constexpr bool SlotIsSpecial(TFastSlot slot) { return slot >= SlotLink; }

/// Which symbols a table decodes.
enum class TInflateCode { Literal, Distance };

/// Builds the table of the code given by n code lengths (0 = symbol unused, at
/// most 15) into table, which holds LiteralTableSize or DistanceTableSize
/// slots, with the lengths and distances of rows. Literal/length symbols 0-255 are
/// literals, 256 ends the block, 257-285 are lengths and 286-287 invalid; distance
/// symbols below rows.DistanceCodes are distances and the others invalid. Results as BuildCodeTable's (Complete,
/// Incomplete, OverSubscribed), with the same rule that a lone code of length 1 is complete. absent is set when every
/// length is 0: the table then decodes every pattern as invalid. Unused patterns of an incomplete code decode as
/// invalid; an over-subscribed code leaves the table undefined. A literal/length table's first level is literalBits
/// wide (LiteralTableBits or WideLiteralTableBits). pairLiterals makes slots of two literals where the first level's
/// bits hold two whole literal codes: they take as long to find as the table to fill, so they pay only in a long block.
TCodeResult BuildInflateTable(const std::uint16_t* lengths, unsigned n, TInflateCode code, const TInflateRows& rows,
                              TFastSlot* table, bool& absent, unsigned literalBits = LiteralTableBits,
                              bool pairLiterals = false);

/// The tables of the fixed codes of the format and of Deflate64 (whose fixed
/// distance code has all 32 codes), built at compile time.
extern const std::array<TFastSlot, 1u << LiteralTableBits> FixedLiteralTable;
extern const std::array<TFastSlot, 1u << DistanceTableBits> FixedDistanceTable;
extern const std::array<TFastSlot, 1u << LiteralTableBits> FixedLiteral64Table;
extern const std::array<TFastSlot, 1u << DistanceTableBits> FixedDistance64Table;

}  // namespace kestrel
