// UnZipDamagedEntries: CRC failures, methods without a decoder, the output-size
// guard, and an archive that ends inside an entry's data (fatal for a stored
// entry, a failure of the entry alone for a deflated one).

#include <gtest/gtest.h>

#include "extraction_helpers.h"
#include "unzip/unzip_errors.h"

namespace {

using namespace extractiontest;
using kestrel::TKestrelUnZip;
using testsupport::ReadFile;

std::string Text(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; text.size() < n; ++i) text += "line " + std::to_string(i) + "\n";
  text.resize(n);
  return text;
}

TEST(UnZipDamagedEntries, CrcFailureIsDeletedAndLaterEntriesStillCome) {
  testsupport::TTempFolder folder;
  TKestrelUnZip unzip;
  SetUpAll(unzip,
           WriteArchive(folder, "c.zip",
                        {{.Name = "bad.txt", .Data = Text(50000), .Crc = 0xDEADBEEF}, {"good.txt", "good"}}),
           folder / "out");
  std::uint32_t computed = 0, stored = 0;
  unzip.OnBadCRC = [&](TKestrelUnZip&, std::uint32_t c, std::uint32_t s, std::int32_t) {
    computed = c;
    stored = s;
  };
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(computed, ziptest::Crc32(Text(50000)));
  EXPECT_EQ(stored, 0xDEADBEEFu);
  EXPECT_FALSE(fs::exists(folder / "out/bad.txt"));
  EXPECT_EQ(ReadFile(folder / "out/good.txt"), "good");
}

// Entries that share bytes (a known zip bomb: each entry's data quotes the next
// entry's local header and runs on into its data, so the same bytes unpack again
// and again), and an entry that runs into the central directory: the archive is
// refused before anything is written.
TEST(UnZipDamagedEntries, OverlappingEntriesAreRefusedBeforeAnythingIsWritten) {
  const ziptest::TEntrySpec inner{"inner.bin", Text(100000)};
  const ziptest::TEntrySpec outer{"outer.bin", ziptest::LocalHeader(inner) + inner.Data};
  std::string bomb = ziptest::LocalHeader(outer) + outer.Data;
  const std::string central = ziptest::CentralHeader(outer, 0) + ziptest::CentralHeader(inner, 30 + 9);
  ziptest::TEndSpec end;
  end.EntriesThisDisk = end.TotalEntries = 2;
  end.CentralDirSize = static_cast<std::uint32_t>(central.size());
  end.CentralDirOffset = static_cast<std::uint32_t>(bomb.size());
  bomb += central + ziptest::EndRecord(end);

  std::string intoDirectory = ziptest::BuildArchive({{"long.txt", Text(5000)}});
  PatchSize(intoDirectory, 0, 20, 18, 5010);

  for (const auto& [bytes, message] : {std::pair{bomb, "outer.bin runs into inner.bin"},
                                       std::pair{intoDirectory, "long.txt runs into the central directory"}}) {
    testsupport::TTempFolder folder;
    testsupport::WriteFile(folder / "o.zip", bytes);
    TKestrelUnZip unzip;
    SetUpAll(unzip, folder / "o.zip", folder / "out");
    try {
      unzip.UnZip();
      ADD_FAILURE() << "no exception for " << message;
    } catch (const kestrel::EBadZipFile& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("the entries overlap (") + message + ")"), std::string::npos)
          << e.what();
    }
    EXPECT_FALSE(fs::exists(folder / "out")) << message;
  }
}

TEST(UnZipDamagedEntries, MethodsWithoutDecoderAreUnknown) {
  testsupport::TTempFolder folder;
  // m98.bin (PPMd) fails, whatever its CRC: nothing of it was decoded. m97.bin
  // (WavPack) holds nothing: empty, it passes.
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "m.zip", {{"m98.bin", "PPMd bytes", 98}, {"m97.bin", "", 97}}), folder / "out");
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 2 10", "start 0 m98.bin", "badcrc 0", "start 1 m97.bin",
                                                 "end 1 m97.bin", "complete 1"}));
  EXPECT_FALSE(fs::exists(folder / "out/m98.bin"));
  EXPECT_EQ(fs::file_size(folder / "out/m97.bin"), 0u);
}

