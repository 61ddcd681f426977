#pragma once
// Method 8, the Deflate format, and method 9, Deflate64, its variant with a 64 KiB
// window.

#include <cstddef>
#include <cstdint>

#include "unzip/decode/decode_state.h"
#include "unzip/decode/inflate_table.h"

namespace kestrel {

/// What the two formats differ in, for the decoder: the history a distance may
/// reach back into, the longest match (and so how far past a chunk's end one turn
/// of the fast loop may write), the rows of the lengths and distances, the count
/// of distance codes a dynamic block may send, and the bits of one length with its
/// distance.
struct TDeflateFormat {
  static constexpr bool Deflate64 = false;
  static constexpr std::size_t History = 32768;
  static constexpr std::size_t LongestMatch = 258;
  static constexpr const TInflateRows& Rows = DeflateRows;
  static constexpr unsigned DistanceCodes = DeflateDistanceCodes;
  // A 15-bit length code with 5 extra bits and a 15-bit distance code with 13.
  static constexpr unsigned MaxMatchBits = 48;
};
struct TDeflate64Format {
  static constexpr bool Deflate64 = true;
  static constexpr std::size_t History = 65536;
  static constexpr std::size_t LongestMatch = 65538;
  static constexpr const TInflateRows& Rows = Deflate64Rows;
  static constexpr unsigned DistanceCodes = Deflate64DistanceCodes;
  // A 15-bit length code with 16 extra bits and a 15-bit distance code with 14.
  static constexpr unsigned MaxMatchBits = 60;
};

/// Inflate's workspace for one extraction run, made for its first entry of the
/// format. Decoding goes straight into Output (or into the output stream's own
/// memory, where it offers room for the entry): the history a distance may reach
/// back into, then eight (Chunks) chunks of 32 KiB, each written out once complete
/// and before any further input is read, then room for a turn of the fast loop to
/// run past the last chunk's end: a match and the 32 bytes its copy may write
/// beyond it. Some 330 KB for Deflate, 460 KB for Deflate64.
template <class TFormat>
struct TInflateWorkspaceOf {
  static constexpr std::size_t History = TFormat::History;
  static constexpr std::size_t Chunks = 8;
  static constexpr std::size_t Slack = TFormat::LongestMatch + 254;

  /// The fast tables of the current block's dynamic codes.
  TFastSlot LiteralTable[LiteralTableSize];
  TFastSlot DistanceTable[DistanceTableSize];
  std::uint8_t Output[History + Chunks * DecodeChunk + Slack];
};
struct TInflateWorkspace : TInflateWorkspaceOf<TDeflateFormat> {};
struct TInflate64Workspace : TInflateWorkspaceOf<TDeflate64Format> {};

/// Inflates the current entry. On a failed block it stops at once, flushes
/// nothing more and returns why (drBadData with the kind of damage, drTooLarge,
/// drOutOfMemory); after the last block it flushes the window and the output and
/// returns drDecoded. Only a cancel, a failed write, and the exceptions of the two
/// final flushes, leave it.
TDecodeResult Inflate(TDecodeState& state);
/// The same for a Deflate64 entry.
TDecodeResult Inflate64(TDecodeState& state);

}  // namespace kestrel
