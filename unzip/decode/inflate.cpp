// Inflate. Each block is decoded by a fast loop while at least 16 input bytes and
// 258 free window bytes remain (64-bit bit buffer refilled a word at a time, no
// calls, no flushes), and symbol by symbol through the frame's byte reader near the
// end of an input chunk or of the window, where refills, the repeated last byte
// past the end of the data, and window flushes happen exactly as the byte reader
// and the window flush define them. The fast loop hands back the whole bytes it
// read ahead, so both paths see the same byte stream.

#include "unzip/decode/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kestrel {
namespace {

constexpr std::uint32_t kWindow = kDecodeChunk;  // the sliding window proper
constexpr std::uint32_t kMaxMatch = 258;
// The fast loop needs 8 readable bytes for each refill; it starts with 16 so that
// a loop that hands back its read-ahead is not entered again at once.
constexpr std::uint32_t kFastInput = 16;
constexpr std::uint32_t kFastWindowLimit = kWindow - kMaxMatch;

// Base lengths and extra bits of length codes 257-285; codes 286 and 287 may be
// coded in a fixed block but mean nothing (extra 99 makes them invalid).
constexpr std::uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                           35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr std::uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                           3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr std::uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                             193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static_assert(kLengthBase[28] == 258 && kDistanceBase[29] + (1 << kDistanceExtra[29]) - 1 == 32768);

// Order in which the code-length code lengths are sent.
constexpr std::uint8_t kBitLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr std::uint32_t kLiteralWidth = 9;   // first-level lookup of dynamic literal/length codes
constexpr std::uint32_t kDistanceWidth = 6;  // and of dynamic distance codes

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Copies a match of len bytes from dist bytes back, both inside the window and
// dst + len not past its end. Overlapping copies repeat the pattern, as a byte
// loop in increasing order would; nothing past dst + len is written, since those
// window bytes are still history for long distances.
inline void CopyMatch(std::uint8_t* dst, std::uint32_t dist, std::uint32_t len) {
  const std::uint8_t* src = dst - dist;
  if (dist >= 8) {
    if (len >= 8) {
      std::uint32_t done = 0;
      do {
        std::memcpy(dst + done, src + done, 8);
        done += 8;
      } while (done + 8 <= len);
      // The last, overlapping word: its source bytes are final (dist >= 8).
      if (done < len) std::memcpy(dst + len - 8, src + len - 8, 8);
    } else if (len >= 4) {
      std::memcpy(dst, src, 4);
      std::memcpy(dst + len - 4, src + len - 4, 4);
    } else {
      for (std::uint32_t i = 0; i < len; ++i) dst[i] = src[i];
    }
  } else if (dist == 1) {
    std::memset(dst, *src, len);
  } else {
    for (std::uint32_t i = 0; i < len; ++i) dst[i] = src[i];
  }
}

class TInflater {
 public:
  explicit TInflater(TDecodeState& state) : s_(state), window_(state.Window.data()) {}

  int InflateBlock(bool& last);
  std::uint32_t WindowPosition() const { return wpos_; }

 private:
  void ReleaseBlockCodes() {
    ReleaseCodeTables(s_.LiteralCodes);
    ReleaseCodeTables(s_.DistanceCodes);
    ReleaseCodeTables(s_.BitLengthCodes);
  }
  int InflateStoredBlock();
  int InflateFixedBlock();
  int InflateDynamicBlock();
  int InflateCodes(const TCodeSet& literals, const TCodeSet& distances, unsigned bl, unsigned bd);
  int FastCodes(const TCodeTableEntry* lt, const TCodeTableEntry* dt, unsigned bl, unsigned bd);
  int SlowSymbol(const TCodeTableEntry* lt, const TCodeTableEntry* dt, unsigned bl, unsigned bd);
  int Build(const std::uint16_t* lengths, unsigned n, unsigned simple, const std::uint16_t* base,
            const std::uint8_t* extra, TCodeSet& set, int& m);

  void Need(unsigned n) { s_.EnsureBits(n, bb_, bk_); }
  void Drop(unsigned n) { TDecodeState::DropBits(n, bb_, bk_); }
  unsigned Peek(unsigned n) const { return static_cast<unsigned>(bb_) & BitMask[n]; }
  void PutWindow(std::uint8_t byte) {
    window_[wpos_++] = byte;
    if (wpos_ == kWindow) FlushFullWindow();
  }
  // Every path that fills the window ends here, so that outside it wpos_ is always
  // below kWindow: a position at the end would leave no room for the next byte.
  void FlushFullWindow() {
    wpos_ = 0;
    wrapped_ = true;
    s_.FlushWindow(kWindow);
  }
  // A distance that reaches before the entry's first byte names history the entry
  // does not have. Other decoders reject such a stream; so do we, rather than copy
  // whatever an earlier entry left in the window.
  bool ReachesBeforeData(std::uint32_t dist) const { return !wrapped_ && dist > wpos_; }