TEST(UnZipDamagedEntries, OutputBeyondTheDeclaredSizeFailsTheEntry) {
  testsupport::TTempFolder folder;
  std::string bytes = ziptest::BuildArchive({{"big.txt", Text(40000)}, {"next.txt", "next"}});
  PatchSize(bytes, 0, 24, 22, 100);  // uncompressed size 100, 40,000 stored
  testsupport::WriteFile(folder / "g.zip", bytes);
  TKestrelUnZip unzip;
  SetUpAll(unzip, folder / "g.zip", folder / "out");
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(rec.Lines.at(2), "badcrc 0");
  EXPECT_FALSE(fs::exists(folder / "out/big.txt"));
  EXPECT_EQ(ReadFile(folder / "out/next.txt"), "next");
}

// An archive cut short inside its last entry: its directory is rebuilt from the
// local headers, and the entry's data runs past the end of the file. (A size
// that ran past the central directory instead would be refused as overlapping.)
std::string CutShort(const std::vector<ziptest::TEntrySpec>& entries, std::size_t lastDataKept) {
  std::string bytes = ziptest::BuildArchive(entries);
  const std::size_t lastData = bytes.rfind(entries.back().Data.substr(0, 16));
  bytes.resize(lastData + lastDataKept);
  return bytes;
}

TEST(UnZipDamagedEntries, PrematureEndEndsTheRunForAStoredEntry) {
  testsupport::TTempFolder folder;
  testsupport::WriteFile(folder / "s.zip", CutShort({{"never.txt", "never"}, {"cut.txt", Text(100000)}}, 1000));
  TKestrelUnZip unzip;
  SetUpAll(unzip, folder / "s.zip", folder / "out");
  unzip.SetIncompleteZipMode(kestrel::izAssumeBad);
  unzip.SetSortMode(kestrel::ByName);  // cut.txt first
  TRecorder rec;
  rec.Attach(unzip);
  try {
    unzip.UnZip();
    ADD_FAILURE() << "no exception";
  } catch (const kestrel::EFatalUnzipError& e) {
    EXPECT_STREQ(e.what(), "Premature end of file reached");
  }
  EXPECT_EQ(rec.Lines.back(), "complete 0");
  EXPECT_TRUE(unzip.FilesList().empty());
  EXPECT_FALSE(fs::exists(folder / "out/never.txt"));
  EXPECT_FALSE(fs::exists(folder / "out/cut.txt")) << "the partial file goes";
}

TEST(UnZipDamagedEntries, PrematureEndFailsOnlyADeflatedEntry) {
  if (!testsupport::HaveCommand("python3")) GTEST_SKIP() << "python3 is not installed";
  testsupport::TTempFolder folder;
  // The list is in archive order: the good entry first, then the deflated one
  // (small enough that the first 32 KiB refill already comes up short), cut short
  // with the archive after 2,000 bytes of its data.
  testsupport::PythonZip(folder / "d.zip", {{"good.txt", "good"}, {"t.txt", Text(20000), "DEFLATED"}});
  std::string bytes = ReadFile(folder / "d.zip");
  bytes.resize(bytes.find("t.txt") + 5 + 2000);
  testsupport::WriteFile(folder / "d.zip", bytes);
  TKestrelUnZip unzip;
  SetUpAll(unzip, folder / "d.zip", folder / "out");
  unzip.SetIncompleteZipMode(kestrel::izAssumeBad);
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_NO_THROW(unzip.UnZip());
  EXPECT_EQ(ReadFile(folder / "out/good.txt"), "good");
  EXPECT_EQ(rec.Lines.at(rec.Lines.size() - 2), "badcrc 1");
  EXPECT_EQ(rec.Lines.back(), "complete 1");
  EXPECT_FALSE(fs::exists(folder / "out/t.txt"));
}

}  // namespace
