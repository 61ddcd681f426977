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
//   buffer refilled a word at a time without branches, the fast tables that give
//   one or two literals, or a length or distance with its extra bits, in one
//   lookup, literal slots one after the other while a refill's bits last,
//   matches copied 16 bytes at a time;
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

namespace kestrel {
namespace {

constexpr std::size_t History = TInflateWorkspace::History;
constexpr std::size_t BufferEnd = History + TInflateWorkspace::Chunks * DecodeChunk;
// The fast loop reads 8 bytes at each refill, and refills at most twice per turn,
// 7 bytes apart: a turn starts with 16 bytes in the input chunk. It is entered
// with a few more, so that a loop that has just handed back its read-ahead is not
// entered again at once.
constexpr std::uint32_t FastMargin = 16;
constexpr std::uint32_t FastInput = 24;
// The entry's input still ahead from which a dynamic block's literal table gets
// slots of two literals.
constexpr std::int64_t PairingInput = 4096;
// The bits one symbol takes at most: a 15-bit length code with 5 extra bits and
// a 15-bit distance code with 13.
constexpr unsigned MaxSymbolBits = 48;
constexpr std::uint64_t DistanceMask = (1u << DistanceTableBits) - 1;
// A turn of the fast loop writes fewer literals than the bit buffer's 64 bits
// (and one byte after them), or one match of 258, and a match copy writes up to
// 32 bytes past its end.
constexpr std::size_t MaxOvershoot = 258 + 32;
static_assert(TInflateWorkspace::Slack >= MaxOvershoot);
static_assert(TInflateWorkspace::Chunks >= 2, "the slide copies the last 32 KiB to the front without overlap");
// The most chunks (512 GiB) an entry decoded in its output stream's memory may
// have: the room asked for stays far from overflowing.
constexpr std::uint64_t MaxDirectChunks = std::uint64_t{1} << 24;

// Order in which the code-length code lengths are sent.
constexpr std::uint8_t BitLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr std::uint32_t LiteralWidth = 9;   // first-level width of dynamic literal/length code tables
constexpr std::uint32_t DistanceWidth = 6;  // and of dynamic distance code tables

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}
inline void Copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }
// Writes the literals of a literal slot e (bits 16-31) and advances out by their
// count (bits 12-13).
inline void PutLiterals(std::uint8_t*& out, std::uint32_t e) {
  const auto pair = static_cast<std::uint16_t>(e >> 16);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &pair, 2);
  } else {
    out[0] = static_cast<std::uint8_t>(pair);
    out[1] = static_cast<std::uint8_t>(pair >> 8);
  }
  out += (e >> 12) & 3;
}
inline std::uint64_t LowBits(std::uint64_t v, unsigned n) { return v & ((std::uint64_t{1} << n) - 1); }
// The extra bits of a length or distance slot e, from the bit buffer as it was
// before the slot's bits were taken off: they follow the code's bits (bits 8-11
// of the slot; bits 12-13 are clear in such a slot), up to the slot's count.
struct TPlainBits {
  static std::uint32_t ExtraBits(std::uint64_t saved, std::uint32_t e) {
    return static_cast<std::uint32_t>(LowBits(saved, e & 0xFF) >> ((e >> 8) & 63));
  }
};
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTREL_INFLATE_BMI2 1
// The same with BMI2's instruction that clears the bits from a position up (the
// position is the low byte of e); compilers do not always find it themselves.
struct TBmi2Bits {
  static std::uint32_t ExtraBits(std::uint64_t saved, std::uint32_t e) {
    std::uint64_t low;
    asm("bzhi %2, %1, %0" : "=r"(low) : "r"(saved), "r"(static_cast<std::uint64_t>(e)));
    return static_cast<std::uint32_t>(low >> ((e >> 8) & 63));
  }
};
#endif

