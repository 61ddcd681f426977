// UnZipOverwritePolicy: the five overwrite modes, equal times under ifNewer and
// ifOlder, a damaged entry date, and read-only targets with and without
// ReplaceReadOnly.

#include <gtest/gtest.h>

#include "extraction_helpers.h"
#include "unzip/dos_date_time.h"

namespace {

using namespace extractiontest;
using kestrel::TKestrelUnZip;
using kestrel::TUZOverwriteMode;
using testsupport::ReadFile;

constexpr std::uint32_t EntryTime = 0x5A2E6000;   // 2025-01-14 12:00:00
constexpr std::uint32_t Earlier = 0x4A2E6000;     // 2017-01-14 12:00:00
constexpr std::uint32_t Later = 0x6A2E6000;       // 2033-01-14 12:00:00
constexpr std::uint32_t February31 = 0x525F6000;  // 2021-02-31: no such day

class UnZipOverwritePolicy : public ::testing::Test {
 protected:
  // Extracts new.txt over an existing file stamped existingTime; returns the
  // recorded events.
  std::vector<std::string> Run(TUZOverwriteMode mode, std::uint32_t existingTime, std::uint32_t entryTime = EntryTime) {
    const std::string archive = WriteArchive(
        folder, "o.zip", {{.Name = "new.txt", .Data = "new", .DosDateTime = entryTime}, {"after.txt", "after"}});
    fs::remove_all(dest);
    fs::create_directories(dest);
    testsupport::WriteFile(dest + "/new.txt", "old");
    kestrel::ApplyDosDateTime(dest + "/new.txt", existingTime);
    TKestrelUnZip unzip;
    SetUpAll(unzip, archive, dest);
    unzip.SetOverwriteMode(mode);
    TRecorder rec;
    rec.Attach(unzip);
    unzip.UnZip();
    EXPECT_EQ(ReadFile(dest + "/after.txt"), "after");
    return rec.Lines;
  }
  bool Replaced() { return ReadFile(dest + "/new.txt") == "new"; }

  testsupport::TTempFolder folder;
  std::string dest = folder / "out";
};

TEST_F(UnZipOverwritePolicy, AlwaysAndNever) {
  Run(TUZOverwriteMode::Always, Later);
  EXPECT_TRUE(Replaced());
  const auto lines = Run(TUZOverwriteMode::Never, Earlier);
  EXPECT_FALSE(Replaced());
  // Skipped as existing, and taken out of the totals (8 bytes of two files remain 5).
  EXPECT_EQ(lines, (std::vector<std::string>{"info 2 8", "start 0 new.txt", "skip 1 0 new.txt", "start 1 after.txt",
                                             "end 1 after.txt", "complete 1"}));
}

TEST_F(UnZipOverwritePolicy, NewerAndOlderCompareStrictly) {
  Run(TUZOverwriteMode::ifNewer, EntryTime);  // equal times: kept
  EXPECT_FALSE(Replaced());
  Run(TUZOverwriteMode::ifOlder, EntryTime);
  EXPECT_FALSE(Replaced());
  Run(TUZOverwriteMode::ifNewer, Earlier);  // the entry is newer
  EXPECT_TRUE(Replaced());
  Run(TUZOverwriteMode::ifNewer, Later);
  EXPECT_FALSE(Replaced());
  Run(TUZOverwriteMode::ifOlder, Later);  // the entry is older
  EXPECT_TRUE(Replaced());
  Run(TUZOverwriteMode::ifOlder, Earlier);
  EXPECT_FALSE(Replaced());
}

TEST_F(UnZipOverwritePolicy, DamagedEntryDateKeepsTheFileAndTheRunGoesOn) {
  for (TUZOverwriteMode mode : {TUZOverwriteMode::ifNewer, TUZOverwriteMode::ifOlder}) {
    const auto lines = Run(mode, Earlier, February31);
    EXPECT_FALSE(Replaced());
    EXPECT_EQ(lines.at(2), "skip 1 0 new.txt");
  }
  // Nothing to compare with: a new file is simply written.
  const std::vector<ziptest::TEntrySpec> entries = {{.Name = "fresh.txt", .Data = "fresh", .DosDateTime = February31}};
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "f.zip", entries), dest);
  unzip.SetOverwriteMode(TUZOverwriteMode::ifNewer);
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(ReadFile(dest + "/fresh.txt"), "fresh");
}

TEST_F(UnZipOverwritePolicy, PromptHandlerDecidesAndMayRename) {
  const std::string archive = WriteArchive(folder, "p.zip", {{"new.txt", "new"}});
  fs::create_directories(dest);
  testsupport::WriteFile(dest + "/new.txt", "old");
  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, dest);
  unzip.SetOverwriteMode(TUZOverwriteMode::Prompt);
  unzip.OnPromptForOverwrite = [&](TKestrelUnZip&, bool& overWriteIt, std::int32_t, std::string& fName) {
    EXPECT_FALSE(overWriteIt);
    fName = dest + "/renamed.txt";
    overWriteIt = true;
  };
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(ReadFile(dest + "/new.txt"), "old");
  EXPECT_EQ(ReadFile(dest + "/renamed.txt"), "new");
}

TEST_F(UnZipOverwritePolicy, ReadOnlyTargetNeedsReplaceReadOnly) {
  const std::string archive = WriteArchive(folder, "r.zip", {{"ro.txt", "new"}});
  fs::create_directories(dest);
  // The read-only attribute decides, not the permission check of the system,
  // so this holds for root too.
  for (bool replace : {false, true}) {
    testsupport::WriteFile(dest + "/ro.txt", "old");
    fs::permissions(dest + "/ro.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    TKestrelUnZip unzip;
    SetUpAll(unzip, archive, dest);
    unzip.SetReplaceReadOnly(replace);
    TRecorder rec;
    rec.Attach(unzip);
    EXPECT_EQ(unzip.UnZip(), replace ? 1 : 0);
    EXPECT_EQ(ReadFile(dest + "/ro.txt"), replace ? "new" : "old");
    if (!replace) {
      EXPECT_EQ(rec.Lines.at(2), "skip 3 0 ro.txt");
    }
    fs::permissions(dest + "/ro.txt", fs::perms::owner_write, fs::perm_options::add);
  }
}

TEST_F(UnZipOverwritePolicy, EntryThatFailsLeavesTheExistingFileWhole) {
  // The password passes the check byte, as one wrong password in 256 does, and
  // the CRC fails.
  ziptest::TEntrySpec locked = EncryptedEntry("locked.txt", "pw", "new");
  locked.Crc ^= 1;  // its high byte, the check byte, stays
  const std::string archive = WriteArchive(folder, "f.zip", {{.Name = "bad.txt", .Data = "new", .Crc = 1}, locked});
  fs::create_directories(dest);
  testsupport::WriteFile(dest + "/bad.txt", "old");
  testsupport::WriteFile(dest + "/locked.txt", "old");
  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, dest);
  unzip.SetPassword("pw");
  EXPECT_EQ(unzip.UnZip(), 0);
  EXPECT_EQ(ReadFile(dest + "/bad.txt"), "old");
  EXPECT_EQ(ReadFile(dest + "/locked.txt"), "old");
  EXPECT_EQ(testsupport::FilesBelow(dest), (std::set<std::string>{"bad.txt", "locked.txt"}));
}

}  // namespace
