// Unreduce. Two layers: the follower-set coding gives a byte stream, in which a
// DLE (144) byte escapes: DLE 0 is a plain 144; DLE V [extra] D is a copy of
// (V's length bits [+ extra]) + 3 bytes from (V's distance bits, D) + 1 bytes back.

#include "unzip/decode/unreduce.h"

#include <array>

#include "unzip/decode/window_copy.h"

namespace kestrel {
namespace {

constexpr std::uint8_t Dle = 144;
constexpr std::uint32_t RowSize = 64;

// Bits of a follower index for a set of N entries: enough to count to N - 1, at
// least 1; 8 for an empty set, whose bytes always come as 8 plain bits.
constexpr std::array<std::uint8_t, 256> IndexBits = [] {
  std::array<std::uint8_t, 256> bits{};
  bits[0] = 8;
  for (unsigned n = 1; n < 256; ++n) {
    std::uint8_t b = 1;
    while ((1u << b) < n) ++b;
    bits[n] = b;
  }
  return bits;
}();
static_assert(IndexBits[1] == 1 && IndexBits[2] == 1 && IndexBits[3] == 2 && IndexBits[32] == 5 && IndexBits[33] == 6 &&
              IndexBits[63] == 6);

enum : int { rsPlain, rsAfterDle, rsLengthByte, rsDistanceByte };

}  // namespace

void LoadFollowerSets(TDecodeState& state, std::uint8_t sizes[256]) {
  std::uint8_t* rows = state.Window.data() + FollowerSetsAt;
  for (int x = 255; x >= 0; --x) {
    // 6 bits: at most 63 followers, so a row never overflows.
    const auto n = static_cast<std::uint8_t>(state.ReadCodeBits(6));
    sizes[x] = n;
    std::uint8_t* row = rows + static_cast<std::uint32_t>(x) * RowSize;
    for (unsigned i = 0; i < n; ++i) row[i] = static_cast<std::uint8_t>(state.ReadCodeBits(8));
  }
}

void Unreduce(TDecodeState& state) {
  // Factor f = method - 1 (of an AES entry, its real method): V keeps 8 - f bits
  // of length and f bits of distance.
  const unsigned factor = std::clamp<unsigned>(state.Entry.DataMethod(), 2, 5) - 1u;
  const unsigned lengthMask = 0xFFu >> factor;
  const unsigned distanceShift = 8 - factor;
  const unsigned distanceMask = (1u << factor) - 1u;

  std::uint8_t sizes[256];
  LoadFollowerSets(state, sizes);
  std::uint8_t* const window = state.Window.data();
  const std::uint8_t* const rows = window + FollowerSetsAt;

  std::int64_t left = state.EntrySize;
  std::uint32_t wpos = 0;
  bool firstPass = true;  // until the window is flushed once: bytes before it are zeros
  unsigned previous = 0;
  int expand = rsPlain;
  unsigned v = 0;
  unsigned length = 0;

  auto windowFull = [&] {
    state.FlushWindow(ReduceWindow);
    wpos = 0;
    firstPass = false;
  };
  auto put = [&](std::uint8_t byte) {
    window[wpos++] = byte;
    --left;
    if (wpos == ReduceWindow) windowFull();
  };

  // Past the end of the data the code reader delivers zero bits, and its bit count
  // runs below zero (wraps past 32). A stream that needs bits its data does not
  // hold is damaged: decoding stops there rather than writing made-up bytes up to
  // the declared size, which a few hostile bytes can set to 2 GiB; the CRC then
  // reports the entry.
  while (left > 0) {
    if (state.InputExhausted != 0 && state.CodeBitCount > 32) break;
    unsigned c;
    const unsigned n = sizes[previous];
    if (n == 0 || state.ReadCodeBits(1) != 0)
      c = state.ReadCodeBits(8);
    else
      c = rows[previous * RowSize + state.ReadCodeBits(IndexBits[n])];

    switch (expand) {
      case rsPlain:
        if (c != Dle)
          put(static_cast<std::uint8_t>(c));
        else
          expand = rsAfterDle;
        break;
      case rsAfterDle:
        if (c == 0) {
          put(Dle);
          expand = rsPlain;
        } else {
          v = c;
          length = c & lengthMask;
          expand = length == lengthMask ? rsLengthByte : rsDistanceByte;
        }
        break;
      case rsLengthByte:
        length += c;
        expand = rsDistanceByte;
        break;
      default: {
        std::uint32_t n = length + 3;
        std::uint32_t d = wpos - (((v >> distanceShift) & distanceMask) * 256 + c + 1);
        // A copy may run past the size; it is made whole and the output-size guard
        // judges the entry.
        left -= static_cast<std::int32_t>(n);
        CopyWindowMatch(window, ReduceWindow, wpos, firstPass, d, n, windowFull);
        expand = rsPlain;
        break;
      }
    }
    previous = c;
  }
  state.FlushWindow(wpos);
  state.FlushOutput();
}

}  // namespace kestrel
