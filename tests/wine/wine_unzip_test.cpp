// kestrel-unzip.exe under Wine, end to end: archives of independent tools extracted
// byte for byte into Z:\ destinations, the listing next to the Linux build's, names
// that try to leave the destination, names in the OEM code page and in UTF-8, the
// 260-character limit, the exit statuses, an archive from a pipe, and the
// legacy-method fixtures.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/unzip/zip_builder.h"
#include "tests/wine/wine_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ShellQuote;
using testsupport::TRunResult;
using testsupport::TTempFolder;
using testsupport::WriteFile;
using winetest::HasLine;
using winetest::WindowsPath;
using winetest::WithCrLf;

namespace {

constexpr std::uint16_t MadeOnDos = 0x0014;
constexpr std::uint16_t Utf8Name = 0x0800;

ziptest::TEntrySpec Entry(const std::string& name, const std::string& data, std::uint16_t madeBy = 0x0314,
                          std::uint16_t flags = 0) {
  return {.Name = name, .Data = data, .Flags = flags, .VersionMadeBy = madeBy};
}

class WineUnzip : public ::testing::Test {
 protected:
  void SetUp() override {
    KESTREL_REQUIRE_WINE_PROGRAM(winetest::KestrelUnzipExe());
    testsupport::WriteSampleTree(folder.Path() / "tree", "\r\n");
  }
  // kestrel-unzip.exe with the test folder as its working folder.
  TRunResult Unzip(const std::vector<std::string>& args) {
    return winetest::RunWine(winetest::KestrelUnzipExe(), args, folder.Path().string());
  }
  TRunResult LinuxUnzip(const std::vector<std::string>& args) {
    return RunProgram(LINUX_KESTREL_UNZIP_EXE, args, folder.Path().string());
  }
  void InTree(const std::string& line) { testsupport::ShellIn(folder.Path() / "tree", line); }
  std::string Win(const std::string& name) { return WindowsPath(folder.Path() / name); }
  // Every file of the tree came out unchanged under dest, and nothing else did.
  void ExpectTree(const std::string& dest) {
    EXPECT_EQ(winetest::FilesBelow(folder.Path() / dest), winetest::FilesBelow(folder.Path() / "tree")) << dest;
    for (const auto& name : winetest::FilesBelow(folder.Path() / "tree")) {
      EXPECT_TRUE(ReadFile(folder.Path() / dest / name) == ReadFile(folder.Path() / "tree" / name)) << dest << name;
    }
  }
  // No line of an entry that did not come out.
  static void ExpectNoEntryFailures(const TRunResult& run, const std::string& label) {
    EXPECT_EQ(run.Err.find("kestrel-unzip: "), std::string::npos) << label << run.Err;
  }
  // The working folder (the test folder) holds nothing but the names given.
  void ExpectOnlyInWorkingFolder(const std::set<std::string>& allowed) {
    std::set<std::string> stray;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
      if (!allowed.contains(entry.path().filename().string())) stray.insert(entry.path().filename().string());
    }
    EXPECT_EQ(stray, std::set<std::string>{}) << "entries that appeared in the working folder";
  }

  TTempFolder folder;
};

// ---- Archives of independent tools ----------------------------------------------------

using WineUnzipExtraction = WineUnzip;

TEST_F(WineUnzipExtraction, InfoZipArchivesStoredDeflatedAndEncrypted) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  InTree("zip -q -r -0 ../stored.zip .");
  InTree("zip -q -r -9 ../deflated.zip .");
  InTree("zip -q -r -P 'se cret' ../locked.zip .");
  // Destinations that do not exist yet, given as Z:\ paths with a trailing backslash
  // (CheckArchivesOfOtherTools gives them without), or relative with backslashes.
  struct TCase {
    std::vector<std::string> Args;
    std::string Dest;
  };
  const std::vector<TCase> cases = {
      {{Win("stored.zip"), "-d", Win("s2") + "\\"}, "s2"},
      {{Win("deflated.zip"), "-d", Win("deep/er/d2") + "\\"}, "deep/er/d2"},
      {{"-P", "se cret", Win("locked.zip"), "-d", Win("p2") + "\\"}, "p2"},
      {{"deflated.zip", "-drel\\out\\"}, "rel/out"},
  };
  for (const auto& c : cases) {
    const auto run = Unzip(c.Args);
    EXPECT_EQ(run.Status, 0) << c.Dest << run.Err;
    // unzip's lines: the archive's first, then the entries'.
    EXPECT_TRUE(run.Out.starts_with("Archive:  ")) << c.Dest << run.Out;
    ExpectNoEntryFailures(run, c.Dest);
    ExpectTree(c.Dest);
  }
  // Nothing appeared in the working folder beside the archives and destinations.
  ExpectOnlyInWorkingFolder({"tree", "stored.zip", "deflated.zip", "locked.zip", "s2", "deep", "p2", "rel"});
}