  static constexpr int kMore = -1;  // FastCodes/SlowSymbol: the block goes on

  TDecodeState& s_;
  std::uint8_t* window_;
  std::uint64_t bb_ = 0;  // bit buffer: bits not yet used, first bit lowest
  unsigned bk_ = 0;       // valid bits in bb_; bits above them are zero
  std::uint32_t wpos_ = 0;  // next window slot, always below kWindow between symbols
  bool wrapped_ = false;    // the window has been flushed whole at least once
};

int TInflater::Build(const std::uint16_t* lengths, unsigned n, unsigned simple, const std::uint16_t* base,
                     const std::uint8_t* extra, TCodeSet& set, int& m) {
  const int result = BuildCodeTable(lengths, n, simple, base, extra, set, m);
  if (result == ctOutOfMemory) s_.ReportOutOfMemory();
  return result;
}

int TInflater::InflateBlock(bool& last) {
  // A damaged stream whose data has run out can go on forever with empty blocks
  // made of the repeated last byte. A block that would start with no real bit
  // left is such a block: stop the entry (its CRC comparison reports it).
  if (s_.MissedBytes > 0 && static_cast<std::uint64_t>(s_.MissedBytes) * 8 >= bk_) return ibBadData;
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
        return ibBadBlock;
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
    return ibBadData;
  }
}

int TInflater::InflateStoredBlock() {
  Drop(bk_ & 7);  // a stored block starts at the next byte boundary
  Need(16);
  const unsigned len = Peek(16);
  Drop(16);
  Need(16);
  const unsigned nlen = Peek(16);
  Drop(16);
  if (len != (~nlen & 0xFFFF)) return ibBadData;

  for (unsigned left = len; left > 0;) {
    if (bk_ >= 8) {  // whole bytes still in the bit buffer come first
      const auto byte = static_cast<std::uint8_t>(bb_);
      Drop(8);
      PutWindow(byte);
      --left;
    } else if (s_.InputCount > 0 && s_.CompressedLeft > 0) {
      // Straight from the input chunk, as far as input, window and block allow.
      std::uint32_t take = left;
      take = std::min(take, s_.InputCount);
      take = static_cast<std::uint32_t>(std::min<std::int64_t>(take, s_.CompressedLeft));
      take = std::min(take, kWindow - wpos_);
      std::memcpy(window_ + wpos_, s_.InputPtr, take);
      s_.InputPtr += take;
      s_.InputCount -= take;
      s_.CompressedLeft -= take;
      s_.LastByte = s_.InputPtr[-1];
      wpos_ += take;
      left -= take;
      if (wpos_ == kWindow) FlushFullWindow();
    } else {  // a refill, or the repeated last byte past the end of the data
      Need(8);
      const auto byte = static_cast<std::uint8_t>(bb_);
      Drop(8);
      PutWindow(byte);
      --left;
    }
  }
  return ibOk;
}

int TInflater::InflateFixedBlock() {
  if (!s_.FixedCodesReady) {
    // 288 literal/length lengths: 0-143 8 bits, 144-255 9, 256-279 7, 280-287 8.
    std::uint16_t lengths[288];
    for (int i = 0; i < 144; ++i) lengths[i] = 8;
    for (int i = 144; i < 256; ++i) lengths[i] = 9;
    for (int i = 256; i < 280; ++i) lengths[i] = 7;
    for (int i = 280; i < 288; ++i) lengths[i] = 8;
    int bl = 7;
    int result = Build(lengths, 288, 257, kLengthBase, kLengthExtra, s_.FixedLiteralCodes, bl);
    if (result != ctComplete) return result;
    // 30 distance codes of 5 bits: the set is incomplete (codes 30 and 31 are
    // invalid), which is accepted here.
    for (int i = 0; i < 30; ++i) lengths[i] = 5;
    int bd = 5;
    result = Build(lengths, 30, 0, kDistanceBase, kDistanceExtra, s_.FixedDistanceCodes, bd);
    if (result > ctIncomplete) {
      ReleaseCodeTables(s_.FixedLiteralCodes);
      return result;
    }
    s_.FixedLiteralBits = bl;
    s_.FixedDistanceBits = bd;
    s_.FixedCodesReady = true;
  }
  return InflateCodes(s_.FixedLiteralCodes, s_.FixedDistanceCodes, static_cast<unsigned>(s_.FixedLiteralBits),
                      static_cast<unsigned>(s_.FixedDistanceBits)) != 0
             ? ibBadData
             : ibOk;
}