// Writes a match of len (3 to 258) bytes from dist (1 or more) bytes back at out
// and returns its end. Overlapping matches repeat their pattern, as a byte loop in
// increasing order would. Up to 32 bytes past the end are overwritten: they are
// not yet output and not history. Most matches are short: the first 32 bytes are
// copied whatever the length, which spares a branch that is hard to predict.
inline std::uint8_t* CopyMatch(std::uint8_t* out, std::uint32_t dist, std::uint32_t len) {
  std::uint8_t* const end = out + len;
  const std::uint8_t* src = out - dist;
  if (dist >= 16) {
    // Each piece's source lies before its destination, so it is final.
    std::memcpy(out, src, 16);
    std::memcpy(out + 16, src + 16, 16);
    for (out += 32, src += 32; out < end; out += 16, src += 16) std::memcpy(out, src, 16);
  } else if (dist >= 8) {
    Copy8(out, src);
    Copy8(out + 8, src + 8);
    Copy8(out + 16, src + 16);
    Copy8(out + 24, src + 24);
    for (out += 32, src += 32; out < end; out += 8, src += 8) Copy8(out, src);
  } else if (dist == 1) {
    const std::uint64_t v = *src * std::uint64_t{0x0101010101010101};
    std::uint8_t pattern[16];
    std::memcpy(pattern, &v, 8);
    std::memcpy(pattern + 8, &v, 8);
    for (; out < end; out += 16) std::memcpy(out, pattern, 16);
  } else {
    // A period of 2 to 7 bytes: the first bytes one by one, until the pattern
    // repeats at a distance of 8 or more (a whole number of periods), then words
    // from that distance back.
    const std::uint32_t stride = dist * ((8 + dist - 1) / dist);
    const std::uint32_t first = std::min(stride, len);
    for (std::uint32_t i = 0; i < first; ++i) out[i] = src[i];
    for (out += first; out < end; out += 8) Copy8(out, out - stride);
  }
  return end;
}

// The state of the fast loop, in and out.
struct TFastLoop {
  const std::uint8_t* in;
  const std::uint8_t* inLimit;  // the last position a turn may start at
  std::uint64_t bb;
  // The bits held are the low 6 bits; the bits above them carry whatever the slots
  // taken off left there (a slot's low byte is its bit count, the rest is not).
  std::uint32_t bk;
  std::uint8_t* out;
  std::uint8_t* outLimit;  // the end of the buffer's last chunk
  const std::uint8_t* hist;
  const std::uint32_t* lt;
  const std::uint32_t* dt;
  std::uint64_t literalMask;  // of the literal/length table's first-level bits
};

// How a symbol, or a run of them, ended.
enum class TSymbolResult {
  More,        // the run reached the end of its input or output: go on
  EndOfBlock,  // the block's end code
  BadData,     // a code no symbol owns, or a distance before the entry's first byte
};