// Info-ZIP zip at every level and encrypted, Python's zipfile, 7-Zip, as natively.
TEST_F(WineUnzipExtraction, PythonArchivesStoredAndDeflated) {
  e2etest::CheckArchivesOfOtherTools(winetest::WineProgram(winetest::KestrelUnzipExe()), folder.Path() / "all");
}

// A pipe on standard input ("-") gives the files of the archive, in one pass.
TEST_F(WineUnzipExtraction, ArchiveFromAPipe) {
  // zip writing to a pipe puts each entry's sizes after its data.
  const std::string line = "cd " + ShellQuote((folder.Path() / "tree").string()) +
                           " && zip -q -r - . | WINEDEBUG=-all LC_ALL=C.UTF-8 wine " +
                           ShellQuote(winetest::KestrelUnzipExe().string()) + " -q - -d " + ShellQuote(Win("piped")) +
                           " > ../piped.txt 2>&1";
  EXPECT_EQ(testsupport::RunShell(line), 0) << ReadFile(folder.Path() / "piped.txt");
  ExpectTree("piped");
}

// ---- The listing ----------------------------------------------------------------------

using WineUnzipListing = WineUnzip;

TEST_F(WineUnzipListing, TheLinuxBuildsListingInCrLfLines) {
  std::vector<std::string> archives;
  testsupport::PythonZipTree(folder / "py.zip", folder.Path() / "tree");
  archives.push_back(folder / "py.zip");
  if (testsupport::HaveCommand("zip")) {
    InTree("zip -q -r -9 ../info.zip .");
    archives.push_back(folder / "info.zip");
  }
  WriteFile(folder / "names.zip", ziptest::BuildArchive({Entry("\x81"
                                                               "ber.txt",
                                                               "a", MadeOnDos),
                                                         Entry("\xCE\xA9mega.txt", "b", 0x0314, Utf8Name)}));
  archives.push_back(folder / "names.zip");
  for (const auto& archive : archives) {
    const auto win = Unzip({"-vqq", WindowsPath(archive)});
    const auto linux = LinuxUnzip({"-vqq", archive});
    ASSERT_EQ(linux.Status, 0) << archive << linux.Err;
    EXPECT_EQ(win.Status, 0) << archive << win.Err;
    EXPECT_FALSE(linux.Out.empty()) << archive;
    EXPECT_EQ(win.Out, WithCrLf(linux.Out)) << archive;
  }
}

// ---- Names that try to leave the destination -----------------------------------------

using WineUnzipHostileNames = WineUnzip;