int TInflater::InflateDynamicBlock() {
  Need(5);
  const unsigned nl = 257 + Peek(5);
  Drop(5);
  Need(5);
  const unsigned nd = 1 + Peek(5);
  Drop(5);
  Need(4);
  const unsigned nb = 4 + Peek(4);
  Drop(4);
  if (nl > 286 || nd > 30) return ibBadData;

  std::uint16_t lengths[286 + 30] = {};
  for (unsigned j = 0; j < nb; ++j) {
    Need(3);
    lengths[kBitLengthOrder[j]] = static_cast<std::uint16_t>(Peek(3));
    Drop(3);
  }
  int bb = 7;
  int result = Build(lengths, 19, 19, nullptr, nullptr, s_.BitLengthCodes, bb);
  if (result != ctComplete) {
    if (result == ctIncomplete) ReleaseCodeTables(s_.BitLengthCodes);
    return result;
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
      return ibBadData;
    }
    while (repeat-- > 0) lengths[i++] = static_cast<std::uint16_t>(value);
  }
  ReleaseCodeTables(s_.BitLengthCodes);

  int bl = kLiteralWidth;
  result = Build(lengths, nl, 257, kLengthBase, kLengthExtra, s_.LiteralCodes, bl);
  if (result != ctComplete) {  // an incomplete literal/length code is an error
    if (result == ctIncomplete) ReleaseCodeTables(s_.LiteralCodes);
    return result;
  }
  int bd = kDistanceWidth;
  result = Build(lengths + nl, nd, 0, kDistanceBase, kDistanceExtra, s_.DistanceCodes, bd);
  if (result != ctComplete) {  // and so is an incomplete distance code
    if (result == ctIncomplete) ReleaseCodeTables(s_.DistanceCodes);
    ReleaseCodeTables(s_.LiteralCodes);
    return result;
  }
  const int decoded = InflateCodes(s_.LiteralCodes, s_.DistanceCodes, static_cast<unsigned>(bl), static_cast<unsigned>(bd));
  ReleaseCodeTables(s_.LiteralCodes);
  ReleaseCodeTables(s_.DistanceCodes);
  return decoded != 0 ? ibBadData : ibOk;
}

int TInflater::InflateCodes(const TCodeSet& literals, const TCodeSet& distances, unsigned bl, unsigned bd) {
  if (literals.Absent()) return 1;
  const TCodeTableEntry* lt = literals.Root();
  const TCodeTableEntry* dt = distances.Absent() ? nullptr : distances.Root();
  for (;;) {
    if (s_.InputCount >= kFastInput && wpos_ <= kFastWindowLimit) {
      const int result = FastCodes(lt, dt, bl, bd);
      if (result != kMore) return result;
    }
    const int result = SlowSymbol(lt, dt, bl, bd);
    if (result != kMore) return result;
  }
}

// Entry: at least kFastInput bytes in the input chunk, wpos_ <= kFastWindowLimit.
// Each turn refills the bit buffer to 56 or more bits, enough for the longest
// symbol (15 + 5 + 15 + 13 bits), and writes at most 258 window bytes, so neither
// a refill nor a window flush is ever needed inside. Leaves when fewer than 8
// input bytes or 258 window bytes remain, handing back the unused whole bytes; a
// window filled to its very end by the last match is flushed on the way out.
int TInflater::FastCodes(const TCodeTableEntry* lt, const TCodeTableEntry* dt, unsigned bl, unsigned bd) {
  const std::uint8_t* const start = s_.InputPtr;
  const std::uint8_t* in = start;
  const std::uint8_t* const refillLimit = start + s_.InputCount - 8;
  std::uint8_t* const win = window_;
  std::uint64_t bb = bb_;
  unsigned bk = bk_;
  std::uint32_t wpos = wpos_;
  const std::uint64_t ml = BitMask[bl];
  const std::uint64_t md = BitMask[bd];
  int result = kMore;

  while (in <= refillLimit && wpos <= kFastWindowLimit) {
    bb |= Load64(in) << bk;
    in += (63 - bk) >> 3;
    bk |= 56;

    TCodeTableEntry e = lt[bb & ml];
    while (e.Extra > ceLiteral) {
      if (e.Extra == ceInvalid) {
        result = 1;
        goto done;
      }
      bb >>= e.Bits;
      bk -= e.Bits;
      e = lt[e.Value + (bb & BitMask[e.Extra - 16])];
    }
    bb >>= e.Bits;
    bk -= e.Bits;
    if (e.Extra == ceLiteral) {
      win[wpos++] = static_cast<std::uint8_t>(e.Value);
      continue;
    }
    if (e.Extra == ceEndOfBlock) {
      result = 0;
      break;
    }
    const std::uint32_t len = e.Value + static_cast<std::uint32_t>(bb & BitMask[e.Extra]);
    bb >>= e.Extra;
    bk -= e.Extra;
    if (dt == nullptr) {  // a length code in a literal-only block
      result = 1;
      break;
    }
    TCodeTableEntry d = dt[bb & md];
    while (d.Extra > ceLiteral) {
      if (d.Extra == ceInvalid) {
        result = 1;
        goto done;
      }
      bb >>= d.Bits;
      bk -= d.Bits;
      d = dt[d.Value + (bb & BitMask[d.Extra - 16])];
    }
    bb >>= d.Bits;
    bk -= d.Bits;
    const std::uint32_t dist = d.Value + static_cast<std::uint32_t>(bb & BitMask[d.Extra]);
    bb >>= d.Extra;
    bk -= d.Extra;

    std::uint32_t left = len;
    if (dist > wpos) {
      if (!wrapped_) {  // before the entry's first byte
        result = 1;
        break;
      }
      // The source starts near the window's end (bytes of the previous cycle):
      // copy up to the end, in increasing order, then go on from slot 0.
      const std::uint32_t from = wpos + kWindow - dist;
      const std::uint32_t piece = std::min(left, kWindow - from);
      std::memmove(win + wpos, win + from, piece);
      wpos += piece;
      left -= piece;
    }
    if (left > 0) {
      CopyMatch(win + wpos, dist, left);
      wpos += left;
    }
  }
done:
  // Hand back the whole bytes read ahead in this run.
  std::uint32_t back = bk >> 3;
  const auto used = static_cast<std::uint32_t>(in - start);
  if (back > used) back = used;
  in -= back;
  bk -= back * 8;
  bb &= (std::uint64_t{1} << bk) - 1;
  const auto consumed = static_cast<std::uint32_t>(in - start);
  if (consumed > 0) s_.LastByte = in[-1];
  s_.InputPtr = in;
  s_.InputCount -= consumed;
  s_.CompressedLeft -= consumed;
  bb_ = bb;
  bk_ = bk;
  wpos_ = wpos;
  // The last match may have ended exactly at the window's end; the state above is
  // complete before the flush, which may throw.
  if (wpos_ == kWindow) FlushFullWindow();
  return result;
}

