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
  std::vector<ziptest::TEntrySpec> entries(2);
  entries[0].Name = "bad.txt";
  entries[0].Data = Text(50000);
  entries[0].Crc = 0xDEADBEEF;
  entries[1].Name = "good.txt";
  entries[1].Data = "good";
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "c.zip", entries), folder / "out");
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

TEST(UnZipDamagedEntries, MethodsWithoutDecoderAreUnknown) {
  testsupport::TTempFolder folder;
  std::vector<ziptest::TEntrySpec> entries(2);
  entries[0].Name = "m9.bin";
  entries[0].Data = "deflate64 bytes";
  entries[0].Method = 9;
  entries[1].Name = "m12.bin";  // bzip2, and nothing in it: its CRC 0 passes
  entries[1].Method = 12;
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "m.zip", entries), folder / "out");
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 2 15", "start 0 m9.bin", "badcrc 0", "start 1 m12.bin",
                                                 "end 1 m12.bin", "complete 1"}));
  EXPECT_FALSE(fs::exists(folder / "out/m9.bin"));
  EXPECT_EQ(fs::file_size(folder / "out/m12.bin"), 0u);
}

TEST(UnZipDamagedEntries, OutputBeyondTheDeclaredSizeFailsTheEntry) {
  testsupport::TTempFolder folder;
  std::vector<ziptest::TEntrySpec> entries(2);
  entries[0].Name = "big.txt";
  entries[0].Data = Text(40000);
  entries[1].Name = "next.txt";
  entries[1].Data = "next";
  std::string bytes = ziptest::BuildArchive(entries);
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

TEST(UnZipDamagedEntries, PrematureEndEndsTheRunForAStoredEntry) {
  testsupport::TTempFolder folder;
  std::vector<ziptest::TEntrySpec> entries(2);
  entries[0].Name = "cut.txt";
  entries[0].Data = Text(1000);
  entries[1].Name = "never.txt";
  entries[1].Data = "never";
  std::string bytes = ziptest::BuildArchive(entries);
  PatchSize(bytes, 0, 20, 0, 0x100000);  // a megabyte of data that is not there
  PatchSize(bytes, 0, 24, 0, 0x100000);
  testsupport::WriteFile(folder / "s.zip", bytes);
  TKestrelUnZip unzip;
  SetUpAll(unzip, folder / "s.zip", folder / "out");
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
}

TEST(UnZipDamagedEntries, PrematureEndFailsOnlyADeflatedEntry) {
  if (!testsupport::HaveCommand("python3")) GTEST_SKIP() << "python3 is not installed";
  testsupport::TTempFolder folder;
  // Small enough that the first 32 KiB refill already comes up short.
  testsupport::WriteFile(folder / "t.txt", Text(20000));
  // The list is in archive order: the good entry first, then the deflated one,
  // whose compressed size now reaches past the end of the file.
  ShellIn(folder.Path(), "python3 -c \"import zipfile\nz=zipfile.ZipFile('d.zip','w')\n"
                         "z.writestr('good.txt','good')\n"
                         "z.write('t.txt',compress_type=zipfile.ZIP_DEFLATED)\nz.close()\"");
  std::string bytes = ReadFile(folder / "d.zip");
  PatchSize(bytes, 1, 20, 0, 0x100000);
  testsupport::WriteFile(folder / "d.zip", bytes);
  TKestrelUnZip unzip;
  SetUpAll(unzip, folder / "d.zip", folder / "out");
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_NO_THROW(unzip.UnZip());
  EXPECT_EQ(ReadFile(folder / "out/good.txt"), "good");
  EXPECT_EQ(rec.Lines.at(rec.Lines.size() - 2), "badcrc 1");
  EXPECT_EQ(rec.Lines.back(), "complete 1");
  EXPECT_FALSE(fs::exists(folder / "out/t.txt"));
}

}  // namespace