TEST_F(WineUnzipHostileNames, NothingLandsOutsideTheDestination) {
  // The destination lies two levels down in the test folder, so that a name that
  // climbs one or two levels lands where the whole-tree check below sees it.
  const std::vector<std::string> climbing = {"../evil1",           "..\\evil2",     "a/../../evil3",
                                             "sub\\..\\..\\evil4", "D:..\\evil5",   "...\\evil6",
                                             ".. \\evil7",         "../victim.txt", "x/../../../evil8"};
  // Roots, drives and shares are dropped, and what follows goes below the destination.
  const std::vector<std::pair<std::string, std::string>> rooted = {{"/abs/x1", "abs/x1"},
                                                                   {"\\abs\\x2", "abs/x2"},
                                                                   {"C:dir/x3", "dir/x3"},
                                                                   {"C:\\x4", "x4"},
                                                                   {"C:/x5", "x5"},
                                                                   {"\\\\server\\share\\x6", "server/share/x6"},
                                                                   {"//server/share/x7", "server/share/x7"}};
  std::vector<ziptest::TEntrySpec> entries;
  for (const auto& name : climbing) entries.push_back(Entry(name, "evil data"));
  for (const auto& [name, where] : rooted) entries.push_back(Entry(name, "rooted " + name));
  entries.push_back(Entry("ok.txt", "fine"));
  WriteFile(folder / "evil.zip", ziptest::BuildArchive(entries));
  fs::create_directories(folder.Path() / "work/dest/inner");
  WriteFile(folder.Path() / "work/dest/victim.txt", "keep me");
  const std::vector<std::string> outside = {"abs", "x4", "x5", "dir", "server", "evil1", "evil8"};
  std::set<std::string> atRootBefore;
  for (const auto& name : outside) {
    if (fs::exists(fs::path("/") / name)) atRootBefore.insert(name);
  }

  const auto run = winetest::RunWine(winetest::KestrelUnzipExe(), {Win("evil.zip"), "-d", Win("work/dest/inner")},
                                     (folder.Path() / "work").string());
  EXPECT_EQ(run.Status, 1) << run.Err;
  for (std::string name : climbing) {
    for (char& c : name)
      if (c == '\\') c = '/';
    EXPECT_TRUE(HasLine(run.Err, "kestrel-unzip: " + Win("evil.zip") + ": " + name +
                                     ": refused: its path climbs out of the destination"))
        << name << "\n"
        << run.Err;
  }
  // The whole test folder: below the destination the entries that belong there;
  // elsewhere nothing new, neither a file nor a folder.
  std::set<std::string> expected = {"abs/x1", "abs/x2",          "dir/x3",          "x4",
                                    "x5",     "server/share/x6", "server/share/x7", "ok.txt"};
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "work/dest/inner"), expected);
  std::set<std::string> outsideDest;
  for (const auto& entry : winetest::EntriesBelow(folder.Path())) {
    if (!entry.starts_with("work/dest/inner/") && !entry.starts_with("tree")) outsideDest.insert(entry);
  }
  EXPECT_EQ(outsideDest,
            (std::set<std::string>{"evil.zip", "work", "work/dest", "work/dest/inner", "work/dest/victim.txt"}));
  EXPECT_EQ(ReadFile(folder.Path() / "work/dest/victim.txt"), "keep me");
  for (const auto& [name, where] : rooted) {
    EXPECT_EQ(ReadFile(folder.Path() / "work/dest/inner" / where), "rooted " + name) << name;
  }
  // Nor outside it: the root of Z: (the Linux root), the root of C:, the folder
  // above the test folder.
  for (const auto& name : outside) {
    if (!atRootBefore.contains(name)) {
      EXPECT_FALSE(fs::exists(fs::path("/") / name)) << name;
    }
    EXPECT_FALSE(fs::exists(winetest::WineDriveC() / name)) << name;
    EXPECT_FALSE(fs::exists(folder.Path().parent_path() / name)) << name;
  }
}

TEST_F(WineUnzipHostileNames, ArchiveLinksNeverLeadOut) {
  auto link = [](const std::string& name, const std::string& target) {
    ziptest::TEntrySpec entry = Entry(name, target);
    entry.ExternalAttributes = 0xA1FF0000;  // mode 0120777: a symbolic link
    return entry;
  };
  WriteFile(folder / "links.zip",
            ziptest::BuildArchive({Entry("sub/a.txt", "hello"), link("good", "sub/a.txt"), link("root", "/"),
                                   link("up", "../.."), link("l", "sub"), Entry("l/evil.txt", "evil")}));
  fs::create_directories(folder.Path() / "work/dest");
  const auto run = winetest::RunWine(winetest::KestrelUnzipExe(), {Win("links.zip"), "-d", Win("work/dest")},
                                     (folder.Path() / "work").string());
  const std::string prefix = "kestrel-unzip: " + Win("links.zip") + ": ";
  for (const std::string name : {"root", "up"}) {
    EXPECT_TRUE(HasLine(run.Err, prefix + name +
                                     ": refused: the symbolic link leads out of the destination (an absolute or "
                                     "climbing target)"))
        << run.Err;
  }
  EXPECT_TRUE(HasLine(run.Err, prefix + "l: refused: a symbolic link does not replace the folder that stands there"));
  // Made where Wine lets the process make links; otherwise nothing, and said so.
  if (!fs::is_symlink(folder.Path() / "work/dest/good")) {
    EXPECT_FALSE(fs::exists(folder.Path() / "work/dest/good"));
    EXPECT_NE(run.Err.find(prefix + "good: skipped, the system made no symbolic link"), std::string::npos) << run.Err;
  }
  EXPECT_EQ(ReadFile(folder.Path() / "work/dest/l/evil.txt"), "evil");
  std::set<std::string> outsideDest;
  for (const auto& entry : winetest::EntriesBelow(folder.Path())) {
    if (!entry.starts_with("work/dest/") && !entry.starts_with("tree")) outsideDest.insert(entry);
  }
  EXPECT_EQ(outsideDest, (std::set<std::string>{"links.zip", "work", "work/dest"}));
}