// One symbol through the frame's byte reader and window flush.
int TInflater::SlowSymbol(const TCodeTableEntry* lt, const TCodeTableEntry* dt, unsigned bl, unsigned bd) {
  // Once a symbol has taken bits of the repeated last byte, the data has run out in
  // the middle of a block: such made-up bits could go on copying until the declared
  // size, which a few hostile bytes can set to 4 GiB. Stop the entry (its CRC
  // comparison reports it).
  if (static_cast<std::uint64_t>(s_.MissedBytes) * 8 > bk_) return 1;
  Need(bl);
  TCodeTableEntry e = lt[Peek(bl)];
  while (e.Extra > ceLiteral) {
    if (e.Extra == ceInvalid) return 1;
    Drop(e.Bits);
    const unsigned n = e.Extra - 16u;
    Need(n);
    e = lt[e.Value + Peek(n)];
  }
  Drop(e.Bits);
  if (e.Extra == ceLiteral) {
    PutWindow(static_cast<std::uint8_t>(e.Value));
    return kMore;
  }
  if (e.Extra == ceEndOfBlock) return 0;

  Need(e.Extra);
  std::uint32_t len = e.Value + Peek(e.Extra);
  Drop(e.Extra);
  if (dt == nullptr) return 1;
  Need(bd);
  TCodeTableEntry d = dt[Peek(bd)];
  while (d.Extra > ceLiteral) {
    if (d.Extra == ceInvalid) return 1;
    Drop(d.Bits);
    const unsigned n = d.Extra - 16u;
    Need(n);
    d = dt[d.Value + Peek(n)];
  }
  Drop(d.Bits);
  Need(d.Extra);
  const std::uint32_t dist = d.Value + Peek(d.Extra);
  Drop(d.Extra);
  if (ReachesBeforeData(dist)) return 1;
  std::uint32_t from = wpos_ - dist;

  // In pieces that end at the window's end or the source's, flushing the window
  // whenever it fills.
  do {
    from &= kWindow - 1;
    std::uint32_t piece = kWindow - std::max(from, wpos_);
    if (piece > len) piece = len;
    if (wpos_ >= from + piece) {
      std::memcpy(window_ + wpos_, window_ + from, piece);
    } else {
      for (std::uint32_t i = 0; i < piece; ++i) window_[wpos_ + i] = window_[from + i];
    }
    wpos_ += piece;
    from += piece;
    len -= piece;
    if (wpos_ == kWindow) FlushFullWindow();
  } while (len > 0);
  return kMore;
}

}  // namespace

void Inflate(TDecodeState& state) {
  TInflater inflater(state);
  bool last = false;
  do {
    if (inflater.InflateBlock(last) != ibOk) return;
  } while (!last);
  state.FlushWindow(inflater.WindowPosition());
  state.FlushOutput();
}

}  // namespace kestrel
