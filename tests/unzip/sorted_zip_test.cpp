// SortedZipKeys: the object lists' bounds and growth, the duplicate policies, and
// every sort key of TSortedZip with ties.

#include "unzip/sorted_zip.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kestrel {
namespace {

struct TTracked {
  explicit TTracked(int* freed) : Freed(freed) {}
  ~TTracked() { ++*Freed; }
  int* Freed;
};

std::string ListError(const std::function<void()>& action) {
  try {
    action();
  } catch (const EListError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ObjectListBounds, IndexErrorsAndGrowth) {
  TObjectList<int> list;
  list.OwnsItems = false;
  int values[40] = {};
  std::vector<std::int32_t> capacities;
  for (int& v : values) {
    list.Add(&v);
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{4, 8, 16, 32, 48}));
  EXPECT_EQ(ListError([&] { list.Items(40); }), "List index out of bounds (40)");
  EXPECT_EQ(ListError([&] { list.Items(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ListError([&] { list.Insert(41, &values[0]); }), "List index out of bounds (41)");
  EXPECT_EQ(ListError([&] { list.SetCapacity(39); }), "List index out of bounds (39)");
  EXPECT_EQ(ListError([&] { list.SetCount(-1); }), "List index out of bounds (-1)");
  int extra = 0;
  list.Insert(40, &extra);  // Insert(Count) appends
  EXPECT_EQ(list.Items(40), &extra);
  EXPECT_EQ(list.IndexOf(&values[3]), 3);
  EXPECT_EQ(list.IndexOf(nullptr), -1);
  list.SetCount(45);
  EXPECT_EQ(list.Items(44), nullptr);
}

TEST(ObjectListBounds, OwnershipOnDestructionNotOnClear) {
  int freed = 0;
  {
    TObjectList<TTracked> owning;
    auto a = std::make_unique<TTracked>(&freed);
    auto b = std::make_unique<TTracked>(&freed);
    owning.Add(a.release());
    owning.Add(b.release());
  }
  EXPECT_EQ(freed, 2);

  freed = 0;
  auto kept = std::make_unique<TTracked>(&freed);
  {
    TObjectList<TTracked> owning;
    owning.Add(kept.get());
    owning.Clear();  // leaves the item alive
  }
  EXPECT_EQ(freed, 0);
  {
    TObjectList<TTracked> view;
    view.OwnsItems = false;
    view.Add(kept.get());
  }
  EXPECT_EQ(freed, 0);
}

/// Builds entries and owns them for one test.
class TEntries {
 public:
  TZipHeaderInfo* Add(const std::string& path, std::uint32_t offset, std::uint32_t date = 0x00210000,
                      std::uint32_t compressed = 0, std::uint32_t uncompressed = 0) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    entry->SetStoredPath(path);
    entry->LocalHeaderOffset = offset;
    entry->DateTime = date;
    entry->CompressedSize = compressed;
    entry->UncompressedSize = uncompressed;
    entries_.push_back(std::move(entry));
    return entries_.back().get();
  }
  const std::vector<std::unique_ptr<TZipHeaderInfo>>& All() const { return entries_; }

 private:
  std::vector<std::unique_ptr<TZipHeaderInfo>> entries_;
};

std::vector<std::string> Order(TEntries& entries, TZipSortMode key) {
  TSortedZip view(DuplicatesAllowed);
  view.OwnsItems = false;
  view.SortKey = key;
  for (const auto& entry : entries.All()) view.Add(entry.get());
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < view.Count(); ++i)
    names.push_back(view.Items(i)->StoredPath() + "@" + std::to_string(view.Items(i)->LocalHeaderOffset));
  return names;
}

TEST(SortedZipKeys, EveryKeyWithTies) {
  TEntries entries;
  const std::uint32_t older = 0x30210000, newer = 0x50210000;
  entries.Add("b\\x.txt", 10, newer, 50, 100);       // rate 50
  entries.Add("A\\y.txt", 20, older, 10, 100);       // rate 10
  entries.Add("a\\x.TXT", 30, newer, 100, 100);      // stored: rate 100
  entries.Add("c.txt", 40, older, 30, 0);            // empty: rate 0
  entries.Add("b\\x.txt", 50, 0xFFFFFFFF, 50, 100);  // same path as the first; a date that does not convert

  EXPECT_EQ(Order(entries, ByName),
            (std::vector<std::string>{"a\\x.TXT@30", "A\\y.txt@20", "b\\x.txt@50", "b\\x.txt@10", "c.txt@40"}))
      << "folded ascending; an equal name goes in front of its equals";
  EXPECT_EQ(Order(entries, ByFileName),
            (std::vector<std::string>{"c.txt@40", "b\\x.txt@50", "a\\x.TXT@30", "b\\x.txt@10", "A\\y.txt@20"}));
  EXPECT_EQ(Order(entries, ByDirectoryName),
            (std::vector<std::string>{"c.txt@40", "a\\x.TXT@30", "A\\y.txt@20", "b\\x.txt@50", "b\\x.txt@10"}));
  EXPECT_EQ(Order(entries, ByDate),
            (std::vector<std::string>{"b\\x.txt@10", "a\\x.TXT@30", "A\\y.txt@20", "c.txt@40", "b\\x.txt@50"}))
      << "newest first, equal dates in the order added, an invalid date last";
  EXPECT_EQ(Order(entries, ByCompressedSize),
            (std::vector<std::string>{"a\\x.TXT@30", "b\\x.txt@10", "b\\x.txt@50", "c.txt@40", "A\\y.txt@20"}))
      << "largest first, equal sizes in the order added";
  EXPECT_EQ(Order(entries, ByUnCompressedSize),
            (std::vector<std::string>{"b\\x.txt@10", "A\\y.txt@20", "a\\x.TXT@30", "b\\x.txt@50", "c.txt@40"}));
  EXPECT_EQ(Order(entries, ByRate),
            (std::vector<std::string>{"a\\x.TXT@30", "b\\x.txt@50", "b\\x.txt@10", "A\\y.txt@20", "c.txt@40"}))
      << "highest rate first, an equal rate in front of its equals";
  EXPECT_EQ(Order(entries, ByNone),
            (std::vector<std::string>{"b\\x.txt@10", "A\\y.txt@20", "a\\x.TXT@30", "c.txt@40", "b\\x.txt@50"}));
}

TEST(SortedZipKeys, Rates) {
  TZipHeaderInfo entry;
  entry.CompressedSize = 5;
  entry.UncompressedSize = 0;
  EXPECT_EQ(CompressionRate(entry), 0);
  entry.CompressedSize = entry.UncompressedSize = 777;
  EXPECT_EQ(CompressionRate(entry), 100);
  entry.CompressedSize = 900;
  EXPECT_EQ(CompressionRate(entry), 100) << "an entry that grew is capped";
  entry.CompressedSize = 1;
  entry.UncompressedSize = 200;  // 0.5 rounds to even
  EXPECT_EQ(CompressionRate(entry), 0);
  entry.CompressedSize = 3;  // 1.5 rounds to even
  EXPECT_EQ(CompressionRate(entry), 2);
  entry.UncompressedSize = 0x80000000;  // negative as a signed number
  EXPECT_EQ(CompressionRate(entry), 0);
}

TEST(SortedZipKeys, DuplicatePolicies) {
  TEntries entries;
  TZipHeaderInfo* first = entries.Add("a", 100);
  TZipHeaderInfo* same = entries.Add("b", 100);

  TSortedZip rejecting(DuplicatesRejected);
  rejecting.OwnsItems = false;
  rejecting.Add(first);
  EXPECT_EQ(ListError([&] { rejecting.Add(same); }), "Duplicate Object index");
  EXPECT_EQ(rejecting.Count(), 1);
  EXPECT_EQ(rejecting.IndexOf(same), 0) << "an equal key is found, not the same object";
  EXPECT_EQ(ListError([&] { rejecting.Put(0, same); }), "Cannot <Put> an Object in a sorted list!");

  TSortedZip ignoring(DuplicatesIgnored);
  ignoring.OwnsItems = false;
  ignoring.Add(first);
  ignoring.Add(same);
  EXPECT_EQ(ignoring.Count(), 1);
  EXPECT_EQ(ignoring.Items(0), first);

  TSortedZip allowing(DuplicatesAllowed);
  allowing.OwnsItems = false;
  allowing.Add(first);
  allowing.Add(same);
  ASSERT_EQ(allowing.Count(), 2);
  EXPECT_EQ(allowing.Items(0), same) << "the later one goes in front";
}

TEST(SortedZipKeys, FoldedTextComparison) {
  EXPECT_EQ(CompareFoldedText("abc", "ABC"), 0);
  EXPECT_LT(CompareFoldedText("ab", "abc"), 0);
  EXPECT_GT(CompareFoldedText("b", "A"), 0);
  EXPECT_GT(CompareFoldedText("_", "a"), 0) << "letters fold to upper case: '_' (0x5F) > 'A' (0x41)";
  EXPECT_NE(CompareFoldedText("\xC3\xA4", "\xC3\x84"), 0) << "only a-z fold";
}

}  // namespace
}  // namespace kestrel
