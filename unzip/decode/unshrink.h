#pragma once
// Unshrink: compression method 1 (shrunk), LZW with codes of 9 to 13 bits, a
// code-size escape and partial clearing of the code table. The tables live in the
// decoding state's window:
//   bytes 0-16,385       prefix code of codes 0-8,192, signed 16-bit, -1 = free code
//   bytes 16,390-24,581  suffix byte of codes 0-8,191
//   bytes 24,585-32,776  string stack, filled downwards from its end

#include <cstddef>
#include <cstdint>

#include "unzip/decode/decode_state.h"

namespace kestrel {

inline constexpr std::size_t ShrinkPrefixAt = 0;
inline constexpr std::size_t ShrinkSuffixAt = 16390;
inline constexpr std::size_t ShrinkStackAt = 24585;
inline constexpr std::uint32_t ShrinkStackSize = 8192;
/// Codes 0-8,191 exist; the table is full when the next free code is 8,192.
inline constexpr std::uint32_t ShrinkTableLimit = 8192;
static_assert(ShrinkStackAt + ShrinkStackSize <= WindowSize);

/// Decodes the current entry of the state (method 1) into the output path. Ends at
/// the first code that the compressed data no longer holds. Damaged data that would
/// raise the code size past 13 bits or build a string longer than the stack ends
/// the entry early; its CRC comparison reports it.
void Unshrink(TDecodeState& state);

/// Frees every code from 257 to nextFree - 1 that no defined code names as its
/// prefix (the leaves of the code tree) and returns the new next free code: the
/// lowest free code from 257 on, or 8,192. window holds the unshrink tables.
std::uint32_t PartialClear(std::uint8_t* window, std::uint32_t nextFree);

}  // namespace kestrel
