// Canonical Huffman codes to lookup tables.
//
// In canonical order (by length, equal lengths by symbol) the codes, read as
// left-aligned bit strings, increase. So the codes that share their first b bits
// form one run of that order, and the run's last code is its longest. A table
// resolves some bits of the code: a code that ends within them fills every slot
// whose index starts with its bits (the stream's first bit is an index's lowest);
// the run of longer codes behind one slot gets a sub-table just wide enough for
// the run's longest code, but at most m bits, and so on down.

#include "unzip/decode/code_table.h"

#include <algorithm>
#include <new>

namespace kestrel {
namespace {

constexpr int MaxCodeBits = 16;
constexpr unsigned MaxSymbols = 288;
// Link values are 16-bit slot indexes. The callers' codes stay far below this
// (at most 288 real codes, each opening at most one table per level).
constexpr std::size_t MaxSlots = 0x10000;

struct TCode {
  std::uint32_t Bits;  // the code, first bit in the highest of its Length bits
  std::uint8_t Length;
  TCodeTableEntry Entry;  // what the code decodes to; its Bits field set per table
};

// The first `count` bits of a code, reversed: the index bits of a table that
// resolves them, first bit lowest.
std::uint32_t ReversedBits(const TCode& code, unsigned from, unsigned count) {
  std::uint32_t index = 0;
  for (unsigned i = 0; i < count; ++i) index |= ((code.Bits >> (code.Length - 1 - from - i)) & 1u) << i;
  return index;
}

class TTableWriter {
 public:
  TTableWriter(TCodeSet& set, const TCode* codes, unsigned m, std::uint16_t invalidValue)
      : set_(set), codes_(codes), m_(m), invalidValue_(invalidValue) {}

  /// Appends a table of 2^bits slots, every slot invalid; false when the slot
  /// indexes would no longer fit a link.
  bool NewTable(unsigned bits, std::size_t& start) {
    start = set_.Entries.size();
    if (start + (std::size_t{1} << bits) > MaxSlots) return false;
    // An unused pattern reads as invalid. Its width and value matter only to the
    // code-length decoder, which takes no invalid code except the unused half of
    // a code that has a single length-1 code; there it repeats that symbol.
    set_.Entries.resize(start + (std::size_t{1} << bits),
                        TCodeTableEntry{ceInvalid, static_cast<std::uint8_t>(bits), invalidValue_});
    return true;
  }

  /// Fills the table at start, of `bits` index bits, which resolves the code bits
  /// from `resolved` on, with the run [first, last) of codes that share their
  /// first `resolved` bits.
  bool Fill(std::size_t start, unsigned bits, unsigned resolved, unsigned first, unsigned last) {
    for (unsigned i = first; i < last;) {
      const TCode& code = codes_[i];
      const unsigned here = code.Length - resolved;  // code bits left at this level
      if (here <= bits) {
        TCodeTableEntry entry = code.Entry;
        entry.Bits = static_cast<std::uint8_t>(here);
        for (std::uint32_t slot = ReversedBits(code, resolved, here); slot < (1u << bits); slot += 1u << here)
          set_.Entries[start + slot] = entry;
        ++i;
        continue;
      }
      // The run of codes that share this slot's bits; it ends with its longest code.
      const std::uint32_t prefix = code.Bits >> (code.Length - resolved - bits);
      unsigned end = i + 1;
      while (end < last && codes_[end].Bits >> (codes_[end].Length - resolved - bits) == prefix) ++end;
      const unsigned longest = codes_[end - 1].Length - resolved - bits;
      const unsigned width = std::min(longest, m_);
      std::size_t sub = 0;
      if (!NewTable(width, sub)) return false;
      set_.Entries[start + ReversedBits(code, resolved, bits)] = TCodeTableEntry{
          static_cast<std::uint8_t>(16 + width), static_cast<std::uint8_t>(bits), static_cast<std::uint16_t>(sub)};
      if (!Fill(sub, width, resolved + bits, i, end)) return false;
      i = end;
    }
    return true;
  }

 private:
  TCodeSet& set_;
  const TCode* codes_;
  unsigned m_;
  std::uint16_t invalidValue_;
};

}  // namespace

TCodeResult BuildCodeTable(const std::uint16_t* lengths, unsigned n, unsigned s, const std::uint16_t* base,
                           const std::uint8_t* extra, TCodeSet& set, int& m) {
  ReleaseCodeTables(set);
  if (n > MaxSymbols) return TCodeResult::OverSubscribed;

  TLengthCount lengthCount;
  if (!CountCodeLengths(lengths, n, MaxCodeBits, lengthCount)) return TCodeResult::OverSubscribed;
  const unsigned* const count = lengthCount.Count;
  if (count[0] == n) {
    m = 0;
    return TCodeResult::Complete;
  }
  const int longest = static_cast<int>(lengthCount.Longest);
  m = std::clamp(m, static_cast<int>(lengthCount.Shortest), longest);
  // Below zero the lengths ask for more codes than there are bit patterns.
  const std::int64_t free = lengthCount.Free;
  if (free < 0) return TCodeResult::OverSubscribed;

  // The first code of each length, left-aligned to that length: the codes of a
  // length follow on from where the shorter ones ended.
  std::uint32_t nextCode[MaxCodeBits + 2] = {};
  for (int k = 1; k <= MaxCodeBits; ++k) nextCode[k + 1] = (nextCode[k] + count[k]) << 1;
  unsigned position[MaxCodeBits + 1] = {};  // where each length starts in canonical order
  for (int k = 2; k <= MaxCodeBits; ++k) position[k] = position[k - 1] + count[k - 1];

  TCode codes[MaxSymbols];
  const unsigned used = n - count[0];
  for (unsigned v = 0; v < n; ++v) {
    const unsigned k = lengths[v];
    if (k == 0) continue;
    TCode& code = codes[position[k]++];
    code.Bits = nextCode[k]++;
    code.Length = static_cast<std::uint8_t>(k);
    if (v < s)
      code.Entry = {v < 256 ? ceLiteral : ceEndOfBlock, 0, static_cast<std::uint16_t>(v)};
    else
      code.Entry = {extra[v - s], 0, base[v - s]};
  }

  try {
    TTableWriter writer(set, codes, static_cast<unsigned>(m), codes[used - 1].Entry.Value);
    std::size_t root = 0;
    if (!writer.NewTable(static_cast<unsigned>(m), root) || !writer.Fill(root, static_cast<unsigned>(m), 0, 0, used)) {
      ReleaseCodeTables(set);
      return TCodeResult::OutOfMemory;
    }
  } catch (const std::bad_alloc&) {
    ReleaseCodeTables(set);
    return TCodeResult::OutOfMemory;
  }
  // A lone code of length 1 leaves half the patterns free, and still counts as
  // complete: a compressor may send such a code for a block of one distance.
  return free != 0 && longest != 1 ? TCodeResult::Incomplete : TCodeResult::Complete;
}

}  // namespace kestrel
