// Inflate.
//
// Output goes straight into the workspace's buffer: 32 KiB of history, then eight
// 32 KiB chunks, then slack. A completed chunk leaves through the frame's window
// flush before any further input is read and before the block can end or fail,
// so writes, CRC and progress events fall where the flushes of a 32 KiB window
// would. A symbol may run on past a chunk's end, into the next chunk or, after the
// last one, into the slack. Once the last chunk has left, the buffer's final
// 32 KiB (with what ran past them) move to the front as the history of what
// follows: a match never wraps around. The buffer is as large for an entry of
// 1 GB as for one of 1 MB.
//
// An output stream that keeps its bytes in memory and offers room for the whole
// entry (TStream::DirectStorage) is decoded into in place, as if that room were the
// buffer: its chunks leave from where they are, with the same writes and events,
// and no byte is copied. Should the entry run past its declared size, and so past
// that room, the last 32 KiB move into the workspace and decoding goes on there
// until the size guard stops it.
//
// Symbols are decoded on three paths:
// - the fast loop, while FastInput bytes of the input chunk remain: a 64-bit bit
//   buffer topped up a word at a time without branches, the fast tables of
//   inflate_table.h, whose slots give one or two literals, or a length or
//   distance with its extra bits, in one lookup, literal slots one after the
//   other while the buffer's bits last, matches copied 16 bytes at a time;
// - near the end of an input chunk with more to come: symbol by symbol through
//   the frame's bit reader and the code tables of code_table.h, asking for bits
//   as a decoder with only those tables does, so that the refill, and with it the
//   message pump, the cancel test and the archive read, comes where it always has;
// - near the end of the entry's data, where no refill is left: the fast tables
//   through the frame's bit reader, which repeats the last byte past the end.
// The fast loop hands back the whole bytes it read ahead, so all paths read the
// same byte stream.

#include "unzip/decode/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "unzip/decode/deflate_format.h"
#include "unzip/decode/inflate_fast.h"