TEST_F(WineUnzipHostileNames, DeviceAndInvalidNamesAreWrittenUnderSafeNames) {
  // On Windows "NUL", "CON.txt" or "COM1" name a device wherever they stand, and
  // "ab:c" a stream of "ab": each is written under a safe name, and said so. A ":"
  // ends a folder part, as on Linux.
  struct TName {
    std::string Stored, Listed, Safe;
  };
  const std::vector<TName> names = {
      {"NUL", "NUL", "_NUL"},
      {"con.txt", "con.txt", "_con.txt"},
      {"sub/COM1", "sub/COM1", "sub/_COM1"},
      {"Aux.xml", "Aux.xml", "_Aux.xml"},
      {"ab:c.txt", "ab:/c.txt", "ab_/c.txt"},
      {"q?.txt", "q?.txt", "q_.txt"},
      {"dot.", "dot.", "dot_"},
      {"aux/x.c", "aux/x.c", "_aux/x.c"},
  };
  std::vector<ziptest::TEntrySpec> entries;
  for (const TName& name : names) entries.push_back(Entry(name.Stored, "to " + name.Safe));
  entries.push_back(Entry("ok.txt", "fine"));
  WriteFile(folder / "devices.zip", ziptest::BuildArchive(entries));
  // Wine keeps no named streams, and opens "NAME:STREAM" as a file of that name: the
  // archive's mark read from it would come out as such files beside each one.
  WriteFile(folder / "devices.zip:Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
  const auto run = winetest::RunWine(winetest::KestrelUnzipExe(), {Win("devices.zip"), "-d", Win("dest")});
  EXPECT_EQ(run.Status, 1) << run.Err;
  std::set<std::string> expected = {"ok.txt"};
  for (const TName& name : names) {
    std::string written = Win("dest") + "\\" + name.Safe;
    std::replace(written.begin(), written.end(), '/', '\\');
    const std::string line = "kestrel-unzip: " + Win("devices.zip") + ": warning: " + name.Listed +
                             " is reserved on Windows: written as " + written;
    EXPECT_NE(run.Err.find(line), std::string::npos) << name.Stored << "\n" << run.Err;
    EXPECT_EQ(ReadFile(folder.Path() / "dest" / name.Safe), "to " + name.Safe);
    expected.insert(name.Safe);
  }
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "dest"), expected);
  // Nothing else on stderr: no word of the system's about the volume.
  EXPECT_EQ(run.Err.find("wine:"), std::string::npos) << run.Err;
}

// ---- Names in the OEM code page and in UTF-8 ------------------------------------------

using WineUnzipNames = WineUnzip;

