// The fast loop's tables against the code tables: for codes of every shape, each
// bit pattern decodes to the same symbol with the same number of bits, and a slot
// of two literals holds exactly the two codes its bits begin with.

#include "unzip/decode/inflate_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "unzip/decode/code_table.h"

namespace {
using namespace kestrel;

struct TDecodedSymbol {
  unsigned kind;  // 16 literal, 15 end of block, otherwise the extra bits, or 99
  unsigned value;
  unsigned bits;  // code bits
  bool operator==(const TDecodedSymbol&) const = default;
};

TDecodedSymbol ThroughCodeTables(const TCodeSet& set, int m, std::uint32_t pattern) {
  TCodeTableEntry e = set.Root()[pattern & ((1u << m) - 1)];
  unsigned bits = 0;
  while (e.Extra > ceLiteral && e.Extra != ceInvalid) {
    bits += e.Bits;
    pattern >>= e.Bits;
    e = set.Entries[e.Value + (pattern & ((1u << (e.Extra - 16)) - 1))];
  }
  if (e.Extra == ceInvalid) return {ceInvalid, 0, 0};
  return {e.Extra, e.Value, bits + e.Bits};
}

// The first symbol of the pattern, and of a slot of two the second one as well.
TDecodedSymbol ThroughFastTable(const TFastSlot* table, unsigned width, std::uint32_t pattern,
                                TDecodedSymbol* second = nullptr) {
  TFastSlot slot = table[pattern & ((1u << width) - 1)];
  unsigned bits = 0;
  if (slot & SlotLink) {
    bits = SlotDrop(slot);
    slot = table[SlotValue(slot) + ((pattern >> bits) & ((1u << SlotExtra(slot)) - 1))];
  }
  if (SlotLiterals(slot) != 0) {
    const unsigned firstBits = SlotExtra(slot);
    if (SlotLiterals(slot) == 2 && second != nullptr)
      *second = {ceLiteral, SlotValue(slot) >> 8, SlotDrop(slot) - firstBits};
    return {ceLiteral, SlotValue(slot) & 0xFF, bits + firstBits};
  }
  if (slot & SlotEndOfBlock) return {ceEndOfBlock, 256, bits + SlotDrop(slot)};
  if (SlotIsSpecial(slot)) return {ceInvalid, 0, 0};
  return {SlotExtra(slot), SlotValue(slot), bits + SlotDrop(slot) - SlotExtra(slot)};
}

// A complete code with lengths up to 15 on `used` of n symbols: leaves split at
// random until there are enough.
std::vector<std::uint16_t> RandomCode(std::mt19937& rng, unsigned n, unsigned used) {
  std::vector<unsigned> leaves = {0};
  while (leaves.size() < used) {
    const std::size_t i = rng() % leaves.size();
    if (leaves[i] == 15) continue;
    ++leaves[i];
    leaves.push_back(leaves[i]);
  }
  std::vector<std::uint16_t> lengths(n, 0);
  std::vector<unsigned> symbols(n);
  for (unsigned v = 0; v < n; ++v) symbols[v] = v;
  std::shuffle(symbols.begin(), symbols.end(), rng);
  for (std::size_t i = 0; i < leaves.size(); ++i) lengths[symbols[i]] = static_cast<std::uint16_t>(leaves[i]);
  return lengths;
}

void ExpectSameDecoding(const std::vector<std::uint16_t>& lengths, bool literals, const char* what,
                        unsigned literalBits = LiteralTableBits) {
  const unsigned n = static_cast<unsigned>(lengths.size());
  TCodeSet set;
  int m = literals ? 9 : 6;
  const kestrel::TCodeResult expected = literals
                                            ? BuildCodeTable(lengths.data(), n, 257, LengthBase, LengthExtra, set, m)
                                            : BuildCodeTable(lengths.data(), n, 0, DistanceBase, DistanceExtra, set, m);
  std::vector<TFastSlot> table(literals ? LiteralTableSize : DistanceTableSize);
  bool absent = false;
  ASSERT_EQ(BuildInflateTable(lengths.data(), n, literals ? TInflateCode::Literal : TInflateCode::Distance, DeflateRows,
                              table.data(), absent, literalBits, literals),
            expected)
      << what;
  const unsigned width = literals ? literalBits : DistanceTableBits;
  for (std::uint32_t pattern = 0; pattern < (1u << 15); ++pattern) {
    TDecodedSymbol second{0, 0, 0};
    const TDecodedSymbol got = ThroughFastTable(table.data(), width, pattern, &second);
    ASSERT_EQ(got, ThroughCodeTables(set, m, pattern)) << what << " pattern " << pattern;
    if (second.bits != 0) {
      ASSERT_LE(got.bits + second.bits, width) << what;
      ASSERT_EQ(second, ThroughCodeTables(set, m, pattern >> got.bits)) << what << " pattern " << pattern;
    }
  }
}

TEST(InflateTables, EveryPatternDecodesAsWithTheCodeTables) {
  std::mt19937 rng(12);
  for (int round = 0; round < 40; ++round) {
    // Few symbols give short codes and many slots of two literals; many give codes
    // up to 15 bits behind both table levels.
    const unsigned used = 2 + rng() % (round < 20 ? 40 : 280);
    const auto literalLengths = RandomCode(rng, 288, std::min(used, 286u));
    ExpectSameDecoding(literalLengths, true, "literal/length code");
    ExpectSameDecoding(literalLengths, true, "literal/length code, 12-bit first level", WideLiteralTableBits);
    ExpectSameDecoding(RandomCode(rng, 30, 2 + rng() % 28), false, "distance code");
  }
  // A lone code of length 1, and the fixed distance code, which leaves 30 and 31
  // unused: both are accepted, their unused patterns invalid.
  std::vector<std::uint16_t> lone(30, 0);
  lone[7] = 1;
  ExpectSameDecoding(lone, false, "lone code");
  ExpectSameDecoding(std::vector<std::uint16_t>(30, 5), false, "fixed distance code");
}

}  // namespace
