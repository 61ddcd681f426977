// UnZipEventOrder: a scripted run with every event assigned, recorded line by line:
// folder entries fire nothing, a skipped entry fires only OnStartUnZip, a declined
// overwrite and a password retry come in their places, OnUnZipComplete comes last.

#include <gtest/gtest.h>

#include "extraction_helpers.h"

namespace {

using namespace extractiontest;
using kestrel::TKestrelUnZip;
using testsupport::ReadFile;

TEST(UnZipEventOrder, ScriptedRunWithEveryEvent) {
  testsupport::TTempFolder folder;
  std::vector<ziptest::TEntrySpec> entries = {{"d/", ""},
                                              {"d/one.txt", "hello"},
                                              {"bad.txt", "broken"},
                                              {"skip.txt", "s"},
                                              {"exists.txt", "e"},
                                              EncryptedEntry("lock.txt", "right", "secret data")};  // 23 bytes stored
  entries[2].Crc = 0x12345678;
  const std::string archive = WriteArchive(folder, "events.zip", entries);
  const std::string dest = folder / "out";
  fs::create_directories(dest);
  testsupport::WriteFile(dest + "/exists.txt", "old");

  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, dest);
  unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Prompt);
  unzip.SetPassword("wrong");
  TRecorder rec;
  rec.Attach(unzip);
  unzip.OnStartUnZip = [&](TKestrelUnZip&, std::int32_t i, std::string& fName, bool& skip) {
    rec.Lines.push_back("start " + std::to_string(i) + " " + TRecorder::Base(fName));
    skip = TRecorder::Base(fName) == "skip.txt";
  };
  unzip.OnFilePercentDone = [&](TKestrelUnZip&, std::int32_t p) { rec.Lines.push_back("file " + std::to_string(p)); };
  unzip.OnTotalPercentDone = [&](TKestrelUnZip&, std::int32_t p) { rec.Lines.push_back("total " + std::to_string(p)); };
  unzip.OnPromptForOverwrite = [&](TKestrelUnZip&, bool& overWriteIt, std::int32_t i, std::string& fName) {
    rec.Lines.push_back("prompt " + std::to_string(i) + " " + TRecorder::Base(fName) + " " + (overWriteIt ? "1" : "0"));
  };
  unzip.OnBadPassword = [&](TKestrelUnZip&, std::int32_t i, std::string& password) {
    rec.Lines.push_back("badpassword " + std::to_string(i) + " " + password);
    password = "right";
  };
  unzip.OnDecrypt = [&](TKestrelUnZip&, std::uint8_t*, std::int32_t, const std::string&) {
    rec.Lines.push_back("decrypt");  // stored entries never come here
  };

  EXPECT_EQ(unzip.UnZip(), 3);
  // Totals: 5 + 6 + 1 + 1 + 23 = 36 bytes over five files; the declined overwrite
  // takes its byte out, so the last entry's 22 of 35 show as 63 %.
  const std::vector<std::string> expected{"info 5 36",
                                          "start 1 one.txt",
                                          "file 100",
                                          "total 14",
                                          "end 1 one.txt",
                                          "start 2 bad.txt",
                                          "file 100",
                                          "total 31",
                                          "badcrc 2",
                                          "start 3 skip.txt",
                                          "start 4 exists.txt",
                                          "prompt 4 exists.txt 0",
                                          "skip 1 4 exists.txt",
                                          "start 5 lock.txt",
                                          "badpassword 5 wrong",
                                          "file 48",
                                          "total 63",
                                          "end 5 lock.txt",
                                          "complete 3"};
  EXPECT_EQ(rec.Lines, expected);
  EXPECT_EQ(ReadFile(dest + "/d/one.txt"), "hello");
  EXPECT_FALSE(fs::exists(dest + "/bad.txt"));
  EXPECT_FALSE(fs::exists(dest + "/skip.txt"));
  EXPECT_EQ(ReadFile(dest + "/exists.txt"), "old");
  EXPECT_EQ(ReadFile(dest + "/lock.txt"), "secret data");
  EXPECT_EQ(unzip.Password(), "right");
  EXPECT_EQ(unzip.BtsDone(), 22);
  EXPECT_TRUE(unzip.FilesList().empty());
}

TEST(UnZipEventOrder, StopNowAndTheSecondRunWithoutPatterns) {
  testsupport::TTempFolder folder;
  const std::string archive = WriteArchive(folder, "two.zip", {{"a.txt", "a"}, {"b.txt", "b"}});
  const std::string dest = folder / "out";

  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, dest);
  unzip.SetDoAll(false);
  unzip.FilesList() = {"*.txt"};
  TRecorder rec;
  rec.Attach(unzip);
  unzip.OnStartUnZipInfo = [&](TKestrelUnZip&, std::int32_t n, std::int64_t, bool& stop) {
    rec.Lines.push_back("info " + std::to_string(n));
    stop = true;
  };
  EXPECT_EQ(unzip.UnZip(), 0);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 2", "complete 0"}));
  EXPECT_TRUE(unzip.FilesList().empty());
  EXPECT_FALSE(fs::exists(dest + "/a.txt"));

  // FilesList was cleared: a second run selects nothing.
  rec.Lines.clear();
  unzip.OnStartUnZipInfo = nullptr;
  EXPECT_EQ(unzip.UnZip(), 0);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"complete 0"}));
  EXPECT_FALSE(fs::exists(dest + "/a.txt"));

  // With a pattern again, only what it names.
  unzip.FilesList() = {"B.TXT"};
  EXPECT_EQ(unzip.UnZip(), 1);
  EXPECT_EQ(rec.Lines.back(), "complete 1");
  EXPECT_FALSE(fs::exists(dest + "/a.txt"));
  EXPECT_EQ(ReadFile(dest + "/b.txt"), "b");
}

TEST(UnZipEventOrder, FolderEntriesCountWithoutEvents) {
  testsupport::TTempFolder folder;
  std::vector<ziptest::TEntrySpec> entries = {{"x/", ""}, {"x/y/", ""}};
  const std::string archive = WriteArchive(folder, "folders.zip", entries);
  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, folder / "out");
  TRecorder rec;
  rec.Attach(unzip);
  // Only folders: no file is counted in NumFiles, so nothing is visited.
  EXPECT_EQ(unzip.UnZip(), 0);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 0 0", "complete 0"}));
  EXPECT_FALSE(fs::exists(folder / "out/x"));

  // Beside a file, the folders are made and each counts one.
  entries.push_back({"z.txt", "z"});
  TKestrelUnZip again;
  SetUpAll(again, WriteArchive(folder, "mixed.zip", entries), folder / "out2");
  EXPECT_EQ(again.UnZip(), 3);
  EXPECT_TRUE(fs::is_directory(folder / "out2/x/y"));

  // With RecreateDirs false and DoAll, folders are visited, counted, not made.
  TKestrelUnZip flat;
  SetUpAll(flat, folder / "mixed.zip", folder / "out3");
  flat.SetRecreateDirs(false);
  EXPECT_EQ(flat.UnZip(), 3);
  EXPECT_FALSE(fs::exists(folder / "out3/x"));
  EXPECT_EQ(ReadFile(folder / "out3/z.txt"), "z");
}

}  // namespace
