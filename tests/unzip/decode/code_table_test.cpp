// Code tables from code lengths: the result of each kind of length set, and
// lookups of the tables built.

#include "unzip/decode/code_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
using kestrel::BuildCodeTable;
using kestrel::TCodeSet;

kestrel::TCodeResult Build(std::vector<std::uint16_t> lengths, unsigned s, TCodeSet& set, int& m) {
  return BuildCodeTable(lengths.data(), static_cast<unsigned>(lengths.size()), s, nullptr, nullptr, set, m);
}

// Follows the tables for the bits (first bit lowest) and returns the entry found.
kestrel::TCodeTableEntry Lookup(const TCodeSet& set, int m, std::uint32_t bits) {
  auto e = set.Root()[bits & ((1u << m) - 1)];
  while (e.Extra > 16 && e.Extra != kestrel::ceInvalid) {
    bits >>= e.Bits;
    e = set.Entries[e.Value + (bits & ((1u << (e.Extra - 16)) - 1))];
  }
  return e;
}

TEST(BuildCodeTable, ResultsOfLengthSets) {
  struct Case {
    std::vector<std::uint16_t> lengths;
    kestrel::TCodeResult result;
    const char* why;
  };
  const Case cases[] = {
      {{0, 0, 0}, kestrel::TCodeResult::Complete, "all lengths 0: the set is absent"},
      {{1, 1}, kestrel::TCodeResult::Complete, "two codes of length 1 fill the code"},
      {{1}, kestrel::TCodeResult::Complete, "a single code of length 1 counts as complete"},
      {{2, 2}, kestrel::TCodeResult::Incomplete, "two codes of length 2 leave two patterns unused"},
      {{1, 1, 1}, kestrel::TCodeResult::OverSubscribed, "three codes of length 1"},
      {{1, 2, 3, 3}, kestrel::TCodeResult::Complete, "a complete code of three lengths"},
      {{2, 2, 2, 3, 3, 3}, kestrel::TCodeResult::OverSubscribed, "3/4 + 3/8 is more than one"},
  };
  for (const auto& c : cases) {
    TCodeSet set;
    int m = 7;
    EXPECT_EQ(Build(c.lengths, 19, set, m), c.result) << c.why;
  }
}

TEST(BuildCodeTable, FirstLevelWidthIsClampedToTheLengths) {
  TCodeSet set;
  int m = 9;
  ASSERT_EQ(Build({1, 2, 3, 3}, 19, set, m), kestrel::TCodeResult::Complete);
  EXPECT_EQ(m, 3);
  m = 1;
  ASSERT_EQ(Build({3, 3, 3, 3, 3, 3, 3, 3}, 19, set, m), kestrel::TCodeResult::Complete);
  EXPECT_EQ(m, 3);
  m = 5;
  ASSERT_EQ(Build({0, 0}, 19, set, m), kestrel::TCodeResult::Complete);
  EXPECT_EQ(m, 0);
  EXPECT_TRUE(set.Absent());
}

// Codes longer than the first level go through sub-tables: a 15-bit code under a
// 6-bit first level takes three levels.
TEST(BuildCodeTable, LongCodesDecodeThroughSubTables) {
  std::vector<std::uint16_t> lengths(16);
  for (int i = 0; i < 14; ++i) lengths[i] = static_cast<std::uint16_t>(i + 1);
  lengths[14] = 15;
  lengths[15] = 15;  // 1, 2, ..., 14, 15, 15: complete
  TCodeSet set;
  int m = 6;
  ASSERT_EQ(Build(lengths, 19, set, m), kestrel::TCodeResult::Complete);
  // Canonical code of symbol i < 14 is i ones then a zero; read first bit lowest.
  for (unsigned sym = 0; sym < 16; ++sym) {
    const unsigned len = lengths[sym];
    std::uint32_t bits = (sym < 14) ? ((1u << sym) - 1) : ((1u << 14) - 1) | ((sym - 14u) << 14);
    const auto e = Lookup(set, m, bits);
    EXPECT_EQ(e.Value, sym);
    EXPECT_EQ(e.Extra, 16);
    (void)len;
  }
}

TEST(BuildCodeTable, UnusedPatternsOfAnIncompleteCodeAreInvalid) {
  TCodeSet set;
  int m = 7;
  ASSERT_EQ(Build({2, 2}, 19, set, m), kestrel::TCodeResult::Incomplete);
  EXPECT_EQ(Lookup(set, m, 0b00).Value, 0);
  EXPECT_EQ(Lookup(set, m, 0b10).Value, 1);  // code 01, first bit lowest
  EXPECT_EQ(Lookup(set, m, 0b01).Extra, kestrel::ceInvalid);
  EXPECT_EQ(Lookup(set, m, 0b11).Extra, kestrel::ceInvalid);
}

TEST(BuildCodeTable, ReleaseLeavesTheSetAbsent) {
  TCodeSet set;
  int m = 7;
  ASSERT_EQ(Build({1, 1}, 19, set, m), kestrel::TCodeResult::Complete);
  EXPECT_FALSE(set.Absent());
  kestrel::ReleaseCodeTables(set);
  EXPECT_TRUE(set.Absent());
  kestrel::ReleaseCodeTables(set);  // releasing an absent set does nothing
  EXPECT_TRUE(set.Absent());
}

}  // namespace
