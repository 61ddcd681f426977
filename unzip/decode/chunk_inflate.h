#pragma once
// One piece of a deflate stream decoded on its own, without the history before
// it: the start of a block is found in the piece, the blocks from there are
// decoded until one ends at or past the piece's end, and every byte that a match
// copies from before the start is kept as a reference into the unknown history
// (a marker) until that history is known. The extraction of one large entry runs
// such pieces on several workers while its own thread decodes on as ever and
// takes a worker's piece in where its own decoding reaches the piece's start at
// the end of a block: what comes out is what the serial decoder would have made.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

/// The decoded piece. Bits count from the first bit of the piece's input span
/// (bit 0 is the low bit of its first byte).
struct TChunkOutput {
  bool Found = false;          ///< a block start was found and decoding ran to a block's end past StopBit
  std::uint64_t StartBit = 0;  ///< where the first block decoded here starts
  std::uint64_t EndBit = 0;    ///< where the block after the last one decoded here starts
  bool EndsStream = false;     ///< the last block decoded here is the stream's final one
  /// The piece's output while it may refer to the history before StartBit: a value
  /// below 256 is that byte; 256 + i refers to byte i of the History bytes that
  /// precede StartBit (i = History - distance back from the piece's start).
  std::vector<std::uint16_t> Marked;
  /// The output after Marked, once the last History bytes decoded held no marker:
  /// plain bytes.
  std::vector<std::uint8_t> Plain;
};

/// Which variant of the format: Deflate's 32 KiB history, or Deflate64's 64 KiB
/// (its length code 285 and distance codes 30 and 31).
enum class TChunkFormat : std::uint8_t { Deflate, Deflate64 };

/// Searches input from bit searchFrom for the first position where a block
/// plausibly starts (a dynamic block whose header builds complete codes, or a
/// stored block whose lengths agree) and that decodes without error through a
/// block end at or past stopBit; decodes from there. Returns Found false when no
/// such position exists before stopBit, or when decoding fails (damage, or a
/// false start): the caller then decodes that stretch itself. Never reads outside
/// input; the output of one piece is bounded by maxOutput bytes (Found false
/// beyond). Thread-safe: it keeps no state between calls.
TChunkOutput InflateChunk(std::span<const std::uint8_t> input, std::uint64_t searchFrom, std::uint64_t stopBit,
                          TChunkFormat format, std::size_t maxOutput);

/// The piece's bytes once the History bytes before its start are known (history
/// holds them, the last byte of the history right before the piece): Marked
/// resolved into out, then Plain appended.
void ResolveChunk(const TChunkOutput& piece, std::span<const std::uint8_t> history, std::vector<std::uint8_t>& out);

}  // namespace kestrel
