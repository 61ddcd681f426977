// Canonical Huffman codes to lookup tables. Codes are walked in canonical order as
// a bit-reversed counter (the first bit read is the counter's lowest bit); a code
// longer than the bits the open tables resolve opens a sub-table, sized as small as
// the codes still to place under that prefix allow, but at most m bits.

#include "unzip/decode/code_table.h"

#include <algorithm>
#include <new>

namespace kestrel {
namespace {
constexpr int kMaxCodeBits = 16;
constexpr unsigned kMaxSymbols = 288;
// Link values are 16-bit slot indexes. The callers' codes stay far below this
// (at most 288 real codes, each opening at most one table per level).
constexpr std::size_t kMaxSlots = 0x10000;
}  // namespace

int BuildCodeTable(const std::uint16_t* lengths, unsigned n, unsigned s, const std::uint16_t* base,
                   const std::uint8_t* extra, TCodeSet& set, int& m) {
  ReleaseCodeTables(set);
  if (n > kMaxSymbols) return ctOverSubscribed;

  // Codes of each length.
  unsigned count[kMaxCodeBits + 1] = {};
  for (unsigned i = 0; i < n; ++i) {
    if (lengths[i] > kMaxCodeBits) return ctOverSubscribed;
    ++count[lengths[i]];
  }
  if (count[0] == n) {
    m = 0;
    return ctComplete;
  }

  // Shortest and longest length bound the first-level width.
  int kMin = 1;
  while (count[kMin] == 0) ++kMin;
  int g = kMaxCodeBits;
  while (count[g] == 0) --g;
  if (m < kMin) m = kMin;
  if (m > g) m = g;
  const int l = m;

  // Over-subscription: patterns left at each length must not go negative. The
  // patterns nobody uses become dummy codes of the longest length.
  int unused = 1 << kMin;
  for (int j = kMin; j < g; ++j, unused <<= 1)
    if ((unused -= static_cast<int>(count[j])) < 0) return ctOverSubscribed;
  if ((unused -= static_cast<int>(count[g])) < 0) return ctOverSubscribed;
  count[g] += static_cast<unsigned>(unused);

  // Symbols in order of code length, equal lengths in symbol order.
  unsigned offset[kMaxCodeBits + 2] = {};
  for (int j = 1; j <= kMaxCodeBits; ++j) offset[j + 1] = offset[j] + (j == g ? 0 : count[j]);
  // count[g] holds the dummies too; offsets past g are never used.
  unsigned ordered[kMaxSymbols];
  unsigned realCodes = 0;
  for (unsigned i = 0; i < n; ++i)
    if (lengths[i] != 0) {
      ordered[offset[lengths[i]]++] = i;
      ++realCodes;
    }

  try {
    std::size_t tableStart[kMaxCodeBits + 1] = {};  // slot 0 of the open table per level
    int tableBits[kMaxCodeBits + 1] = {};
    unsigned openedAt[kMaxCodeBits + 1] = {};  // code bits that opened each table
    int h = -1;                                // level of the current table
    int w = -l;                                // bits resolved by the levels above it
    unsigned code = 0;                         // bit-reversed canonical code
    unsigned next = 0;                         // next entry of ordered[]
    std::size_t q = 0;                         // current table's slot 0
    unsigned z = 0;                            // current table's slot count
    std::uint16_t lastValue = 0;

    for (int k = kMin; k <= g; ++k) {
      for (unsigned a = count[k]; a-- > 0;) {
        while (k > w + l) {
          // Only dummy codes remain and they need a new table: the slots they
          // would fill are already invalid, so stop here.
          if (next >= realCodes) return unused != 0 && g != 1 ? ctIncomplete : ctComplete;
          ++h;
          w += l;
          const unsigned limit = static_cast<unsigned>(std::min(g - w, l));
          unsigned j = static_cast<unsigned>(k - w);
          unsigned f = 1u << j;
          if (f > a + 1) {
            // Too few codes of this length to fill a (k - w)-bit table: grow it
            // while the longer codes under this prefix still fill the patterns.
            f -= a + 1;
            const unsigned* xp = count + k;
            while (++j < limit) {
              if ((f <<= 1) <= *++xp) break;
              f -= *xp;
            }
          }
          z = 1u << j;
          q = set.Entries.size();
          if (q + z > kMaxSlots) {
            ReleaseCodeTables(set);
            return ctOutOfMemory;
          }
          set.Entries.resize(q + z, TCodeTableEntry{ceInvalid, static_cast<std::uint8_t>(j), 0});
          tableStart[h] = q;
          tableBits[h] = static_cast<int>(j);
          if (h > 0) {
            openedAt[h] = code;
            const unsigned parentSlot = (code >> (w - l)) & ((1u << tableBits[h - 1]) - 1);
            set.Entries[tableStart[h - 1] + parentSlot] =
                TCodeTableEntry{static_cast<std::uint8_t>(16 + j), static_cast<std::uint8_t>(l),
                                static_cast<std::uint16_t>(q)};
          }
        }

        TCodeTableEntry r{ceInvalid, static_cast<std::uint8_t>(k - w), lastValue};
        if (next < realCodes) {
          const unsigned v = ordered[next++];
          if (v < s) {
            r.Extra = v < 256 ? ceLiteral : ceEndOfBlock;
            r.Value = static_cast<std::uint16_t>(v);
          } else {
            r.Extra = extra[v - s];
            r.Value = base[v - s];
          }
          lastValue = r.Value;
        }

        // Every slot whose index ends in the code's remaining bits.
        const unsigned step = 1u << (k - w);
        for (unsigned j = code >> w; j < z; j += step) set.Entries[q + j] = r;

        // Next code: bit-reversed increment.
        unsigned bit = 1u << (k - 1);
        while (code & bit) {
          code ^= bit;
          bit >>= 1;
        }
        code ^= bit;

        // Close the tables whose prefix is used up.
        while (h > 0 && (code & ((1u << w) - 1)) != openedAt[h]) {
          --h;
          w -= l;
          q = tableStart[h];
          z = 1u << tableBits[h];
        }
      }
    }
  } catch (const std::bad_alloc&) {
    ReleaseCodeTables(set);
    return ctOutOfMemory;
  }
  return unused != 0 && g != 1 ? ctIncomplete : ctComplete;
}

}  // namespace kestrel
