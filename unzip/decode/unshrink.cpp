// Unshrink. Each code names a string: codes 0-255 the single bytes, each later
// code a known string (its prefix code) plus one byte (its suffix). After every
// code but the first, the decoder defines the lowest free code as the previous
// code's string plus the first byte of this one. Code 256 escapes: 256,1 widens
// the codes by a bit, 256,2 frees the leaves of the code tree.

#include "unzip/decode/unshrink.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

constexpr std::uint32_t FirstFree = 257;
constexpr std::uint32_t InitialCodeSize = 9;
constexpr std::uint32_t MaxCodeSize = 13;
constexpr std::int16_t FreeCode = -1;
// Bit 15 of a prefix marks a leaf while a partial clear runs.
constexpr std::uint16_t LeafMark = 0x8000;

// The prefix table sits in the byte window; these read and write its 16-bit entries.
inline std::int16_t Prefix(const std::uint8_t* window, std::uint32_t code) {
  std::int16_t value;
  std::memcpy(&value, window + ShrinkPrefixAt + 2 * code, 2);
  return value;
}
inline void SetPrefix(std::uint8_t* window, std::uint32_t code, std::int16_t value) {
  std::memcpy(window + ShrinkPrefixAt + 2 * code, &value, 2);
}

std::uint32_t NextFreeFrom(const std::uint8_t* window, std::uint32_t code) {
  while (code < ShrinkTableLimit && Prefix(window, code) != FreeCode) ++code;
  return code;
}

}  // namespace

std::uint32_t PartialClear(std::uint8_t* window, std::uint32_t nextFree) {
  // Mark every defined code as a leaf, unmark every code that a defined code names
  // as its prefix, then free what is still marked. A free code stays free even
  // when a defined code still names it (a code defined right after a clear that
  // freed its prefix): unmarking it would turn it into a code with prefix 0x7FFF.
  for (std::uint32_t code = FirstFree; code < nextFree; ++code) {
    const std::int16_t p = Prefix(window, code);
    if (p != FreeCode) SetPrefix(window, code, static_cast<std::int16_t>(p | LeafMark));
  }
  for (std::uint32_t code = FirstFree; code < nextFree; ++code) {
    const std::int16_t p = Prefix(window, code);
    if (p == FreeCode) continue;
    const std::uint32_t parent = static_cast<std::uint16_t>(p) & 0x7FFFu;
    if (parent < FirstFree || parent >= ShrinkTableLimit) continue;
    const std::int16_t pp = Prefix(window, parent);
    if (pp != FreeCode) SetPrefix(window, parent, static_cast<std::int16_t>(pp & 0x7FFF));
  }
  for (std::uint32_t code = FirstFree; code < nextFree; ++code)
    if ((static_cast<std::uint16_t>(Prefix(window, code)) & LeafMark) != 0) SetPrefix(window, code, FreeCode);
  return NextFreeFrom(window, FirstFree);
}

void Unshrink(TDecodeState& state) {
  std::uint8_t* const window = state.Window.data();
  std::uint8_t* const suffix = window + ShrinkSuffixAt;
  std::uint8_t* const stackBottom = window + ShrinkStackAt;
  std::uint8_t* const stackEnd = stackBottom + ShrinkStackSize;

  for (std::uint32_t code = 0; code < 256; ++code) {
    SetPrefix(window, code, 0);
    suffix[code] = static_cast<std::uint8_t>(code);
  }
  for (std::uint32_t code = 256; code <= ShrinkTableLimit; ++code) SetPrefix(window, code, FreeCode);

  std::uint32_t codeSize = InitialCodeSize;
  std::uint32_t nextFree = FirstFree;

  // The next code, false when the compressed data no longer holds all its bits.
  // A code cut short by the end of the data ends the entry too: the code reader's
  // bit count would wrap, and it would go on delivering zero codes for ever.
  auto readCode = [&](std::uint32_t& code) {
    if (codeSize > state.CodeBitCount) {
      state.RefillCodeBits();
      if (state.InputExhausted != 0 || codeSize > state.CodeBitCount) return false;
    }
    code = state.ReadCodeBits(codeSize);
    return true;
  };

  std::uint32_t code;
  if (!readCode(code)) {
    state.FlushOutput();
    return;
  }
  std::uint32_t previous = code;
  std::uint8_t firstByte = static_cast<std::uint8_t>(code);
  state.PutOutputByte(firstByte);

  for (;;) {
    if (!readCode(code)) break;
    bool stop = false;
    while (code == 256) {
      std::uint32_t escape;
      if (!readCode(escape)) {
        stop = true;
        break;
      }
      if (escape == 1) {
        // Valid data never goes past 13 bits; damaged data ends here.
        if (++codeSize > MaxCodeSize) {
          stop = true;
          break;
        }
      } else if (escape == 2) {
        nextFree = PartialClear(window, nextFree);
      }
      if (!readCode(code)) {
        stop = true;
        break;
      }
    }
    if (stop) break;

    // The string of the code, built backwards on the stack. A free code is the
    // code being defined right now (the previous string plus its own first byte);
    // in damaged data it may be any free code, and the same rule keeps it bounded.
    // A string longer than the stack exists only in damaged data and ends the entry.
    const std::uint32_t incoming = code;
    std::uint8_t* sp = stackEnd;
    while (code >= FirstFree) {
      if (sp == stackBottom) {
        stop = true;
        break;
      }
      const std::int16_t p = Prefix(window, code);
      if (p == FreeCode) {
        *--sp = firstByte;
        code = previous;
      } else {
        *--sp = suffix[code];
        code = static_cast<std::uint16_t>(p);
      }
    }
    if (stop || sp == stackBottom) break;
    firstByte = suffix[code];
    *--sp = firstByte;

    // Out in pieces that end where the output buffer fills.
    std::uint32_t length = static_cast<std::uint32_t>(stackEnd - sp);
    while (length > 0) {
      const std::uint32_t take = std::min<std::uint32_t>(length, DecodeChunk - state.OutputCount);
      std::memcpy(state.OutputPtr, sp, take);
      state.OutputPtr += take;
      state.OutputCount += take;
      sp += take;
      length -= take;
      if (state.OutputCount == static_cast<std::uint32_t>(DecodeChunk)) state.FlushOutput();
    }

    if (nextFree < ShrinkTableLimit) {
      SetPrefix(window, nextFree, static_cast<std::int16_t>(previous));
      suffix[nextFree] = firstByte;
      nextFree = NextFreeFrom(window, nextFree + 1);
    }
    previous = incoming;
  }
  state.FlushOutput();
}

}  // namespace kestrel
