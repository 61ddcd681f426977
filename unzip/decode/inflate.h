#pragma once
// Method 8: the Deflate format.

#include <cstddef>
#include <cstdint>

#include "unzip/decode/decode_state.h"
#include "unzip/decode/inflate_table.h"

namespace kestrel {

/// Inflate's storage for one extraction run (some 330 KB), made for its first
/// deflated entry. Decoding goes straight into Output (or into the output stream's
/// own memory, where it offers room for the entry): the 32 KiB of history a
/// distance may reach back into, then eight (Chunks) chunks of 32 KiB, each
/// written out once complete and before any further input is read, then room for
/// a turn of the fast loop to run past the last chunk's end.
struct TInflateWorkspace {
  static constexpr std::size_t History = 32768;
  static constexpr std::size_t Chunks = 8;
  static constexpr std::size_t Slack = 512;

  /// The fast tables of the current block's dynamic codes.
  TFastSlot LiteralTable[LiteralTableSize];
  TFastSlot DistanceTable[DistanceTableSize];
  std::uint8_t Output[History + Chunks * DecodeChunk + Slack];
};

/// Inflates the current entry. On a failed block it stops at once and flushes
/// nothing more (the driver's CRC comparison then reports the entry); after the
/// last block it flushes the window and the output. Only a cancel, a failed
/// write, and the exceptions of the two final flushes, leave it.
void Inflate(TDecodeState& state);

}  // namespace kestrel
