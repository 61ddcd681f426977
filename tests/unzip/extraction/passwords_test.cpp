// UnZipPasswords: the header check with and without OnBadPassword, a handler that
// gives up, the retry of a whole entry after a CRC failure, and the check byte of
// an entry whose sizes follow its data.

#include <gtest/gtest.h>

#include "extraction_helpers.h"

namespace {

using namespace extractiontest;
using kestrel::TKestrelUnZip;
using testsupport::ReadFile;

TEST(UnZipPasswords, WrongPasswordWithoutHandlerSkipsWithoutOutput) {
  testsupport::TTempFolder folder;
  const std::vector<ziptest::TEntrySpec> entries{EncryptedEntry("dir/lock.txt", "right", "secret"),
                                                 {"open.txt", "open"}};
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "p.zip", entries), folder / "out");
  unzip.SetPassword("wrong");
  TRecorder rec;
  rec.Attach(unzip);
  std::int64_t lastTotal = -1;
  unzip.OnTotalPercentDone = [&](TKestrelUnZip&, std::int32_t p) { lastTotal = p; };
  EXPECT_EQ(unzip.UnZip(), 1);
  // The stored path names the skipped entry; its bytes leave the totals, so the
  // open entry alone makes 100 %.
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 2 22", "start 0 lock.txt", "skip 0 0 dir\\lock.txt",
                                                 "start 1 open.txt", "end 1 open.txt", "complete 1"}));
  EXPECT_EQ(lastTotal, 100);
  EXPECT_FALSE(fs::exists(folder / "out/dir/lock.txt"));
}

TEST(UnZipPasswords, HandlerReturningTheSamePasswordStopsAtOnce) {
  testsupport::TTempFolder folder;
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "p.zip", {EncryptedEntry("a.txt", "right", "x")}), folder / "out");
  int calls = 0;
  unzip.OnBadPassword = [&](TKestrelUnZip&, std::int32_t, std::string&) { ++calls; };
  EXPECT_EQ(unzip.UnZip(), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(fs::exists(folder / "out/a.txt"));
}

TEST(UnZipPasswords, EmptyPasswordIsTriedLikeAnyOther) {
  testsupport::TTempFolder folder;
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "p.zip", {EncryptedEntry("a.txt", "", "empty key")}), folder / "out");
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(ReadFile(folder / "out/a.txt"), "empty key");
}

TEST(UnZipPasswords, CrcFailureAsksForAnotherPasswordAndStartsTheEntryAgain) {
  testsupport::TTempFolder folder;
  const std::string plain = "the secret text of the entry";
  const ziptest::TEntrySpec entry = EncryptedEntry("a.txt", "right", plain);
  // A wrong password whose header check passes by chance (one in 256).
  std::string lucky;
  for (int i = 0; lucky.empty(); ++i) {
    kestrel::TZipKeys keys;
    const std::string candidate = std::string("p").append(std::to_string(i));
    keys.InitKeys(candidate);
    std::string header = entry.Data.substr(0, 12);
    keys.DecryptBuffer(reinterpret_cast<std::uint8_t*>(header.data()), 12);
    if (static_cast<std::uint8_t>(header[11]) == (entry.Crc >> 24)) lucky = candidate;
  }
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "p.zip", {entry}), folder / "out");
  unzip.SetPassword(lucky);
  TRecorder rec;
  rec.Attach(unzip);
  unzip.OnBadPassword = [&](TKestrelUnZip&, std::int32_t i, std::string& password) {
    rec.Lines.push_back("badpassword " + std::to_string(i) + (password == lucky ? " lucky" : " other"));
    password = "right";
  };
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 1 40", "start 0 a.txt", "badpassword 0 lucky", "start 0 a.txt",
                                                 "end 0 a.txt", "complete 1"}));
  EXPECT_EQ(ReadFile(folder / "out/a.txt"), plain);
}

TEST(UnZipPasswords, DataDescriptorEntryIsCheckedAgainstTheTime) {
  testsupport::TTempFolder folder;
  ziptest::TEntrySpec entry;
  entry.Name = "d.txt";
  entry.DataDescriptor = true;
  entry.Flags = 1;
  entry.Crc = ziptest::Crc32("described");
  // The time's high byte (0x60 of 12:00:00), not the CRC's.
  entry.Data = Encrypt("pw", "described", static_cast<std::uint8_t>(entry.DosDateTime >> 8));
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "p.zip", {entry}), folder / "out");
  unzip.SetPassword("pw");
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(ReadFile(folder / "out/d.txt"), "described");
}

}  // namespace
