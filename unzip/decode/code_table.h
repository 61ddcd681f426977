#pragma once
// Multi-level lookup tables for canonical Huffman codes, read least significant
// bit first. Inflate builds its literal/length, distance and code-length codes
// with them; explode builds its Shannon-Fano trees with them too.

#include <cstdint>
#include <vector>

namespace kestrel {

/// One slot of a decoding table, 4 bytes:
///   byte 0  `Extra`: 0-13 a length or distance code followed by that many extra
///           bits; 15 end of block; 16 a literal or other plain symbol; 17-32 a
///           link to a sub-table indexed by (`Extra` - 16) further bits; 99 a bit
///           pattern that no symbol owns (invalid code);
///   byte 1  `Bits`: bits of the code consumed at this table level;
///   bytes 2-3 `Value`: the literal, the base length or distance, the code-length
///           symbol, or, for a link, the index of the sub-table's slot 0 in the
///           code set. An invalid slot repeats the value of the last symbol placed
///           before it (the code-length decoder, which never meets an invalid code
///           in a valid stream, relies on nothing more).
struct TCodeTableEntry {
  std::uint8_t Extra;
  std::uint8_t Bits;
  std::uint16_t Value;
};
static_assert(sizeof(TCodeTableEntry) == 4);

inline constexpr std::uint8_t ceEndOfBlock = 15;
inline constexpr std::uint8_t ceLiteral = 16;
inline constexpr std::uint8_t ceInvalid = 99;

/// All tables of one code, in one block of storage: the first-level table starts at
/// slot 0 and every sub-table follows it. Absent (no code at all) when empty. The
/// storage keeps its capacity when released, so one set serves block after block
/// without allocating.
class TCodeSet {
 public:
  bool Absent() const { return Entries.empty(); }
  const TCodeTableEntry* Root() const { return Entries.data(); }

  std::vector<TCodeTableEntry> Entries;
};

/// Results of BuildCodeTable and of the other table builders.
enum class TCodeResult {
  Complete,        ///< every bit pattern belongs to a symbol
  Incomplete,      ///< some patterns are unused (they decode as invalid)
  OverSubscribed,  ///< more codes than the lengths allow
  OutOfMemory,     ///< the tables could not be allocated
};

/// A code's lengths counted, as both table builders first need them: how many
/// codes of each length, the shortest and the longest length used (0 when every
/// length is 0), and the bit patterns the code leaves unused, counted at the
/// longest length (below zero: more codes than there are patterns).
struct TLengthCount {
  unsigned Count[17] = {};
  unsigned Shortest = 0, Longest = 0;
  std::int64_t Free = 0;
};

/// Counts n lengths; false when one passes maxBits (at most 16).
constexpr bool CountCodeLengths(const std::uint16_t* lengths, unsigned n, unsigned maxBits, TLengthCount& c) {
  for (unsigned i = 0; i < n; ++i) {
    if (lengths[i] > maxBits) return false;
    ++c.Count[lengths[i]];
  }
  if (c.Count[0] == n) return true;
  c.Shortest = 1;
  while (c.Count[c.Shortest] == 0) ++c.Shortest;
  c.Longest = maxBits;
  while (c.Count[c.Longest] == 0) --c.Longest;
  c.Free = std::int64_t{1} << c.Longest;
  for (unsigned k = 1; k <= c.Longest; ++k) c.Free -= static_cast<std::int64_t>(c.Count[k]) << (c.Longest - k);
  return true;
}

/// Builds the tables of the code given by n code lengths (0 = symbol unused, at
/// most 16; n at most 288). Symbols below s are plain: `Extra` 16, or 15 for
/// symbol 256 (end of block); symbol v from s on takes `Value` base[v - s] and
/// `Extra` extra[v - s]. m is the requested first-level width in bits; it comes
/// back raised to the shortest length or lowered to the longest. All lengths 0
/// leave the set absent with m = 0 and result Complete. An incomplete code whose
/// only length is 1 counts as complete. The set is released first in every case,
/// and on every result but Complete and Incomplete it is left absent.
TCodeResult BuildCodeTable(const std::uint16_t* lengths, unsigned n, unsigned s, const std::uint16_t* base,
                           const std::uint8_t* extra, TCodeSet& set, int& m);

/// Drops every table of the set; releasing an absent set does nothing.
inline void ReleaseCodeTables(TCodeSet& set) { set.Entries.clear(); }

}  // namespace kestrel