// How a block ended. Every result but Ok ends the entry, whose CRC comparison then
// reports it.
enum class TBlockResult {
  Ok,           // decoded
  BadData,      // invalid data, or an exception other than a cancel inside the block
  BadBlock,     // block type 3, or over-subscribed code lengths
  OutOfMemory,  // a code table could not be built
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

// Entry: at least FastMargin bytes from in to the end of the input chunk, out
// below outLimit, bk below 64 (no higher bits), bb clear above bk. Each turn
// starts with the slot of its first symbol looked up and a refill to 56 or more
// bits, which leaves the bits the slot came from as they are. Literal slots (at
// most 12 bits each) follow one another while the bits for one more and the
// lookup after it are there. A length and a distance with their extra bits take
// at most 48 bits; the rare match that leaves fewer than a lookup needs refills
// before the next one. The slot of a turn's next symbol is looked up as soon as
// its bits are there, so that the lookup's latency overlaps the work that ends
// the turn. A turn writes at most MaxOvershoot bytes past outLimit. Returns
// TSymbolResult::More when in or out reached its limit. WholeHistory: out - hist is 32 KiB or
// more, so that no distance can reach before the entry.
template <class TBits, bool WholeHistory>
[[gnu::always_inline]] inline TSymbolResult RunFastLoop(TFastLoop& f) {
  const std::uint8_t* in = f.in;
  std::uint64_t bb = f.bb;
  std::uint32_t bk = f.bk;
  std::uint8_t* out = f.out;
  const std::uint32_t* const lt = f.lt;
  const std::uint32_t* const dt = f.dt;
  const std::uint64_t literalMask = f.literalMask;
  const std::uint8_t* const inLimit = f.inLimit;
  std::uint8_t* const outLimit = f.outLimit;
  TSymbolResult result = TSymbolResult::More;

#define KESTREL_REFILL()           \
  do {                             \
    bb |= Load64(in) << (bk & 63); \
    in += 7 - ((bk >> 3) & 7);     \
    bk |= 56;                      \
  } while (false)
#define KESTREL_CONSUME(e) \
  do {                     \
    bb >>= (e)&63;         \
    bk -= (e);             \
  } while (false)

  KESTREL_REFILL();
  std::uint32_t e = lt[bb & literalMask];
  while (in <= inLimit && out < outLimit) {
    KESTREL_REFILL();  // e was looked up in bits the refill leaves as they are
    if (e & ieLiteral) {
      // One or two literals per slot; a slot of one writes a second byte that the
      // next symbol overwrites.
      do {
        KESTREL_CONSUME(e);
        PutLiterals(out, e);
        e = lt[bb & literalMask];
      } while ((e & ieLiteral) && (bk & 63) >= 2 * WideLiteralTableBits);
      continue;
    }
    if (e & ieSpecial) {
      if (e & ieLink) {  // a code longer than the first level, whose bits the link takes
        KESTREL_CONSUME(e);
        e = lt[(e >> 16) + LowBits(bb, (e >> 8) & 15)];
        if (e & ieLiteral) {
          KESTREL_CONSUME(e);
          *out++ = static_cast<std::uint8_t>(e >> 16);
          e = lt[bb & literalMask];
          continue;
        }
      }
      if (e & ieSpecial) {
        if (e & ieEndOfBlock) {
          KESTREL_CONSUME(e);
          result = TSymbolResult::EndOfBlock;
        } else {
          result = TSymbolResult::BadData;
        }
        break;
      }
    }
    std::uint64_t saved = bb;
    KESTREL_CONSUME(e);
    const std::uint32_t len = (e >> 16) + TBits::ExtraBits(saved, e);

    std::uint32_t d = dt[bb & DistanceMask];
    if (d & ieSpecial) {
      if (d & ieLink) {
        bb >>= DistanceTableBits;
        bk -= DistanceTableBits;
        d = dt[(d >> 16) + LowBits(bb, (d >> 8) & 15)];
      }
      if (d & ieSpecial) {  // an invalid code, or a block without distance codes
        result = TSymbolResult::BadData;
        break;
      }
    }
    saved = bb;
    KESTREL_CONSUME(d);
    const std::uint32_t dist = (d >> 16) + TBits::ExtraBits(saved, d);
    // The next slot comes from the bits at hand when there are enough; the refill
    // at the next turn's start then runs beside the lookup.
    if ((bk & 63) < WideLiteralTableBits) KESTREL_REFILL();
    e = lt[bb & literalMask];
    // A distance that reaches before the entry's first byte names history the
    // entry does not have. Other decoders reject such a stream; so do we, rather
    // than copy whatever an earlier entry left in the buffer.
    if (!WholeHistory && dist > static_cast<std::size_t>(out - f.hist)) {
      result = TSymbolResult::BadData;
      break;
    }
    out = CopyMatch(out, dist, len);
  }
#undef KESTREL_REFILL
#undef KESTREL_CONSUME
  f.in = in;
  f.bb = bb;
  f.bk = bk;
  f.out = out;
  return result;
}

using TFastLoopFunction = TSymbolResult (*)(TFastLoop&);

TSymbolResult RunFastLoopPlain(TFastLoop& f) { return RunFastLoop<TPlainBits, false>(f); }
TSymbolResult RunFastLoopPlainWhole(TFastLoop& f) { return RunFastLoop<TPlainBits, true>(f); }
#ifdef KESTREL_INFLATE_BMI2
// Processors with BMI2 shift by a register's count, and clear a value's bits from
// a position up, in one instruction each: the loop's every step does both.
[[gnu::target("bmi2")]] TSymbolResult RunFastLoopBmi2(TFastLoop& f) { return RunFastLoop<TBmi2Bits, false>(f); }
[[gnu::target("bmi2")]] TSymbolResult RunFastLoopBmi2Whole(TFastLoop& f) { return RunFastLoop<TBmi2Bits, true>(f); }
#endif

TFastLoopFunction ChooseFastLoop(bool wholeHistory) {
#ifdef KESTREL_INFLATE_BMI2
  // The compiler's runtime caches the processor's answer.
  if (__builtin_cpu_supports("bmi2")) return wholeHistory ? RunFastLoopBmi2Whole : RunFastLoopBmi2;
#endif
  return wholeHistory ? RunFastLoopPlainWhole : RunFastLoopPlain;
}

class TInflater {
 public:
  TInflater(TDecodeState& state, TInflateWorkspace& work) : s_(state), work_(work) {
    // In place when the output stream offers room for the declared size in whole
    // chunks, with the slack the fast loop may run into.
    const std::uint64_t chunks =
        std::max<std::uint64_t>(1, (s_.Entry.UncompressedSize + DecodeChunk - 1) / DecodeChunk);
    std::uint8_t* direct = nullptr;
    if (chunks <= MaxDirectChunks)
      direct =
          s_.OutputStream->DirectStorage(static_cast<std::int64_t>(chunks * DecodeChunk + TInflateWorkspace::Slack));
    if (direct != nullptr) {
      out_ = direct;
      bufferEnd_ = direct + chunks * DecodeChunk;
    } else {
      out_ = work.Output + History;
      bufferEnd_ = work.Output + BufferEnd;
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
    const std::uint32_t* literals;
    const std::uint32_t* distances;
    std::uint64_t literalMask;  // of the literal/length table's first-level bits
    bool fixed;
    bool tablesReady = false;
    const TCodeTableEntry* lt = nullptr;
    const TCodeTableEntry* dt = nullptr;  // none in a block without distance codes
    unsigned bl = 0, bd = 0;
  };

  void ReleaseBlockCodes() {
    ReleaseCodeTables(s_.LiteralCodes);
    ReleaseCodeTables(s_.DistanceCodes);
    ReleaseCodeTables(s_.BitLengthCodes);
  }
  TBlockResult InflateStoredBlock();
  TBlockResult InflateFixedBlock();
  TBlockResult InflateDynamicBlock();
  TSymbolResult InflateCodes(TBlockCodes& codes);
  TSymbolResult FastCodes(const TBlockCodes& codes);
  TSymbolResult TailSymbol(const TBlockCodes& codes);
  TSymbolResult CarefulSymbol(const TBlockCodes& codes);
  bool PrepareCodeTables(TBlockCodes& codes);
  TCodeResult Build(const std::uint16_t* lengths, unsigned n, unsigned simple, const std::uint16_t* base,
                    const std::uint8_t* extra, TCodeSet& set, int& m);

  void Need(unsigned n) { s_.EnsureBits(n, bb_, bk_); }
  void Drop(unsigned n) { TDecodeState::DropBits(n, bb_, bk_); }
  unsigned Peek(unsigned n) const { return static_cast<unsigned>(bb_) & BitMask[n]; }
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
  TInflateWorkspace& work_;
  std::uint64_t bb_ = 0;           // bit buffer: bits not yet used, first bit lowest
  unsigned bk_ = 0;                // valid bits in bb_; bits above them are zero
  std::uint8_t* out_;              // next output byte
  std::uint8_t* chunkEnd_;         // end of the chunk out_ is in
  std::uint8_t* bufferEnd_;        // end of the last chunk of the buffer out_ is in
  const std::uint8_t* histStart_;  // the entry's first byte still in the buffer
  // The code lengths of the current dynamic block, for its code tables.
  std::uint16_t lengths_[286 + 30] = {};
  unsigned nl_ = 0, nd_ = 0;
};

void TInflater::ChunkDone() {
  s_.FlushWindow(chunkEnd_ - DecodeChunk, DecodeChunk);
  if (chunkEnd_ != bufferEnd_) {
    chunkEnd_ += DecodeChunk;
    return;
  }
  // The buffer's last chunk: its 32 KiB, with what ran past them, become the
  // history at the workspace's front.
  const std::uint8_t* const from = chunkEnd_ - History;
  const auto keep = static_cast<std::size_t>(out_ - from);
  std::memcpy(work_.Output, from, keep);
  out_ = work_.Output + keep;
  chunkEnd_ = work_.Output + History + DecodeChunk;
  bufferEnd_ = work_.Output + BufferEnd;
  histStart_ = work_.Output;
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
  // left is such a block: stop the entry (its CRC comparison reports it).
  if (s_.MissedBytes > 0 && static_cast<std::uint64_t>(s_.MissedBytes) * 8 >= bk_) return TBlockResult::BadData;
  try {
    Need(1);
    last = (bb_ & 1) != 0;
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
  } catch (...) {
    // The size guard, the premature end of the archive: the entry fails, the
    // run goes on.
    ReleaseBlockCodes();
    return TBlockResult::BadData;
  }
}

TBlockResult TInflater::InflateStoredBlock() {
  Drop(bk_ & 7);  // a stored block starts at the next byte boundary
  Need(16);
  const unsigned len = Peek(16);
  Drop(16);
  Need(16);
  const unsigned nlen = Peek(16);
  Drop(16);
  if (len != (~nlen & 0xFFFF)) return TBlockResult::BadData;

  for (unsigned left = len; left > 0;) {
    if (bk_ >= 8) {  // whole bytes still in the bit buffer come first
      const auto byte = static_cast<std::uint8_t>(bb_);
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
      s_.InputPtr += take;
      s_.InputCount -= take;
      s_.CompressedLeft -= take;
      s_.LastByte = s_.InputPtr[-1];
      out_ += take;
      left -= take;
      if (out_ == chunkEnd_) ChunkDone();
    } else {  // a refill, or the repeated last byte past the end of the data
      Need(8);
      const auto byte = static_cast<std::uint8_t>(bb_);
      Drop(8);
      PutByte(byte);
      --left;
    }
  }
  return TBlockResult::Ok;
}

TBlockResult TInflater::InflateFixedBlock() {
  TBlockCodes codes{FixedLiteralTable.data(), FixedDistanceTable.data(), (1u << LiteralTableBits) - 1, true};
  return BlockResultOf(InflateCodes(codes));
}

TBlockResult TInflater::InflateDynamicBlock() {
  Need(5);
  const unsigned nl = 257 + Peek(5);
  Drop(5);
  Need(5);
  const unsigned nd = 1 + Peek(5);
  Drop(5);
  Need(4);
  const unsigned nb = 4 + Peek(4);
  Drop(4);
  if (nl > 286 || nd > 30) return TBlockResult::BadData;

  std::uint16_t* const lengths = lengths_;
  std::fill(lengths, lengths + 19, std::uint16_t{0});
  for (unsigned j = 0; j < nb; ++j) {
    Need(3);
    lengths[BitLengthOrder[j]] = static_cast<std::uint16_t>(Peek(3));
    Drop(3);
  }
  int bb = 7;
  TCodeResult result = Build(lengths, 19, 19, nullptr, nullptr, s_.BitLengthCodes, bb);
  if (result != TCodeResult::Complete) {
    if (result == TCodeResult::Incomplete) ReleaseCodeTables(s_.BitLengthCodes);
    return BlockResultOf(result);
  }

  // The literal/length and distance lengths, run-length coded. Code-length codes
  // are at most 7 bits, so one table level holds them all. An absent code-length
  // code (all lengths 0) decodes every symbol as length 0.
  const TCodeTableEntry* table = s_.BitLengthCodes.Root();
  const unsigned width = static_cast<unsigned>(bb);
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
    if (symbol < 16) {
      lengths[i++] = static_cast<std::uint16_t>(previous = symbol);
      continue;
    }
    unsigned repeat;
    unsigned value = previous;
    if (symbol == 16) {
      Need(2);
      repeat = 3 + Peek(2);
      Drop(2);
    } else if (symbol == 17) {
      Need(3);
      repeat = 3 + Peek(3);
      Drop(3);
      value = previous = 0;
    } else {
      Need(7);
      repeat = 11 + Peek(7);
      Drop(7);
      value = previous = 0;
    }
    if (i + repeat > total) {
      ReleaseCodeTables(s_.BitLengthCodes);
      return TBlockResult::BadData;
    }
    while (repeat-- > 0) lengths[i++] = static_cast<std::uint16_t>(value);
  }
  ReleaseCodeTables(s_.BitLengthCodes);
  nl_ = nl;
  nd_ = nd;