TEST_F(WineUnzipNames, OemAndUtf8NamesBecomeTheirUnicodeFileNames) {
  // Made on MS-DOS without the UTF-8 flag: code page 437 (0x81 u-umlaut, 0x94
  // o-umlaut, 0x8E A-umlaut, 0xE1 sharp s, 0xE0 alpha). With the flag: UTF-8 as
  // stored, characters outside Latin-1 and outside the 16-bit range included.
  const std::vector<std::pair<ziptest::TEntrySpec, std::string>> cases = {
      {Entry("\x81"
             "ber.txt",
             "1", MadeOnDos),
       "\xC3\xBC"
       "ber.txt"},
      {Entry("K\x94ln/\x8E"
             "rger.txt",
             "2", MadeOnDos),
       "K\xC3\xB6ln/\xC3\x84rger.txt"},
      {Entry("\xE1\xE0.txt", "3", MadeOnDos), "\xC3\x9F\xCE\xB1.txt"},
      {Entry("\xCE\xA9mega.txt", "4", 0x0314, Utf8Name), "\xCE\xA9mega.txt"},
      {Entry("\xE6\x97\xA5\xE6\x9C\xAC.txt", "5", 0x0314, Utf8Name), "\xE6\x97\xA5\xE6\x9C\xAC.txt"},
      {Entry("\xC3\xBC"
             "ber-utf8.txt",
             "6", MadeOnDos, Utf8Name),
       "\xC3\xBC"
       "ber-utf8.txt"},
      {Entry("clef-\xF0\x9D\x84\x9E.txt", "7", 0x0314, Utf8Name), "clef-\xF0\x9D\x84\x9E.txt"},
  };
  std::vector<ziptest::TEntrySpec> entries;
  std::set<std::string> expected;
  for (const auto& [entry, name] : cases) {
    entries.push_back(entry);
    expected.insert(name);
  }
  WriteFile(folder / "names.zip", ziptest::BuildArchive(entries));
  const auto run = Unzip({Win("names.zip"), "-d", Win("dest") + "\\"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  ExpectNoEntryFailures(run, "names.zip");
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "dest"), expected);
  for (const auto& [entry, name] : cases) EXPECT_EQ(ReadFile(folder.Path() / "dest" / name), entry.Data) << name;
  // The listing names them so too, as the Linux build does.
  const auto win = Unzip({"-Z1", Win("names.zip")});
  const auto linux = LinuxUnzip({"-Z1", folder / "names.zip"});
  EXPECT_EQ(win.Status, 0);
  EXPECT_EQ(win.Out, WithCrLf(linux.Out));
  for (const auto& name : expected) EXPECT_NE(("\n" + win.Out).find("\n" + name + "\r\n"), std::string::npos) << name;
}

// ---- The 260-character limit ----------------------------------------------------------

using WineUnzipLongPaths = WineUnzip;

