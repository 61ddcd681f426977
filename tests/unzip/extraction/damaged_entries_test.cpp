// UnZipDamagedEntries: CRC failures, methods without a decoder, the output-size
// guard, entries that overlap, and an archive that ends inside an entry's data:
// each costs only its own entry.

#include <gtest/gtest.h>

#include <tuple>

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
  // A file that stood there stays as it was, with no file left beside it; so too
  // when a worker meets the damage first.
  testsupport::WriteFile(folder / "out/bad.txt", "old");
  unzip.SetThreads(2);
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(ReadFile(folder / "out/bad.txt"), "old");
  EXPECT_EQ(testsupport::FilesBelow(folder / "out"), (std::set<std::string>{"bad.txt", "good.txt"}));
}

// Entries that share bytes (known zip bombs: each entry's data quotes the next
// entry's local header and runs on into its data, or every central header names
// one local header, the kernel), and an entry whose size runs into the central
// directory: only the entry at fault is left out, before anything is written.
TEST(UnZipDamagedEntries, OverlappingEntriesCostOnlyThemselves) {
  const ziptest::TEntrySpec inner{"inner.bin", Text(100000)};
  const ziptest::TEntrySpec outer{"outer.bin", ziptest::LocalHeader(inner) + inner.Data};
  ziptest::TEndSpec end;
  auto withDirectory = [&](const std::string& body, const std::string& central, std::uint16_t entries) {
    end.EntriesThisDisk = end.TotalEntries = entries;
    end.CentralDirSize = static_cast<std::uint32_t>(central.size());
    end.CentralDirOffset = static_cast<std::uint32_t>(body.size());
    return body + central + ziptest::EndRecord(end);
  };
  const std::string quoted = withDirectory(ziptest::LocalHeader(outer) + outer.Data,
                                           ziptest::CentralHeader(outer, 0) + ziptest::CentralHeader(inner, 30 + 9), 2);
  // 1,000 central headers name the kernel's local header: 100 MB unpacked, were
  // each taken; the one that header names comes out, 100,000 bytes.
  std::string shared;
  for (int i = 999; i >= 0; --i) {
    const ziptest::TEntrySpec copy{std::string("k").append(std::to_string(i)), inner.Data};
    shared += ziptest::CentralHeader(copy, 0);
  }
  const std::string kernel = withDirectory(ziptest::LocalHeader({"k0", inner.Data}) + inner.Data, shared, 1000);
  std::string intoDirectory = ziptest::BuildArchive({{"good.txt", "good"}, {"long.txt", Text(5000)}});
  PatchSize(intoDirectory, 1, 20, 18, 5010);
  // A folder entry whose size runs into the next local header, as a file's would.
  std::string folderIntoNext = ziptest::BuildArchive({{"dir/", ""}, {"good.txt", "good"}});
  PatchSize(folderIntoNext, 0, 20, 18, 10);

  const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
      {quoted, {"skip 6 0 outer.bin", "start 1 inner.bin", "end 1 inner.bin", "complete 1"}, "inner.bin"},
      {kernel, {"start 0 k0", "end 0 k0", "skip 6 1 k1"}, "k0"},
      {intoDirectory, {"start 0 good.txt", "end 0 good.txt", "skip 6 1 long.txt", "complete 1"}, ""},
      {folderIntoNext, {"skip 6 0 dir\\", "start 1 good.txt", "end 1 good.txt", "complete 1"}, ""},
  };
  for (const auto& [bytes, events, other] : cases) {
    testsupport::TTempFolder folder;
    testsupport::WriteFile(folder / "o.zip", bytes);
    TKestrelUnZip unzip;
    SetUpAll(unzip, folder / "o.zip", folder / "out");
    TRecorder rec;
    rec.Attach(unzip);
    EXPECT_EQ(unzip.UnZip(), 1);
    for (std::size_t i = 0; i < events.size(); ++i) EXPECT_EQ(rec.Lines.at(i + 1), events[i]);
    const kestrel::TZipHeaderInfo* overlapped = unzip.EntryDamage(1 - static_cast<int>(other == "inner.bin")).Other;
    EXPECT_EQ(overlapped ? overlapped->StoredPath() : std::string(), other);
    std::uintmax_t written = 0;
    for (const auto& file : fs::directory_iterator(folder / "out")) written += fs::file_size(file.path());
    EXPECT_LE(written, 100000u) << "one kernel's worth at most";
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
// local headers, and that entry, stored or deflated, its sizes before or after its
// data (zip writing to a pipe), is left out alone (it comes first in name order).
// Earlier entries come out.
TEST(UnZipDamagedEntries, EntryCutShortByTheEndIsLeftOut) {
  if (!testsupport::HaveCommand("python3")) GTEST_SKIP() << "python3 is not installed";
  testsupport::TTempFolder folder;
  std::string stored = ziptest::BuildArchive({{"never.txt", "never"}, {"cut.txt", Text(100000)}});
  stored.resize(stored.rfind(Text(16)) + 1000);
  testsupport::WriteFile(folder / "s.zip", stored);
  // Small enough that the first 32 KiB refill already comes up short.
  testsupport::PythonZip(folder / "d.zip", {{"never.txt", "never"}, {"cut.txt", Text(20000), "DEFLATED"}});
  std::string deflated = ReadFile(folder / "d.zip");
  deflated.resize(deflated.find("cut.txt") + 7 + 2000);
  testsupport::WriteFile(folder / "d.zip", deflated);
  ziptest::TEntrySpec described{"cut.txt", Text(100000)};
  described.DataDescriptor = true;
  std::string storedAfter = ziptest::BuildArchive({{"never.txt", "never"}, described});
  testsupport::WriteFile(folder / "sa.zip", storedAfter.substr(0, storedAfter.rfind(Text(16)) + 1000));
  std::vector<std::string> names = {"s.zip", "d.zip", "sa.zip"};
  if (testsupport::HaveCommand("zip")) {
    testsupport::WriteFile(folder / "never.txt", "never");
    testsupport::WriteFile(folder / "cut.txt", Text(100000));
    testsupport::ShellIn(folder.Path(), "zip -q - never.txt cut.txt | cat > p.zip");
    const std::string piped = ReadFile(folder / "p.zip");
    testsupport::WriteFile(folder / "p.zip", piped.substr(0, piped.find("cut.txt") + 2000));
    names.push_back("p.zip");
  }
  for (const std::string& name : names) {
    TKestrelUnZip unzip;
    SetUpAll(unzip, folder / name, folder / "out");
    unzip.SetIncompleteZipMode(kestrel::izAssumeBad);
    unzip.SetSortMode(kestrel::ByName);
    TRecorder rec;
    rec.Attach(unzip);
    EXPECT_EQ(unzip.UnZip(), 1) << name;
    EXPECT_EQ(rec.Lines.at(1), "skip 7 0 cut.txt") << name;
    EXPECT_EQ(rec.Lines.back(), "complete 1") << name;
    EXPECT_EQ(ReadFile(folder / "out/never.txt"), "never");
    EXPECT_FALSE(fs::exists(folder / "out/cut.txt"));
  }
}

}  // namespace