  // Incomplete literal/length and distance codes are errors; a block without
  // literal/length codes fails before it reads a bit, one without distance codes
  // holds literals only.
  bool absent = false;
  // Slots of two literals cost about as much again as the table: they pay for
  // themselves only over many symbols, which a block with this much input ahead of
  // it is likely to have. Two literal codes take at least twice the shortest one's
  // bits: with codes of 6 bits and more (data of some 64 byte values or more,
  // evenly spread), only a first level of 12 bits holds two.
  const bool pairLiterals = s_.CompressedLeft >= PairingInput;
  unsigned shortestLiteral = 16;
  for (unsigned v = 0; v < 256; ++v)
    if (lengths[v] != 0 && lengths[v] < shortestLiteral) shortestLiteral = lengths[v];
  const unsigned literalBits =
      pairLiterals && 2 * shortestLiteral == WideLiteralTableBits ? WideLiteralTableBits : LiteralTableBits;
  result = BuildInflateTable(lengths, nl, TInflateCode::Literal, work_.LiteralTable, absent, literalBits, pairLiterals);
  if (result != TCodeResult::Complete) return BlockResultOf(result);
  if (absent) return TBlockResult::BadData;
  result = BuildInflateTable(lengths + nl, nd, TInflateCode::Distance, work_.DistanceTable, absent);
  if (result != TCodeResult::Complete) return BlockResultOf(result);

