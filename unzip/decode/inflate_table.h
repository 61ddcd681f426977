#pragma once
// The decoding tables of inflate's fast loop: one 32-bit word per slot that says
// everything a symbol needs, so that a literal, or a length or distance with its
// extra bits, costs one lookup (two for the few codes longer than the first
// level) and one shift of the bit buffer.
//
// The code tables of code_table.h stay: the code-length code of a dynamic block
// and the symbol-by-symbol decoding next to an input refill are read through
// them, and explode builds its trees with them.

#include <array>
#include <cstdint>

#include "unzip/decode/code_table.h"

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

/// First-level widths: a literal/length table resolves 11 bits, or 12 where that
/// lets two literal codes share a slot; a distance table resolves 8. Longer codes
/// continue in a sub-table behind the first level.
inline constexpr unsigned LiteralTableBits = 11;
inline constexpr unsigned WideLiteralTableBits = 12;
inline constexpr unsigned DistanceTableBits = 8;
/// Slots of the two tables, sub-tables included. A sub-table holds at most
/// 2^(15 - first-level width) slots and there is at most one per code longer
/// than the first level (288 literal/length codes, 30 distance codes).
inline constexpr unsigned LiteralTableSize = (1u << WideLiteralTableBits) + 288 * (1u << (15 - LiteralTableBits));
inline constexpr unsigned DistanceTableSize = (1u << DistanceTableBits) + 30 * (1u << (15 - DistanceTableBits));

/// One slot, 32 bits. A literal slot (bits 12-13 not both clear):
///   bits 0-7   bits the slot takes off the bit buffer: the codes of its literals
///   bits 8-11  the bits of the first literal's code
///   bits 12-13 how many literals the slot holds: 1, or 2 where the first-level
///              bits hold a second whole code after the first
///   bits 16-23 the first literal; bits 24-31 the second
/// Any other slot (bits 12-13 clear):
///   bits 0-7   bits the slot takes off the bit buffer: the code bits resolved at
///              this level plus the extra bits that follow the code (for a link,
///              the first level's width)
///   bits 8-11  the code bits resolved at this level; the extra bits start there
///              (for a link, the sub-table's width)
///   bit 14     with bit 15: a link to the sub-table that starts at the slot in
///              bits 16-30
///   bit 15     not a length or distance: a link, the end of the block, or, alone,
///              a bit pattern no symbol owns (an invalid code)
///   bits 16-30 the base length or distance, or the sub-table's first slot
///   bit 31     with bit 15: the end of the block
inline constexpr std::uint32_t ieLiteral = 0x3000u;
inline constexpr std::uint32_t ieOneLiteral = 0x1000u;
inline constexpr std::uint32_t ieTwoLiterals = 0x2000u;
inline constexpr std::uint32_t ieSpecial = 0x8000u;
inline constexpr std::uint32_t ieLink = 0x4000u;
inline constexpr std::uint32_t ieEndOfBlock = 0x80000000u;
inline constexpr std::uint32_t ieInvalid = ieSpecial;

/// Which symbols a table decodes.
enum class TInflateCode { Literal, Distance };

/// Builds the table of the code given by n code lengths (0 = symbol unused, at
/// most 15) into table, which holds LiteralTableSize or DistanceTableSize
/// slots. Literal/length symbols 0-255 are literals, 256 ends the block, 257-285
/// are lengths and 286-287 invalid; distance symbols 0-29 are distances and 30-31
/// invalid. Results as BuildCodeTable's (Complete, Incomplete, OverSubscribed),
/// with the same rule that a lone code of length 1 is complete. absent is set
/// when every length is 0: the table then decodes every pattern as invalid.
/// Unused patterns of an incomplete code decode as invalid; an over-subscribed
/// code leaves the table undefined. A literal/length table's first level is
/// literalBits wide (LiteralTableBits or WideLiteralTableBits). pairLiterals
/// makes slots of two literals where the first level's bits hold two whole
/// literal codes: they take as long to find as the table to fill, so they pay
/// only in a long block.
TCodeResult BuildInflateTable(const std::uint16_t* lengths, unsigned n, TInflateCode code, std::uint32_t* table,
                              bool& absent, unsigned literalBits = LiteralTableBits, bool pairLiterals = false);

/// The tables of the fixed codes of the format, built at compile time.
extern const std::array<std::uint32_t, 1u << LiteralTableBits> FixedLiteralTable;
extern const std::array<std::uint32_t, 1u << DistanceTableBits> FixedDistanceTable;

}  // namespace kestrel