TEST_F(WineUnzipLongPaths, EntriesUpToTheLimitComeOutLongerOnesAreSkipped) {
  // The destination's Windows path, then a stored path of 100-character folders.
  const std::string dest = Win("d");
  auto storedOfLength = [&](std::size_t total) {
    std::size_t remaining = total - dest.size() - 1 - 4;  // separator, ".txt"
    std::string stored;
    for (char letter = 'a'; remaining > 101; ++letter, remaining -= 101) stored += std::string(100, letter) + "/";
    return stored + std::string(remaining, 'z') + ".txt";
  };
  const std::string atLimit = storedOfLength(259);
  const std::string beyond = storedOfLength(300);
  ASSERT_EQ(dest.size() + 1 + atLimit.size(), 259u);
  const std::string data(70000, 'q');
  WriteFile(folder / "long.zip",
            ziptest::BuildArchive({Entry(atLimit, data), Entry(beyond, data), Entry("ok.txt", "ok")}));
  const auto run = Unzip({Win("long.zip"), "-d", dest});
  EXPECT_EQ(run.Status, 1) << run.Err;
  const std::string says = "kestrel-unzip: " + Win("long.zip") + ": ";
  EXPECT_NE(run.Err.find(says + beyond + ": skipped, cannot create the file"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find(says + atLimit + ": "), std::string::npos) << run.Err;
  // The entry at the limit whole, the one beyond it not at all, not even in part.
  EXPECT_EQ(winetest::FilesBelow(folder.Path() / "d"), (std::set<std::string>{atLimit, "ok.txt"}));
  EXPECT_TRUE(ReadFile(folder.Path() / "d" / atLimit) == data);
}

// ---- Entry dates ----------------------------------------------------------------------

using WineUnzipDates = WineUnzip;

TEST_F(WineUnzipDates, LocalTimesOfBothSeasonsAsTheLinuxBuildSetsThem) {
  // DOS dates are local time. In a zone with daylight saving time, an entry from
  // summer and one from winter both come out at the instant their local time names,
  // whatever the season of the run (the zone as a rule, so no zone database is needed).
  const std::string zone = "TZ=" + ShellQuote("CET-1CEST,M3.5.0,M10.5.0/3");
  auto dosTime = [](int year, int month, int day, int hour, int minute, int second) {
    return static_cast<std::uint32_t>(((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) |
                                      (minute << 5) | (second / 2));
  };
  std::vector<ziptest::TEntrySpec> entries = {Entry("winter.txt", "w"), Entry("summer.txt", "s"),
                                              Entry("spring.txt", "p")};
  entries[0].DosDateTime = dosTime(2025, 1, 14, 12, 0, 2);
  entries[1].DosDateTime = dosTime(2024, 7, 1, 23, 30, 58);
  entries[2].DosDateTime = dosTime(2019, 3, 31, 3, 30, 0);  // the first hour of summer time
  WriteFile(folder / "dates.zip", ziptest::BuildArchive(entries));
  const auto win =
      winetest::RunWine(winetest::KestrelUnzipExe(), {"dates.zip", "-d", "win"}, folder.Path().string(), zone);
  ASSERT_EQ(win.Status, 0) << win.Err;
  const auto linux = RunProgram(LINUX_KESTREL_UNZIP_EXE, {"dates.zip", "-d", "linux"}, folder.Path().string(), zone);
  ASSERT_EQ(linux.Status, 0) << linux.Err;
  auto epochSeconds = [](const fs::path& path) {
    const auto time = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
  };
  // 12:00:02 CET is 11:00:02 UTC, 23:30:58 CEST is 21:30:58 UTC, 03:30 CEST is 01:30 UTC.
  for (const auto& [name, utc] : std::vector<std::pair<std::string, long long>>{
           {"winter.txt", 1736852402}, {"summer.txt", 1719869458}, {"spring.txt", 1553995800}}) {
    EXPECT_EQ(epochSeconds(folder.Path() / "linux" / name), utc) << name << " (Linux build)";
    EXPECT_EQ(epochSeconds(folder.Path() / "win" / name), utc) << name;
  }
}

TEST_F(WineUnzipDates, ExactTimesOfTheExtendedTimestampInAnyZone) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  InTree("TZ=UTC touch -d '2021-07-08 04:05:07' readme && zip -q ../ut.zip readme");
  const std::string zones[] = {"TZ=UTC", "TZ=" + ShellQuote("CET-1CEST,M3.5.0,M10.5.0/3")};
  for (std::size_t i = 0; i < std::size(zones); ++i) {
    const std::string dest = "ut" + std::to_string(i);
    const auto run =
        winetest::RunWine(winetest::KestrelUnzipExe(), {"ut.zip", "-d", dest}, folder.Path().string(), zones[i]);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(fs::last_write_time(folder.Path() / dest / "readme"), fs::last_write_time(folder.Path() / "tree/readme"))
        << zones[i];
  }
}

// ---- Exit statuses --------------------------------------------------------------------

using WineUnzipStatuses = WineUnzip;

TEST_F(WineUnzipStatuses, ExitStatusesAndMessagesAsOnLinux) {
  e2etest::CheckKestrelUnzipStatuses(winetest::WineProgram(winetest::KestrelUnzipExe()), folder.Path());
}

// ---- The legacy-method fixtures -------------------------------------------------------

TEST(WineUnzipLegacyArchives, EveryFixtureEntryAsListedAndAsOnLinux) {
  KESTREL_REQUIRE_WINE_PROGRAM(winetest::KestrelUnzipExe());
  KESTREL_REQUIRE_FIXTURE(testsupport::Fixture("legacy-zip/EXPECTED.tsv"));
  TTempFolder folder;
  // The Windows build must agree with the list and report what the Linux one reports.
  const e2etest::TProgram linux = e2etest::Native(LINUX_KESTREL_UNZIP_EXE);
  e2etest::CheckLegacyFixtures(winetest::WineProgram(winetest::KestrelUnzipExe()), folder.Path(), &linux);
}

}  // namespace
