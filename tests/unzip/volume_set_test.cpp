// VolumeSetLayout: parts of a set laid end to end, read as one stream that stops at
// a missing or cut-short part, and the names of split parts and numbered volumes.

#include "unzip/volume_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

// Parts a "abcde" [0,5), e "XY" [5,7), b missing [7,11), c "fghij" kept to 3 of a
// span of 6 [11,17) (its gap [14,17)), d "klm" [17,20).
struct TSampleSet {
  TSampleSet() {
    for (const char* part : {"a", "e", "c", "d"}) testsupport::WriteFile(folder.Path() / part, Bytes(part));
    set->AddPresent(folder / "a");
    set->AddPresent(folder / "e");
    set->AddMissing(folder / "b", 4);
    set->AddPresent(folder / "c");
    set->AddPresent(folder / "d");
    set->MarkFault(3, vfCutShort, 3, 6);
  }
  static std::string Bytes(const std::string& part) {
    return part == "a" ? "abcde" : part == "e" ? "XY" : part == "c" ? "fghij" : "klm";
  }
  std::string Name(const TVolumePart* part) const {
    return part == nullptr ? "-" : std::filesystem::path(part->Name).filename().string();
  }
  testsupport::TTempFolder folder;
  std::shared_ptr<TVolumeSet> set = std::make_shared<TVolumeSet>();
};

TEST(VolumeSetLayout, ReadsCrossPartsAndStopAtGaps) {
  TSampleSet sample;
  TVolumeSetStream stream(sample.set);
  EXPECT_EQ(stream.Size(), 20);
  struct TCase {
    std::int64_t At;
    std::int32_t Count;
    std::string Expected;
  };
  for (const TCase& c : std::vector<TCase>{
           {3, 10, "deXY"}, {0, 7, "abcdeXY"}, {8, 5, ""}, {11, 9, "fgh"}, {12, 1, "g"}, {17, 9, "klm"}, {25, 3, ""}}) {
    std::string got(static_cast<std::size_t>(c.Count), '\0');
    ASSERT_EQ(stream.Seek(c.At, soFromBeginning), c.At);
    got.resize(static_cast<std::size_t>(stream.Read(got.data(), c.Count)));
    EXPECT_EQ(got, c.Expected) << "at " << c.At;
  }
  EXPECT_EQ(stream.Seek(-3, soFromEnd), 17);
  EXPECT_EQ(stream.Seek(-1, soFromCurrent), 16);
  EXPECT_EQ(stream.Seek(-30, soFromEnd), -1);
  EXPECT_EQ(stream.Position(), 16);
}

TEST(VolumeSetLayout, JoinedOffsetsPartsAndGaps) {
  TSampleSet sample;
  const TVolumeSet& set = *sample.set;
  EXPECT_EQ(set.Joined(4, 2), 19);
  EXPECT_EQ(set.Joined(2, 100), 107);
  EXPECT_EQ(set.Joined(5, 0), std::nullopt);
  for (const auto& [at, part] : std::vector<std::pair<std::int64_t, std::string>>{
           {0, "a"}, {6, "e"}, {7, "b"}, {16, "c"}, {19, "d"}, {20, "-"}, {-1, "-"}})
    EXPECT_EQ(sample.Name(set.PartAt(at)), part) << at;
  struct TCase {
    std::int64_t Begin, End;
    std::string Gap;
  };
  for (const TCase& c : std::vector<TCase>{
           {0, 7, "-"}, {6, 8, "b"}, {10, 12, "b"}, {11, 14, "-"}, {12, 20, "c"}, {16, 17, "c"}, {17, 20, "-"}})
    EXPECT_EQ(sample.Name(set.GapIn(c.Begin, c.End)), c.Gap) << c.Begin << ".." << c.End;
}

TEST(VolumeSetNames, SplitParts) {
  struct TCase {
    std::string Last;
    std::int32_t Part, Parts;
    std::string Expected;
  };
  for (const TCase& c : std::vector<TCase>{{"/d/set.zip", 1, 3, "/d/set.z01"},
                                           {"/d/set.zip", 100, 120, "/d/set.z100"},
                                           {"/d/set.zipx", 2, 3, "/d/set.zx02"},
                                           {"X.ZIP", 1, 2, "X.Z01"},
                                           {"X.ZIPX", 9, 12, "X.ZX09"},
                                           {"X.Zip", 1, 2, "X.z01"},
                                           {"/d.x/set", 1, 2, "/d.x/set.z01"},
                                           {"/d/set.zip", 3, 3, "/d/set.zip"}})
    EXPECT_EQ(SplitPartName(c.Last, c.Part, c.Parts), c.Expected);
}

TEST(VolumeSetNames, NumberedVolumesWithAHole) {
  testsupport::TTempFolder folder;
  // .003 is lost; .014 lies past 9 missing names in a row and is no part of the set.
  for (const char* n : {"001", "002", "004", "014"})
    testsupport::WriteFile(folder.Path() / ("x.zip." + std::string(n)), "v");
  const std::vector<std::string> expected{folder / "x.zip.001", folder / "x.zip.002", folder / "x.zip.003",
                                          folder / "x.zip.004"};
  EXPECT_EQ(NumberedVolumeNames(folder / "x.zip.002"), expected);
  EXPECT_EQ(NumberedVolumeNames(folder / "x.zip.007"), expected);
  EXPECT_EQ(NumberedVolumeNames(folder / "x.zip").size(), 0u);
  EXPECT_EQ(NumberedVolumeNames(folder / "y.zip.001").size(), 0u);
}

}  // namespace
}  // namespace kestrel
