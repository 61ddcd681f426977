// UnZipRealArchives: archives written by Info-ZIP zip (every level, streamed,
// encrypted), Python's zipfile and 7-Zip (deflate and ZipCrypto), extracted and
// compared entry by entry with Info-ZIP unzip; dates and Unix permission bits as
// Info-ZIP unzip sets them.

#include <gtest/gtest.h>

#include "extraction_helpers.h"

namespace {

using namespace extractiontest;
using kestrel::TKestrelUnZip;
using testsupport::HaveCommand;
using testsupport::ReadFile;
using testsupport::ShellQuote;

class UnZipRealArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveCommand("zip") || !HaveCommand("unzip")) GTEST_SKIP() << "Info-ZIP zip and unzip are needed";
    fs::create_directories(tree / "sub/deep");
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "line " + std::to_string(i) + " of the text\n";
    testsupport::WriteFile(tree / "sub/deep/text.txt", text);
    std::string noise(100000, '\0');
    std::uint32_t x = 1;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 23);
    testsupport::WriteFile(tree / "noise.bin", noise);
    testsupport::WriteFile(tree / "sub/empty.txt", "");
    testsupport::WriteFile(tree / "exactly32k.bin", std::string(32768, 'k'));
  }

  // Extracts with the component and compares every entry with Info-ZIP unzip -p.
  void ExtractAndCompare(const std::string& archive, const std::string& password = {}) {
    const std::string dest = folder / ("out-" + fs::path(archive).stem().string());
    TKestrelUnZip unzip;
    SetUpAll(unzip, archive, dest);
    unzip.SetPassword(password);
    int failures = 0;
    unzip.OnSkippingFile = [&](TKestrelUnZip&, kestrel::TSkipReason, const std::string& name, std::int32_t, bool&) {
      ADD_FAILURE() << "skipped " << name, ++failures;
    };
    unzip.OnBadCRC = [&](TKestrelUnZip&, std::uint32_t, std::uint32_t, std::int32_t i) {
      ADD_FAILURE() << "bad CRC at " << i, ++failures;
    };
    const std::vector<std::string> names = PythonNames(archive);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(unzip.UnZip(), static_cast<std::int32_t>(names.size())) << archive;
    for (const std::string& name : names) {
      if (name.back() == '/') {
        EXPECT_TRUE(fs::is_directory(dest + "/" + name)) << name;
        continue;
      }
      EXPECT_EQ(ReadFile(dest + "/" + name), InfoZipBytes(archive, name, password)) << archive << " " << name;
    }
  }

  testsupport::TTempFolder folder;
  fs::path tree = folder.Path() / "tree";
};

TEST_F(UnZipRealArchives, InfoZipEveryLevelStreamedAndEncrypted) {
  for (const std::string level : {"-0", "-1", "-6", "-9"}) {
    ShellIn(tree, "zip -q -r " + level + " " + ShellQuote(folder / ("z" + level + ".zip")) + " .");
    ExtractAndCompare(folder / ("z" + level + ".zip"));
  }
  // Through pipes both ways: sizes and CRC follow the data (bit 3).
  ShellIn(tree, "cat sub/deep/text.txt | zip -q - - | cat > " + ShellQuote(folder / "streamed.zip"));
  ExtractAndCompare(folder / "streamed.zip");
  ShellIn(tree, "zip -q -r -P 'pass word' " + ShellQuote(folder / "locked.zip") + " .");
  ExtractAndCompare(folder / "locked.zip", "pass word");
  ShellIn(tree, "cat noise.bin | zip -q -P pw - - | cat > " + ShellQuote(folder / "lockstream.zip"));
  ExtractAndCompare(folder / "lockstream.zip", "pw");
}

TEST_F(UnZipRealArchives, PythonZipfile) {
  testsupport::PythonZipTree(folder / "pys.zip", tree, "STORED");
  testsupport::PythonZipTree(folder / "pyd.zip", tree, "DEFLATED");
  ExtractAndCompare(folder / "pys.zip");
  ExtractAndCompare(folder / "pyd.zip");
}

TEST_F(UnZipRealArchives, SevenZip) {
  if (!HaveCommand("7z")) GTEST_SKIP() << "7-Zip is not installed";
  ShellIn(tree, "7z a -tzip -bd " + ShellQuote(folder / "seven.zip") + " . > /dev/null");
  ExtractAndCompare(folder / "seven.zip");
  ShellIn(tree, "7z a -tzip -bd -mem=ZipCrypto -psesame " + ShellQuote(folder / "sevenlock.zip") + " . > /dev/null");
  ExtractAndCompare(folder / "sevenlock.zip", "sesame");
}

TEST_F(UnZipRealArchives, DatesAndPermissionsAsInfoZipSetsThem) {
  fs::permissions(tree / "noise.bin", fs::perms(0750));
  fs::permissions(tree / "sub/deep/text.txt", fs::perms(0604));
  ShellIn(tree, "touch -t 200102031405.08 noise.bin sub/deep/text.txt && zip -q -r ../stamped.zip .");
  const std::string archive = folder / "stamped.zip";
  ShellIn(folder.Path(), "unzip -q stamped.zip -d reference");
  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, folder / "ours");
  EXPECT_EQ(unzip.UnZip(), static_cast<std::int32_t>(PythonNames(archive).size()));
  for (const char* name : {"noise.bin", "sub/deep/text.txt"}) {
    const fs::path ours = folder.Path() / "ours" / name;
    const fs::path reference = folder.Path() / "reference" / name;
    EXPECT_EQ(fs::last_write_time(ours), fs::last_write_time(reference)) << name;
    EXPECT_EQ(fs::status(ours).permissions(), fs::status(reference).permissions()) << name;
  }
}

TEST_F(UnZipRealArchives, ReadOnlyEntryStaysReadOnly) {
  fs::permissions(tree / "noise.bin", fs::perms(0444));
  ShellIn(tree, "zip -q ../ro.zip noise.bin");
  TKestrelUnZip unzip;
  SetUpAll(unzip, folder / "ro.zip", folder / "out");
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(fs::status(folder / "out/noise.bin").permissions() & fs::perms::owner_write, fs::perms::none);
  // Without RetainAttributes the file keeps what creation gave it.
  TKestrelUnZip plain;
  SetUpAll(plain, folder / "ro.zip", folder / "out2");
  plain.SetRetainAttributes(false);
  EXPECT_EQ(plain.UnZip(), 1);
  EXPECT_NE(fs::status(folder / "out2/noise.bin").permissions() & fs::perms::owner_write, fs::perms::none);
}

}  // namespace
