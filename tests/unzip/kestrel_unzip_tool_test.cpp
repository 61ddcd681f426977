// KestrelUnZipListing: kestrel-unzip -l end to end, against Python's zipfile as an
// independent reader of archives made by Info-ZIP zip, Python, 7-Zip and jar.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/test_support.h"
#include "zip_builder.h"

namespace {

using testsupport::RunProgram;
using testsupport::RunShell;
using testsupport::ShellQuote;

/// The listing an independent reader gives: Python's zipfile, with names as the
/// archive stores them (bit-11 names as UTF-8, MS-DOS names from code page 437,
/// other hosts' bytes unchanged).
std::string OracleListing(const std::string& archive, const testsupport::TTempFolder& folder) {
  const std::string script = folder / "oracle.py";
  testsupport::WriteFile(
      script,
      "import sys, zipfile\n"
      "out = sys.stdout.buffer\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in sorted(z.infolist(), key=lambda i: i.header_offset):\n"
      "    raw = i.filename.encode('utf-8') if i.flag_bits & 0x800 else i.filename.encode('cp437')\n"
      "    name = raw if (i.flag_bits & 0x800 or i.create_system != 0) else i.filename.encode('utf-8')\n"
      "    out.write(b'%d %d %d %08x ' % (i.compress_type, i.compress_size, i.file_size, i.CRC))\n"
      "    out.write(name + b'\\n')\n");
  const std::string output = folder / "oracle.txt";
  EXPECT_EQ(RunShell("python3 " + ShellQuote(script) + " " + ShellQuote(archive) + " > " + ShellQuote(output)), 0);
  return testsupport::ReadFile(output);
}

class KestrelUnZipListing : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = folder_ / "tree";
    std::filesystem::create_directories(tree_ + "/docs/deep");
    std::filesystem::create_directories(tree_ + "/empty-folder");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of some text\n";
    testsupport::WriteFile(tree_ + "/docs/deep/text.txt", text);
    testsupport::WriteFile(tree_ + "/docs/empty.txt", "");
    std::string binary(70000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 2654435761u) >> 13);
    testsupport::WriteFile(tree_ + "/binary.bin", binary);
    testsupport::WriteFile(tree_ + "/\xC3\xA4rger.txt", "umlaut");
  }

  void ExpectListingMatches(const std::string& archive) {
    const auto run = RunProgram(KESTREL_UNZIP_EXE, {"-l", archive});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out, OracleListing(archive, folder_)) << archive;
  }

  void InTree(const std::string& command) { testsupport::ShellIn(tree_, command); }

  testsupport::TTempFolder folder_;
  std::string tree_;
};

TEST_F(KestrelUnZipListing, InfoZipArchives) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  InTree("zip -qr ../deflated.zip .");
  ExpectListingMatches(folder_ / "deflated.zip");
  InTree("zip -qr0 ../stored.zip docs binary.bin");
  ExpectListingMatches(folder_ / "stored.zip");
  // Streamed through a pipe: data descriptors after every entry.
  InTree("cat binary.bin | zip -q - - > ../streamed.zip");
  ExpectListingMatches(folder_ / "streamed.zip");
}

TEST_F(KestrelUnZipListing, PythonArchives) {
  auto times = [](const std::string& text, int n) {
    std::string out;
    while (n-- > 0) out += text;
    return out;
  };
  testsupport::PythonZip(folder_ / "py.zip",
                         {{"stored.txt", times("plain ", 50)},
                          {"folder/", ""},
                          {"folder/deflated.txt", times("packed ", 500), "DEFLATED"},
                          {"b\u00e4r/\u00fcber.txt", "utf-8 name", "DEFLATED"},
                          {"bz.txt", times("bzip2 ", 100), "BZIP2"}},
                         {"STORED", "archive comment"});
  testsupport::PythonZip(folder_ / "empty.zip", {});
  ExpectListingMatches(folder_ / "py.zip");
  const auto empty = RunProgram(KESTREL_UNZIP_EXE, {"-l", folder_ / "empty.zip"});
  EXPECT_EQ(empty.Status, 0);
  EXPECT_EQ(empty.Out, "");
}

TEST_F(KestrelUnZipListing, SevenZipAndJarArchives) {
  if (testsupport::HaveCommand("7z")) {
    InTree("7z a -tzip -bd ../seven.zip . > /dev/null");
    ExpectListingMatches(folder_ / "seven.zip");
    InTree("7z a -tzip -mm=Deflate64 -bd ../seven64.zip docs > /dev/null");
    ExpectListingMatches(folder_ / "seven64.zip");
  }
  if (testsupport::HaveCommand("jar")) {
    InTree("jar cf ../classes.jar docs binary.bin");
    ExpectListingMatches(folder_ / "classes.jar");
  }
}

// The legacy-method archives of the shared fixtures (shrunk, reduced, imploded;
// made by PKZIP and other old tools, some damaged): listed with their
// central-directory fields (names from code page 437, as UTF-8), every entry
// extracted with its listed SHA-256, every damaged one reported and leaving no file.
TEST(KestrelUnZipLegacyArchives, EveryFixtureEntryAsListed) {
  KESTREL_REQUIRE_FIXTURE(testsupport::Fixture("legacy-zip/EXPECTED.tsv"));
  testsupport::TTempFolder folder;
  e2etest::CheckLegacyFixtures(e2etest::Native(KESTREL_UNZIP_EXE), folder.Path());
}

TEST_F(KestrelUnZipListing, CraftedDuplicateOffsetsAreRebuilt) {
  const ziptest::TEntrySpec a{"a.txt", "alpha"}, b{"b.txt", "bravo"};
  const std::string body = ziptest::LocalHeader(a) + a.Data + ziptest::LocalHeader(b) + b.Data;
  const std::string central = ziptest::CentralHeader(a, 0) + ziptest::CentralHeader(b, 0);
  ziptest::TEndSpec end;
  end.TotalEntries = end.EntriesThisDisk = 2;
  end.CentralDirOffset = static_cast<std::uint32_t>(body.size());
  testsupport::WriteFile(folder_ / "dup.zip", body + central + ziptest::EndRecord(end));
  const auto run = RunProgram(KESTREL_UNZIP_EXE, {"-l", folder_ / "dup.zip"});
  EXPECT_EQ(run.Status, 0);
  char crcA[9], crcB[9];
  std::snprintf(crcA, sizeof crcA, "%08x", ziptest::Crc32("alpha"));
  std::snprintf(crcB, sizeof crcB, "%08x", ziptest::Crc32("bravo"));
  EXPECT_EQ(run.Out, std::string("0 5 5 ") + crcA + " a.txt\n0 5 5 " + crcB + " b.txt\n");
}

}  // namespace