  TBlockCodes codes{work_.LiteralTable, work_.DistanceTable, (std::uint64_t{1} << literalBits) - 1, false};
  const TSymbolResult decoded = InflateCodes(codes);
  ReleaseCodeTables(s_.LiteralCodes);
  ReleaseCodeTables(s_.DistanceCodes);
  return BlockResultOf(decoded);
}

// The code tables of the symbol-by-symbol path, from the same lengths as the fast
// tables, which were accepted: only an allocation can fail here.
bool TInflater::PrepareCodeTables(TBlockCodes& codes) {
  if (codes.fixed) {
    if (!s_.FixedCodesReady) {
      std::uint16_t lengths[288];
      for (unsigned i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
      int bl = 7;
      if (Build(lengths, 288, 257, LengthBase, LengthExtra, s_.FixedLiteralCodes, bl) != TCodeResult::Complete)
        return false;
      for (unsigned i = 0; i < 30; ++i) lengths[i] = 5;
      int bd = 5;
      if (Build(lengths, 30, 0, DistanceBase, DistanceExtra, s_.FixedDistanceCodes, bd) > TCodeResult::Incomplete) {
        ReleaseCodeTables(s_.FixedLiteralCodes);
        return false;
      }
      s_.FixedLiteralBits = bl;
      s_.FixedDistanceBits = bd;
      s_.FixedCodesReady = true;
    }
    codes.lt = s_.FixedLiteralCodes.Root();
    codes.dt = s_.FixedDistanceCodes.Root();
    codes.bl = static_cast<unsigned>(s_.FixedLiteralBits);
    codes.bd = static_cast<unsigned>(s_.FixedDistanceBits);
  } else {
    int bl = LiteralWidth;
    if (Build(lengths_, nl_, 257, LengthBase, LengthExtra, s_.LiteralCodes, bl) != TCodeResult::Complete) return false;
    int bd = DistanceWidth;
    if (Build(lengths_ + nl_, nd_, 0, DistanceBase, DistanceExtra, s_.DistanceCodes, bd) != TCodeResult::Complete)
      return false;
    codes.lt = s_.LiteralCodes.Root();
    codes.dt = s_.DistanceCodes.Absent() ? nullptr : s_.DistanceCodes.Root();
    codes.bl = static_cast<unsigned>(bl);
    codes.bd = static_cast<unsigned>(bd);
  }
  codes.tablesReady = true;
  return true;
}

TSymbolResult TInflater::InflateCodes(TBlockCodes& codes) {
  for (;;) {
    TSymbolResult result;
    if (s_.InputCount >= FastInput) {
      result = FastCodes(codes);
    } else if (s_.CompressedSize == 0) {
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
  const std::uint8_t* const start = s_.InputPtr;
  TFastLoop f{start,
              start + s_.InputCount - FastMargin,
              bb_,
              bk_,
              out_,
              bufferEnd_,
              histStart_,
              codes.literals,
              codes.distances,
              codes.literalMask};
  const TSymbolResult result = ChooseFastLoop(f.out - f.hist >= static_cast<std::ptrdiff_t>(History))(f);

  // Hand back the whole bytes read ahead in this run.
  unsigned bk = f.bk & 63;
  std::uint32_t back = bk >> 3;
  const auto used = static_cast<std::uint32_t>(f.in - start);
  if (back > used) back = used;
  const std::uint8_t* const in = f.in - back;
  bk -= back * 8;
  const auto consumed = static_cast<std::uint32_t>(in - start);
  if (consumed > 0) s_.LastByte = in[-1];
  s_.InputPtr = in;
  s_.InputCount -= consumed;
  s_.CompressedLeft -= consumed;
  bb_ = LowBits(f.bb, bk);
  bk_ = bk;
  out_ = f.out;
  return result;
}

// One symbol near the end of the entry's data, through the frame's bit reader: no
// refill is left, so how many bits it asks for changes nothing but how many
// repeated last bytes it takes in.
TSymbolResult TInflater::TailSymbol(const TBlockCodes& codes) {
  // Once a symbol has taken bits of the repeated last byte, the data has run out in
  // the middle of a block: such made-up bits could go on copying until the declared
  // size, which a few hostile bytes can set to 4 GiB. Stop the entry (its CRC
  // comparison reports it).
  if (static_cast<std::uint64_t>(s_.MissedBytes) * 8 > bk_) return TSymbolResult::BadData;
  const std::uint32_t* const lt = codes.literals;
  const std::uint32_t* const dt = codes.distances;
  Need(MaxSymbolBits);
  std::uint32_t e = lt[bb_ & codes.literalMask];
  if (e & ieLink) {
    Drop(e & 0xFF);
    e = lt[(e >> 16) + LowBits(bb_, (e >> 8) & 15)];
  }
  if (e & ieLiteral) {
    // Only the first of two literals: the second one's bits may be made up, and
    // the check above must come before each symbol.
    Drop((e >> 8) & 15);
    *out_++ = static_cast<std::uint8_t>(e >> 16);
    return TSymbolResult::More;
  }
  if (e & ieSpecial) {
    if (!(e & ieEndOfBlock)) return TSymbolResult::BadData;
    Drop(e & 0xFF);
    return TSymbolResult::EndOfBlock;
  }
  const std::uint32_t len = (e >> 16) + static_cast<std::uint32_t>(LowBits(bb_, e & 0xFF) >> ((e >> 8) & 15));
  Drop(e & 0xFF);
  std::uint32_t d = dt[bb_ & DistanceMask];
  if (d & ieLink) {
    Drop(DistanceTableBits);
    d = dt[(d >> 16) + LowBits(bb_, (d >> 8) & 15)];
  }
  if (d & ieSpecial) return TSymbolResult::BadData;
  const std::uint32_t dist = (d >> 16) + static_cast<std::uint32_t>(LowBits(bb_, d & 0xFF) >> ((d >> 8) & 15));
  Drop(d & 0xFF);
  if (dist > static_cast<std::size_t>(out_ - histStart_)) return TSymbolResult::BadData;
  out_ = CopyMatch(out_, dist, len);
  return TSymbolResult::More;
}

// One symbol through the frame's bit reader and the code tables, asking for bits
// exactly as a decoder that knows only those tables would: the refill comes when
// such a decoder's would.
TSymbolResult TInflater::CarefulSymbol(const TBlockCodes& codes) {
  if (static_cast<std::uint64_t>(s_.MissedBytes) * 8 > bk_) return TSymbolResult::BadData;
  const TCodeTableEntry* const lt = codes.lt;
  const TCodeTableEntry* const dt = codes.dt;
  Need(codes.bl);
  TCodeTableEntry e = lt[Peek(codes.bl)];
  while (e.Extra > ceLiteral) {
    if (e.Extra == ceInvalid) return TSymbolResult::BadData;
    Drop(e.Bits);
    const unsigned n = e.Extra - 16u;
    Need(n);
    e = lt[e.Value + Peek(n)];
  }
  Drop(e.Bits);
  if (e.Extra == ceLiteral) {
    *out_++ = static_cast<std::uint8_t>(e.Value);
    return TSymbolResult::More;
  }
  if (e.Extra == ceEndOfBlock) return TSymbolResult::EndOfBlock;

  Need(e.Extra);
  const std::uint32_t len = e.Value + Peek(e.Extra);
  Drop(e.Extra);
  if (dt == nullptr) return TSymbolResult::BadData;
  Need(codes.bd);
  TCodeTableEntry d = dt[Peek(codes.bd)];
  while (d.Extra > ceLiteral) {
    if (d.Extra == ceInvalid) return TSymbolResult::BadData;
    Drop(d.Bits);
    const unsigned n = d.Extra - 16u;
    Need(n);
    d = dt[d.Value + Peek(n)];
  }
  Drop(d.Bits);
  Need(d.Extra);
  const std::uint32_t dist = d.Value + Peek(d.Extra);
  Drop(d.Extra);
  if (dist > static_cast<std::size_t>(out_ - histStart_)) return TSymbolResult::BadData;
  out_ = CopyMatch(out_, dist, len);
  return TSymbolResult::More;
}

}  // namespace

void Inflate(TDecodeState& state) {
  if (!state.InflateWork) {
    try {
      state.InflateWork = std::make_unique_for_overwrite<TInflateWorkspace>();
    } catch (const std::bad_alloc&) {
      state.ReportOutOfMemory();
      return;
    }
  }
  TInflater inflater(state, *state.InflateWork);
  bool last = false;
  do {
    if (inflater.InflateBlock(last) != TBlockResult::Ok) return;
  } while (!last);
  inflater.Finish();
}

}  // namespace kestrel