namespace kestrel {
namespace {

using namespace inflating;

// The entry's input still ahead from which a dynamic block's literal table gets
// slots of two literals.
constexpr std::int64_t PairingInput = 4096;
// The most chunks (512 GiB) an entry decoded in its output stream's memory may
// have: the room asked for stays far from overflowing.
constexpr std::uint64_t MaxDirectChunks = std::uint64_t{1} << 24;

constexpr std::uint32_t LiteralWidth = 9;   // first-level width of dynamic literal/length code tables
constexpr std::uint32_t DistanceWidth = 6;  // and of dynamic distance code tables

// How a block ended. Every result but Ok ends the entry, whose CRC comparison then
// reports it.
enum class TBlockResult {
  Ok,           // decoded
  BadData,      // invalid data, or an exception other than a cancel inside the block
  BadBlock,     // block type 3, or over-subscribed code lengths
  OutOfMemory,  // a code table could not be built
  Truncated,    // the entry's data, or the archive, ended inside the stream
  TooLarge,     // the output-size guard stopped the entry
};

// A block whose symbols ran to the end code is whole; any other end is bad data.
TBlockResult BlockResultOf(TSymbolResult r) {
  return r == TSymbolResult::EndOfBlock ? TBlockResult::Ok : TBlockResult::BadData;
}

// A code that could not be built, as its block's result: an incomplete code has
// patterns no symbol owns, an over-subscribed one is not a code at all.
TBlockResult BlockResultOf(TCodeResult r) {
  switch (r) {
    case TCodeResult::Complete:
      return TBlockResult::Ok;
    case TCodeResult::Incomplete:
      return TBlockResult::BadData;
    case TCodeResult::OverSubscribed:
      return TBlockResult::BadBlock;
    case TCodeResult::OutOfMemory:
      return TBlockResult::OutOfMemory;
  }
  return TBlockResult::BadData;
}

// The format of the entry at hand, as the decoder needs it outside the fast loop.
struct TFormatInfo {
  bool deflate64;
  std::size_t history;
  std::size_t slack;
  std::size_t bufferEnd;
  std::uint32_t fastInput;
  const TInflateRows& rows;
  unsigned distanceCodes;
  const TFastSlot* fixedLiterals;
  const TFastSlot* fixedDistances;
};

template <class TFormat>
constexpr TFormatInfo FormatInfoOf(const TFastSlot* fixedLiterals, const TFastSlot* fixedDistances) {
  return {TFormat::Deflate64,
          TFormat::History,
          TInflateWorkspaceOf<TFormat>::Slack,
          TFastBounds<TFormat>::BufferEnd,
          TFastBounds<TFormat>::FastInput,
          TFormat::Rows,
          TFormat::DistanceCodes,
          fixedLiterals,
          fixedDistances};
}

// Inflate's storage for one run, beside the frame's buffers: the workspace of
// each format, made for the run's first entry of it, and the code tables of the
// symbol-by-symbol path, kept with their storage so that a block builds its codes
// without allocating. The fixed codes are built once, on first use.
struct TInflateStore final : TDecoderStore {
  std::unique_ptr<TInflateWorkspace> Work;
  std::unique_ptr<TInflate64Workspace> Work64;
  TCodeSet LiteralCodes, DistanceCodes, BitLengthCodes;
  TCodeSet FixedLiteralCodes, FixedDistanceCodes;
  int FixedLiteralBits = 0, FixedDistanceBits = 0;
  bool FixedCodesReady = false;
};

class TInflater {
 public:
  template <class TFormat>
  TInflater(TDecodeState& state, TInflateStore& store, TInflateWorkspaceOf<TFormat>& work, const TFormatInfo& format)
      : s_(state),
        store_(store),
        format_(format),
        output_(work.Output),
        literalTable_(work.LiteralTable),
        distanceTable_(work.DistanceTable) {
    // In place when the output stream offers room for the declared size in whole
    // chunks, with the slack the fast loop may run into.
    const std::uint64_t chunks =
        std::max<std::uint64_t>(1, (s_.Entry.UncompressedSize + DecodeChunk - 1) / DecodeChunk);
    std::uint8_t* direct = nullptr;
    if (chunks <= MaxDirectChunks)
      direct = s_.OutputStream->DirectStorage(static_cast<std::int64_t>(chunks * DecodeChunk + format_.slack));
    if (direct != nullptr) {
      out_ = direct;
      bufferEnd_ = direct + chunks * DecodeChunk;
    } else {
      out_ = output_ + format_.history;
      bufferEnd_ = output_ + format_.bufferEnd;
    }
    chunkEnd_ = out_ + DecodeChunk;
    histStart_ = out_;
  }

  TBlockResult InflateBlock(bool& last);
  /// After the last block: the bytes of the incomplete chunk, and the output.
  void Finish() {
    const std::uint8_t* const chunk = chunkEnd_ - DecodeChunk;
    s_.FlushWindow(chunk, static_cast<std::uint32_t>(out_ - chunk));
    s_.FlushOutput();
  }

 private:
  // A block's codes: the fast tables, and the code tables of the symbol-by-symbol
  // path, built when that path first needs them.
  struct TBlockCodes {
    const TFastSlot* literals;
    const TFastSlot* distances;
    std::uint64_t literalMask;  // of the literal/length table's first-level bits
    bool fixed;
    bool tablesReady = false;
    const TCodeTableEntry* literalCodes = nullptr;
    const TCodeTableEntry* distanceCodes = nullptr;  // none in a block without distance codes
    unsigned literalWidth = 0, distanceWidth = 0;    // their first levels' widths
  };

  void ReleaseBlockCodes() {
    ReleaseCodeTables(store_.LiteralCodes);
    ReleaseCodeTables(store_.DistanceCodes);
    ReleaseCodeTables(store_.BitLengthCodes);
  }
  TBlockResult InflateStoredBlock();
  TBlockResult InflateFixedBlock();
  TBlockResult InflateDynamicBlock();
  TBlockResult ReadCodeLengthCode(unsigned& literalCodes, unsigned& distanceCodes, int& width);
  TBlockResult ReadDynamicLengths();
  TBlockResult BuildDynamicTables(unsigned& literalBits);
  TSymbolResult InflateCodes(TBlockCodes& codes);
  TSymbolResult FastCodes(const TBlockCodes& codes);
  template <class TFormat>
  TSymbolResult FastCodesOf(const TBlockCodes& codes);
  TSymbolResult TailSymbol(const TBlockCodes& codes);
  TSymbolResult CarefulSymbol(const TBlockCodes& codes);
  bool PrepareCodeTables(TBlockCodes& codes);
  TCodeResult Build(const std::uint16_t* lengths, unsigned n, unsigned simple, const std::uint16_t* base,
                    const std::uint8_t* extra, TCodeSet& set, int& m);

