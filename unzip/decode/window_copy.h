#pragma once
// The match copy of the decoders that keep a circular window (explode, unreduce).

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestrel {

/// Copies a match of n bytes (1 or more) whose source starts at window position
/// `from` (taken modulo size) to position pos of a circular window of `size` bytes
/// (a power of two). Each time pos reaches size, full() must write the window out,
/// set pos to 0 and clear firstPass. While firstPass is set, the positions from pos
/// on hold nothing of the entry: a source there lies before the entry's first byte
/// and gives zeros, not what an earlier entry left in the window. A source that
/// overlaps its destination repeats its pattern, as a byte-by-byte copy would.
template <class TFull>
inline void CopyWindowMatch(std::uint8_t* window, std::uint32_t size, std::uint32_t& pos, const bool& firstPass,
                            std::uint32_t from, std::uint32_t n, TFull&& full) {
  // In pieces that end at the window's end or at the source's wrap.
  do {
    from &= size - 1;
    std::uint32_t piece = std::min(size - std::max(from, pos), n);
    n -= piece;
    if (firstPass && from >= pos) {
      std::memset(window + pos, 0, piece);
      pos += piece;
      from += piece;
    } else if (from > pos || pos - from >= piece) {
      // A source after its destination is older history and is read before it is
      // overwritten, as in a forward byte loop; one before it that does not reach
      // it is copied as it is.
      std::memmove(window + pos, window + from, piece);
      pos += piece;
      from += piece;
    } else {
      do window[pos++] = window[from++];
      while (--piece != 0);
    }
    if (pos == size) full();
  } while (n != 0);
}

}  // namespace kestrel
