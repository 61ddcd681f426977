#pragma once
// The counts of the Deflate format and of Deflate64, named once: the code
// alphabets, the fields of a dynamic block's header, and the fixed code.

#include <array>
#include <cstdint>

namespace kestrel {

/// Literal/length symbols: 0-255 literals, 256 the end of a block, 257-285
/// lengths: 286 that a dynamic block may send. The fixed code gives lengths to
/// 288, the last two meaning nothing.
inline constexpr unsigned LiteralSymbols = 256;
inline constexpr unsigned EndOfBlockSymbol = 256;
inline constexpr unsigned FirstLengthSymbol = 257;
inline constexpr unsigned LiteralLengthCodes = 286;
inline constexpr unsigned FixedLiteralLengthCodes = 288;
/// Distance codes: 30 in Deflate, whose fixed code's five bits give 32 (the last
/// two meaning nothing); Deflate64 gives codes 30 and 31 their 64 KiB distances.
inline constexpr unsigned DeflateDistanceCodes = 30;
inline constexpr unsigned Deflate64DistanceCodes = 32;
inline constexpr unsigned FixedDistanceCodes = 32;
/// The code-length code of a dynamic block: 19 symbols (lengths 0-15, and 16, 17,
/// 18 to repeat), their lengths sent in this order, three bits each.
inline constexpr unsigned CodeLengthCodes = 19;
inline constexpr std::uint8_t CodeLengthOrder[CodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};
inline constexpr unsigned CodeLengthBits = 3;
/// Code-length symbols 16 (the previous length 3-6 times), 17 (zero 3-10 times)
/// and 18 (zero 11-138 times): first symbol, extra bits and least count.
inline constexpr unsigned RepeatPrevious = 16, RepeatZero = 17, RepeatZeroLong = 18;
inline constexpr unsigned RepeatPreviousBits = 2, RepeatZeroBits = 3, RepeatZeroLongBits = 7;
inline constexpr unsigned RepeatPreviousLeast = 3, RepeatZeroLeast = 3, RepeatZeroLongLeast = 11;
/// A dynamic block's header after its type: HLIT (5 bits, literal/length codes
/// less 257), HDIST (5 bits, distance codes less 1), HCLEN (4 bits, code-length
/// codes less 4).
inline constexpr unsigned LiteralCountBits = 5, DistanceCountBits = 5, CodeLengthCountBits = 4;
inline constexpr unsigned LeastLiteralCodes = 257, LeastDistanceCodes = 1, LeastCodeLengthCodes = 4;

/// The fixed code's lengths: symbols 0-143 8 bits, 144-255 9, 256-279 7,
/// 280-287 8; every distance code 5 bits.
inline constexpr unsigned FixedNineBitsFrom = 144, FixedSevenBitsFrom = 256, FixedEightBitsAgainFrom = 280;
inline constexpr std::uint16_t FixedDistanceLength = 5;
inline constexpr std::array<std::uint16_t, FixedLiteralLengthCodes> FixedLiteralLengths = [] {
  std::array<std::uint16_t, FixedLiteralLengthCodes> lengths{};
  for (unsigned i = 0; i < FixedLiteralLengthCodes; ++i)
    lengths[i] = i < FixedNineBitsFrom ? 8 : i < FixedSevenBitsFrom ? 9 : i < FixedEightBitsAgainFrom ? 7 : 8;
  return lengths;
}();
inline constexpr std::array<std::uint16_t, FixedDistanceCodes> FixedDistanceLengths = [] {
  std::array<std::uint16_t, FixedDistanceCodes> lengths{};
  lengths.fill(FixedDistanceLength);
  return lengths;
}();

}  // namespace kestrel
