// The test encoders checked by an independent decoder: Info-ZIP unzip decodes
// shrink and implode (not reduce). Everything the other tests build with these
// encoders rests on this.

#include "legacy_encoders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "legacy_support.h"
#include "tests/support/test_support.h"

namespace legacytest {
namespace {

struct TSample {
  std::string name;
  std::string data;
};

std::vector<TSample> Samples() {
  return {{"empty", ""},
          {"one", "A"},
          {"run", std::string(100000, 'a')},
          {"text", TextData(200000, 1)},
          {"random", RandomData(70000, 2)},
          {"binary", BinaryData(50000, 3)},
          {"zeros-then-text", std::string(300, '\0') + TextData(5000, 4)}};
}

// Writes the archive, then has unzip test it and print every entry.
void ExpectInfoZipAgrees(const TZipWriter& zip, const std::vector<std::pair<std::string, std::string>>& expected) {
  if (!testsupport::HaveCommand("unzip")) GTEST_SKIP() << "Info-ZIP unzip not installed";
  testsupport::TTempFolder folder;
  const std::string path = folder / "legacy.zip";
  testsupport::WriteFile(path, zip.Bytes());
  const auto test = testsupport::RunProgram("unzip", {"-tq", path});
  EXPECT_EQ(test.Status, 0) << test.Out << test.Err;
  for (const auto& [name, data] : expected) {
    const auto print = testsupport::RunProgram("unzip", {"-p", path, name});
    EXPECT_TRUE(print.Out == data) << name << ": " << print.Out.size() << " bytes, expected " << data.size();
  }
}

// Only streams that clear a table when it is full: unzip and this decoder part
// ways on clears of a table that is not full (which of the codes above the next
// free one a clear may free), which real encoders do not send.
TEST(LegacyEncodersInfoZip, ShrinkVariants) {
  const std::vector<std::pair<std::string, TShrinkOptions>> variants = {
      {"full-clears", {}},
      {"eager-size", {true, 0, true}},
  };
  TZipWriter zip;
  std::vector<std::pair<std::string, std::string>> expected;
  for (const auto& [variant, options] : variants)
    for (const auto& sample : Samples()) {
      const std::string name = variant + "/" + sample.name;
      zip.Add(name, 1, 0, ShrinkEncode(sample.data, options), sample.data);
      expected.emplace_back(name, sample.data);
    }
  ExpectInfoZipAgrees(zip, expected);
}

TEST(LegacyEncodersInfoZip, ImplodeVariants) {
  TZipWriter zip;
  std::vector<std::pair<std::string, std::string>> expected;
  for (int flags = 0; flags < 4; ++flags)
    for (int style = 0; style < 3; ++style)
      for (const auto& sample : Samples()) {
        TImplodeOptions o;
        o.Dictionary8K = (flags & 1) != 0;
        o.ThreeTrees = (flags & 2) != 0;
        o.FlatTrees = style == 1;
        o.CopyBeforeStart = style == 2;
        const std::string name = std::to_string(flags) + std::to_string(style) + "/" + sample.name;
        zip.Add(name, 6, ImplodeFlags(o), ImplodeEncode(sample.data, o), sample.data);
        expected.emplace_back(name, sample.data);
      }
  ExpectInfoZipAgrees(zip, expected);
}

}  // namespace
}  // namespace legacytest