  void Need(unsigned n) { s_.EnsureBits(n, bitBuffer_, bitCount_); }
  void Drop(unsigned n) { TDecodeState::DropBits(n, bitBuffer_, bitCount_); }
  unsigned Peek(unsigned n) const { return static_cast<unsigned>(bitBuffer_) & BitMask[n]; }
  unsigned TakeBits(unsigned n) {
    Need(n);
    const unsigned value = Peek(n);
    Drop(n);
    return value;
  }
  void PutByte(std::uint8_t byte) {
    *out_++ = byte;
    if (out_ == chunkEnd_) ChunkDone();
  }
  // Writes the chunk that ends at chunkEnd_, which out_ has reached, and moves on
  // to the next. The symbol-by-symbol paths call it as soon as out_ reaches the
  // chunk's end, the fast loop's caller after each run, so that out_ is below
  // chunkEnd_ whenever a refill or a block's end may come.
  void ChunkDone();

  TDecodeState& s_;
  TInflateStore& store_;
  const TFormatInfo& format_;
  std::uint8_t* const output_;  // the workspace's buffer
  TFastSlot* const literalTable_;
  TFastSlot* const distanceTable_;
  std::uint64_t bitBuffer_ = 0;    // bits not yet used, first bit lowest
  unsigned bitCount_ = 0;          // valid bits in bitBuffer_; the bits above them are zero
  std::uint8_t* out_;              // next output byte
  std::uint8_t* chunkEnd_;         // end of the chunk out_ is in
  std::uint8_t* bufferEnd_;        // end of the last chunk of the buffer out_ is in
  const std::uint8_t* histStart_;  // the entry's first byte still in the buffer
  // The code lengths of the current dynamic block, for its code tables.
  std::uint16_t lengths_[LiteralLengthCodes + Deflate64DistanceCodes] = {};
  unsigned nl_ = 0, nd_ = 0;
};

void TInflater::ChunkDone() {
  s_.FlushWindow(chunkEnd_ - DecodeChunk, DecodeChunk);
  if (chunkEnd_ != bufferEnd_) {
    chunkEnd_ += DecodeChunk;
    return;
  }
  // The buffer's last chunk: its last history, with what ran past it, becomes the
  // history at the workspace's front. An entry decoded in place may hold less than
  // a history (Deflate64's 64 KiB, in room of one chunk): what it has ends where
  // the history does.
  const std::size_t history = std::min(format_.history, static_cast<std::size_t>(chunkEnd_ - histStart_));
  const std::uint8_t* const from = chunkEnd_ - history;
  const auto keep = static_cast<std::size_t>(out_ - from);
  std::uint8_t* const to = output_ + (format_.history - history);
  std::memcpy(to, from, keep);
  out_ = to + keep;
  histStart_ = to;
  chunkEnd_ = output_ + format_.history + DecodeChunk;
  bufferEnd_ = output_ + format_.bufferEnd;
}

TCodeResult TInflater::Build(const std::uint16_t* lengths, unsigned n, unsigned simple, const std::uint16_t* base,
                             const std::uint8_t* extra, TCodeSet& set, int& m) {
  const TCodeResult result = BuildCodeTable(lengths, n, simple, base, extra, set, m);
  if (result == TCodeResult::OutOfMemory) s_.ReportOutOfMemory();
  return result;
}

TBlockResult TInflater::InflateBlock(bool& last) {
  // A damaged stream whose data has run out can go on forever with empty blocks
  // made of the repeated last byte. A block that would start with no real bit
  // left is such a block: stop the entry.
  if (s_.MissedBytes > 0 && static_cast<std::uint64_t>(s_.MissedBytes) * 8 >= bitCount_) return TBlockResult::Truncated;
  try {
    Need(1);
    last = (bitBuffer_ & 1) != 0;
    Drop(1);
    Need(2);
    const unsigned type = Peek(2);
    Drop(2);
    switch (type) {
      case 0:
        return InflateStoredBlock();
      case 1:
        return InflateFixedBlock();
      case 2:
        return InflateDynamicBlock();
      default:
        return TBlockResult::BadBlock;
    }
  } catch (const EUserCanceled&) {
    ReleaseBlockCodes();
    throw;
  } catch (const ECantWriteUCF&) {
    // A write that failed ends the run as well: a full disk fails every entry
    // after this one too, and the bytes are lost, not damaged.
    ReleaseBlockCodes();
    throw;
  } catch (const EBiggerThanUncompressed&) {
    // The size guard and the premature end of the archive fail the entry; the
    // run goes on.
    ReleaseBlockCodes();
    return TBlockResult::TooLarge;
  } catch (const EFatalUnzipError&) {
    ReleaseBlockCodes();
    return TBlockResult::Truncated;
  } catch (...) {
    ReleaseBlockCodes();
    return TBlockResult::BadData;
  }
}

TBlockResult TInflater::InflateStoredBlock() {
  Drop(bitCount_ & 7);  // a stored block starts at the next byte boundary
  Need(16);
  const unsigned len = Peek(16);
  Drop(16);
  Need(16);
  const unsigned nlen = Peek(16);
  Drop(16);
  if (len != (~nlen & 0xFFFF)) return TBlockResult::BadData;

  for (unsigned left = len; left > 0;) {
    if (bitCount_ >= 8) {  // whole bytes still in the bit buffer come first
      const auto byte = static_cast<std::uint8_t>(bitBuffer_);
      Drop(8);
      PutByte(byte);
      --left;
    } else if (s_.InputCount > 0 && s_.CompressedLeft > 0) {
      // Straight from the input chunk, as far as input, chunk and block allow.
      std::uint32_t take = left;
      take = std::min(take, s_.InputCount);
      take = static_cast<std::uint32_t>(std::min<std::int64_t>(take, s_.CompressedLeft));
      take = std::min(take, static_cast<std::uint32_t>(chunkEnd_ - out_));
      std::memcpy(out_, s_.InputPtr, take);
      s_.ConsumeInput(take);
      out_ += take;
      left -= take;
      if (out_ == chunkEnd_) ChunkDone();
    } else {  // a refill, or the repeated last byte past the end of the data
      Need(8);
      const auto byte = static_cast<std::uint8_t>(bitBuffer_);
      Drop(8);
      PutByte(byte);
      --left;
    }
  }
  return TBlockResult::Ok;
}

TBlockResult TInflater::InflateFixedBlock() {
  TBlockCodes codes{format_.fixedLiterals, format_.fixedDistances, (1u << LiteralTableBits) - 1, true};
  return BlockResultOf(InflateCodes(codes));
}

TBlockResult TInflater::InflateDynamicBlock() {
  TBlockResult result = ReadDynamicLengths();
  if (result != TBlockResult::Ok) return result;
  unsigned literalBits = LiteralTableBits;
  result = BuildDynamicTables(literalBits);
  if (result != TBlockResult::Ok) return result;
  TBlockCodes codes{literalTable_, distanceTable_, (std::uint64_t{1} << literalBits) - 1, false};
  const TSymbolResult decoded = InflateCodes(codes);
  ReleaseCodeTables(store_.LiteralCodes);
  ReleaseCodeTables(store_.DistanceCodes);
  return BlockResultOf(decoded);
}

// The header of a dynamic block: its counts of codes, and the code-length code.
TBlockResult TInflater::ReadCodeLengthCode(unsigned& literalCodes, unsigned& distanceCodes, int& width) {
  literalCodes = LeastLiteralCodes + TakeBits(LiteralCountBits);
  distanceCodes = LeastDistanceCodes + TakeBits(DistanceCountBits);
  const unsigned sent = LeastCodeLengthCodes + TakeBits(CodeLengthCountBits);
  if (literalCodes > LiteralLengthCodes || distanceCodes > format_.distanceCodes) return TBlockResult::BadData;

  std::uint16_t* const lengths = lengths_;
  std::fill(lengths, lengths + CodeLengthCodes, std::uint16_t{0});
  for (unsigned j = 0; j < sent; ++j)
    lengths[CodeLengthOrder[j]] = static_cast<std::uint16_t>(TakeBits(CodeLengthBits));
  width = 7;
  const TCodeResult result =
      Build(lengths, CodeLengthCodes, CodeLengthCodes, nullptr, nullptr, store_.BitLengthCodes, width);
  if (result != TCodeResult::Complete) {
    if (result == TCodeResult::Incomplete) ReleaseCodeTables(store_.BitLengthCodes);
    return BlockResultOf(result);
  }
  return TBlockResult::Ok;
}

// The literal/length and distance lengths of a dynamic block, run-length coded,
// into lengths_. Code-length codes are at most 7 bits, so one table level holds
// them all. An absent code-length code (all lengths 0) decodes every symbol as
// length 0.
TBlockResult TInflater::ReadDynamicLengths() {
  unsigned nl = 0, nd = 0;
  int codeLengthWidth = 0;
  if (const TBlockResult header = ReadCodeLengthCode(nl, nd, codeLengthWidth); header != TBlockResult::Ok)
    return header;
  std::uint16_t* const lengths = lengths_;
  const TCodeTableEntry* table = store_.BitLengthCodes.Root();
  const unsigned width = static_cast<unsigned>(codeLengthWidth);
  const unsigned total = nl + nd;
  unsigned previous = 0;
  for (unsigned i = 0; i < total;) {
    unsigned symbol = 0;
    if (table != nullptr) {
      Need(width);
      const TCodeTableEntry e = table[Peek(width)];
      Drop(e.Bits);
      symbol = e.Value;
    }
    if (symbol < RepeatPrevious) {
      lengths[i++] = static_cast<std::uint16_t>(previous = symbol);
      continue;
    }
    unsigned repeat;
    unsigned value = previous;
    if (symbol == RepeatPrevious) {
      repeat = RepeatPreviousLeast + TakeBits(RepeatPreviousBits);
    } else if (symbol == RepeatZero) {
      repeat = RepeatZeroLeast + TakeBits(RepeatZeroBits);
      value = previous = 0;
    } else {
      repeat = RepeatZeroLongLeast + TakeBits(RepeatZeroLongBits);
      value = previous = 0;
    }
    if (i + repeat > total) {
      ReleaseCodeTables(store_.BitLengthCodes);
      return TBlockResult::BadData;
    }
    while (repeat-- > 0) lengths[i++] = static_cast<std::uint16_t>(value);
  }
  ReleaseCodeTables(store_.BitLengthCodes);
  nl_ = nl;
  nd_ = nd;
  return TBlockResult::Ok;
}

// The fast tables of a dynamic block's codes. Incomplete literal/length and
// distance codes are errors; a block without literal/length codes fails before
// it reads a bit, one without distance codes holds literals only.
TBlockResult TInflater::BuildDynamicTables(unsigned& literalBits) {
  const std::uint16_t* const lengths = lengths_;
  bool absent = false;
  // Slots of two literals cost about as much again as the table: they pay for
  // themselves only over many symbols, which a block with this much input ahead of
  // it is likely to have. Two literal codes take at least twice the shortest one's
  // bits: with codes of 6 bits and more (data of some 64 byte values or more,
  // evenly spread), only a first level of 12 bits holds two.
  const bool pairLiterals = s_.CompressedLeft >= PairingInput;
  unsigned shortestLiteral = 16;
  for (unsigned v = 0; v < LiteralSymbols; ++v)
    if (lengths[v] != 0 && lengths[v] < shortestLiteral) shortestLiteral = lengths[v];
  literalBits = pairLiterals && 2 * shortestLiteral == WideLiteralTableBits ? WideLiteralTableBits : LiteralTableBits;
  TCodeResult result = BuildInflateTable(lengths, nl_, TInflateCode::Literal, format_.rows, literalTable_, absent,
                                         literalBits, pairLiterals);
  if (result != TCodeResult::Complete) return BlockResultOf(result);
  if (absent) return TBlockResult::BadData;
  result = BuildInflateTable(lengths + nl_, nd_, TInflateCode::Distance, format_.rows, distanceTable_, absent);
  return BlockResultOf(result);
}

// The code tables of the symbol-by-symbol path, from the same lengths as the fast
// tables, which were accepted: only an allocation can fail here.
bool TInflater::PrepareCodeTables(TBlockCodes& codes) {
  if (codes.fixed) {
    if (!store_.FixedCodesReady) {
      int literalWidth = 7;
      if (Build(FixedLiteralLengths.data(), FixedLiteralLengthCodes, FirstLengthSymbol, LengthBase, LengthExtra,
                store_.FixedLiteralCodes, literalWidth) != TCodeResult::Complete)
        return false;
      int distanceWidth = 5;
      if (Build(FixedDistanceLengths.data(), DeflateDistanceCodes, 0, DistanceBase, DistanceExtra,
                store_.FixedDistanceCodes, distanceWidth) > TCodeResult::Incomplete) {
        ReleaseCodeTables(store_.FixedLiteralCodes);
        return false;
      }
      store_.FixedLiteralBits = literalWidth;
      store_.FixedDistanceBits = distanceWidth;
      store_.FixedCodesReady = true;
    }
    codes.literalCodes = store_.FixedLiteralCodes.Root();
    codes.distanceCodes = store_.FixedDistanceCodes.Root();
    codes.literalWidth = static_cast<unsigned>(store_.FixedLiteralBits);
    codes.distanceWidth = static_cast<unsigned>(store_.FixedDistanceBits);
  } else {
    int literalWidth = LiteralWidth;
    if (Build(lengths_, nl_, FirstLengthSymbol, LengthBase, LengthExtra, store_.LiteralCodes, literalWidth) !=
        TCodeResult::Complete)
      return false;
    int distanceWidth = DistanceWidth;
    if (Build(lengths_ + nl_, nd_, 0, DistanceBase, DistanceExtra, store_.DistanceCodes, distanceWidth) !=
        TCodeResult::Complete)
      return false;
    codes.literalCodes = store_.LiteralCodes.Root();
    codes.distanceCodes = store_.DistanceCodes.Absent() ? nullptr : store_.DistanceCodes.Root();
    codes.literalWidth = static_cast<unsigned>(literalWidth);
    codes.distanceWidth = static_cast<unsigned>(distanceWidth);
  }
  codes.tablesReady = true;
  return true;
}

TSymbolResult TInflater::InflateCodes(TBlockCodes& codes) {
  for (;;) {
    TSymbolResult result;
    if (s_.InputCount >= format_.fastInput) {
      result = FastCodes(codes);
    } else if (s_.CompressedSize == 0 || format_.deflate64) {
      // Deflate64 has no code tables of code_table.h (its longest length code has
      // more extra bits than they hold) and no earlier refills to keep in step
      // with: its fast tables serve near a refill too.
      result = TailSymbol(codes);
    } else {
      if (!codes.tablesReady && !PrepareCodeTables(codes)) return TSymbolResult::BadData;
      result = CarefulSymbol(codes);
    }
    // The fast loop runs on past the chunks it completes: it reads no input but
    // its own chunk's and can show nothing on the way, so the chunks leave here, in
    // order, before anything else can happen: a refill, the next block's header, or
    // the end of a block that failed (a failed symbol writes nothing).
    while (out_ >= chunkEnd_) ChunkDone();
    if (result != TSymbolResult::More) return result;
  }
}

TSymbolResult TInflater::FastCodes(const TBlockCodes& codes) {
  return format_.deflate64 ? FastCodesOf<TDeflate64Format>(codes) : FastCodesOf<TDeflateFormat>(codes);
}

template <class TFormat>
TSymbolResult TInflater::FastCodesOf(const TBlockCodes& codes) {
  const std::uint8_t* const start = s_.InputPtr;
  TFastLoop<TFormat> f{{start, bitBuffer_, bitCount_},
                       {start + s_.InputCount - TFastBounds<TFormat>::FastMargin, bufferEnd_},
                       out_,
                       histStart_,
                       codes.literals,
                       codes.distances};
  const bool wholeHistory = f.out - f.entryStart >= static_cast<std::ptrdiff_t>(TFormat::History);
  const TSymbolResult result = ChooseFastLoop<TFormat>(std::popcount(codes.literalMask), wholeHistory)(f);

  // The loop stops with whole bytes read ahead in its buffer. They go back to the
  // input chunk as far as they came from it in this run (the bits the run started
  // with came through the frame's reader), so that every path reads on from the
  // same byte.
  const TFastBits& b = f.bits;
  const std::uint32_t unread = std::min<std::uint32_t>(b.count / 8, static_cast<std::uint32_t>(b.in - start));
  const std::uint8_t* const in = b.in - unread;
  const unsigned count = b.count - 8 * unread;
  if (in > start) s_.ConsumeInput(static_cast<std::uint32_t>(in - start));
  bitBuffer_ = LowBits(b.word, count);
  bitCount_ = count;
  out_ = f.out;
  return result;
}

// One symbol near the end of the entry's data, through the frame's bit reader: no
// refill is left, so how many bits it asks for changes nothing but how many
// repeated last bytes it takes in. (Deflate64 comes here near every refill.)
TSymbolResult TInflater::TailSymbol(const TBlockCodes& codes) {
  // Once a symbol has taken bits of the repeated last byte, the data has run out in
  // the middle of a block: such made-up bits could go on copying until the declared
  // size, which a few hostile bytes can set to 4 GiB. Stop the entry (its CRC
  // comparison reports it).
  if (static_cast<std::uint64_t>(s_.MissedBytes) * 8 > bitCount_) return TSymbolResult::BadData;
  // A Deflate length and distance at once; a Deflate64 length first, and its
  // distance after it, which the 64-bit buffer could not hold together.
  Need(format_.deflate64 ? TDeflate64Format::MaxMatchBits - MaxDistance64Bits : TDeflateFormat::MaxMatchBits);
  TFastSlot slot = codes.literals[bitBuffer_ & codes.literalMask];
  if (slot & SlotLink) {
    Drop(SlotDrop(slot));
    slot = codes.literals[SlotValue(slot) + LowBits(bitBuffer_, SlotExtra(slot))];
  }
  if (slot & SlotLiteralsMask) {
    // Only the first of two literals: the second one's bits may be made up, and
    // the check above must come before each symbol.
    Drop(SlotExtra(slot));
    *out_++ = static_cast<std::uint8_t>(SlotValue(slot));
    return TSymbolResult::More;
  }
  if (SlotIsSpecial(slot)) {
    if (!(slot & SlotEndOfBlock)) return TSymbolResult::BadData;
    Drop(SlotDrop(slot));
    return TSymbolResult::EndOfBlock;
  }
  const std::uint32_t length = MatchValue(slot, bitBuffer_);
  Drop(SlotDrop(slot));
  if (format_.deflate64) Need(MaxDistance64Bits);
  TFastSlot distanceSlot = codes.distances[bitBuffer_ & DistanceMask];
  if (distanceSlot & SlotLink) {
    Drop(SlotDrop(distanceSlot));
    distanceSlot = codes.distances[SlotValue(distanceSlot) + LowBits(bitBuffer_, SlotExtra(distanceSlot))];
  }
  if (SlotIsSpecial(distanceSlot)) return TSymbolResult::BadData;
  const std::uint32_t distance = MatchValue(distanceSlot, bitBuffer_);
  Drop(SlotDrop(distanceSlot));
  if (distance > static_cast<std::size_t>(out_ - histStart_)) return TSymbolResult::BadData;
  out_ = CopyMatch(out_, distance, length);
  return TSymbolResult::More;
}

// One symbol through the frame's bit reader and the code tables, asking for bits
// exactly as a decoder that knows only those tables would: the refill comes when
// such a decoder's would.
TSymbolResult TInflater::CarefulSymbol(const TBlockCodes& codes) {
  if (static_cast<std::uint64_t>(s_.MissedBytes) * 8 > bitCount_) return TSymbolResult::BadData;
  // Looks a symbol up level by level, each link's bits asked for as it is met.
  auto lookUp = [this](const TCodeTableEntry* table, unsigned width, TCodeTableEntry& entry) {
    Need(width);
    entry = table[Peek(width)];
    while (entry.Extra > ceLiteral) {
      if (entry.Extra == ceInvalid) return false;
      Drop(entry.Bits);
      const unsigned more = entry.Extra - 16u;
      Need(more);
      entry = table[entry.Value + Peek(more)];
    }
    Drop(entry.Bits);
    return true;
  };
  // The extra bits of a length or distance, added to its base.
  auto withExtraBits = [this](const TCodeTableEntry& entry) {
    Need(entry.Extra);
    const std::uint32_t value = entry.Value + Peek(entry.Extra);
    Drop(entry.Extra);
    return value;
  };

  TCodeTableEntry symbol;
  if (!lookUp(codes.literalCodes, codes.literalWidth, symbol)) return TSymbolResult::BadData;
  if (symbol.Extra == ceLiteral) {
    *out_++ = static_cast<std::uint8_t>(symbol.Value);
    return TSymbolResult::More;
  }
  if (symbol.Extra == ceEndOfBlock) return TSymbolResult::EndOfBlock;
  const std::uint32_t length = withExtraBits(symbol);
  if (codes.distanceCodes == nullptr || !lookUp(codes.distanceCodes, codes.distanceWidth, symbol))
    return TSymbolResult::BadData;
  const std::uint32_t distance = withExtraBits(symbol);
  if (distance > static_cast<std::size_t>(out_ - histStart_)) return TSymbolResult::BadData;
  out_ = CopyMatch(out_, distance, length);
  return TSymbolResult::More;
}

}  // namespace

namespace {

// How a block's failure ends the entry, and in which words.
TDecodeResult EntryResultOf(TBlockResult result, std::string& detail) {
  switch (result) {
    case TBlockResult::Ok:
      return drDecoded;
    case TBlockResult::BadData:
      detail = "invalid code, length or distance";
      return drBadData;
    case TBlockResult::BadBlock:
      detail = "invalid block type or code lengths";
      return drBadData;
    case TBlockResult::Truncated:
      detail = "the data ends inside the stream";
      return drBadData;
    case TBlockResult::OutOfMemory:
      return drOutOfMemory;
    case TBlockResult::TooLarge:
      return drTooLarge;
  }
  return drBadData;
}

// Inflates with the workspace of the run, made for its first entry of the format.
template <class TFormat, class TWorkspace>
TDecodeResult InflateEntry(TDecodeState& state, std::unique_ptr<TWorkspace> TInflateStore::*work,
                           const TFormatInfo& format) {
  TInflateStore* store = nullptr;
  try {
    store = &state.Store<TInflateStore>();
    if (!(store->*work)) store->*work = std::make_unique_for_overwrite<TWorkspace>();
  } catch (const std::bad_alloc&) {
    state.ReportOutOfMemory();
    return drOutOfMemory;
  }
  TInflater inflater(state, *store, static_cast<TInflateWorkspaceOf<TFormat>&>(*(store->*work)), format);
  bool last = false;
  do {
    const TBlockResult result = inflater.InflateBlock(last);
    if (result != TBlockResult::Ok) return EntryResultOf(result, state.FailureDetail);
  } while (!last);
  inflater.Finish();
  return drDecoded;
}

}  // namespace

TDecodeResult Inflate(TDecodeState& state) {
  static constexpr TFormatInfo Format =
      FormatInfoOf<TDeflateFormat>(FixedLiteralTable.data(), FixedDistanceTable.data());
  return InflateEntry<TDeflateFormat>(state, &TInflateStore::Work, Format);
}

TDecodeResult Inflate64(TDecodeState& state) {
  static constexpr TFormatInfo Format =
      FormatInfoOf<TDeflate64Format>(FixedLiteral64Table.data(), FixedDistance64Table.data());
  return InflateEntry<TDeflate64Format>(state, &TInflateStore::Work64, Format);
}

}  // namespace kestrel
