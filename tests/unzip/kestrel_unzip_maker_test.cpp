// KestrelUnZipAsMakerMeant: names, times and links as the archive's maker meant
// them, checked against the source files' stat and the names that Info-ZIP unzip
// and Python's zipfile read.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using testsupport::RunProgram;

namespace {

std::int64_t ModifiedSeconds(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// A file written at an odd second and a folder, archived by Info-ZIP zip (the
// extended timestamp) and 7-Zip (NTFS times), extracted under two time zones.
TEST(KestrelUnZipAsMakerMeant, TimesAsTheSourcesInAnyZone) {
  if (!testsupport::HaveCommand("zip") || !testsupport::HaveCommand("7z")) GTEST_SKIP() << "zip and 7z are needed";
  testsupport::TTempFolder work;
  const fs::path tree = work.Path() / "tree";
  fs::create_directories(tree / "d");
  testsupport::WriteFile(tree / "d/f.txt", "text");
  testsupport::ShellIn(tree, "ln -s d/f.txt link && TZ=UTC touch -h -d '2019-02-03 01:01:03' link");
  testsupport::ShellIn(tree,
                       "TZ=UTC touch -d '2021-07-08 04:05:07' d/f.txt && TZ=UTC touch -d '2020-01-02 03:04:05' d");
  testsupport::ShellIn(tree, "zip -qry ../info.zip d link && 7z a -tzip -mtc=on ../seven.zip d >/dev/null");
  for (const std::string zone : {"UTC", "America/St_Johns"}) {
    for (const std::string archive : {"info.zip", "seven.zip"}) {
      SCOPED_TRACE(zone + " " + archive);
      const fs::path out = work.Path() / ("out-" + archive + zone.substr(0, 3));
      const auto run =
          RunProgram(KESTREL_UNZIP_EXE, {"-q", (work.Path() / archive).string(), "-d", out.string()}, {}, "TZ=" + zone);
      EXPECT_EQ(run.Status, 0) << run.Err;
      for (const std::string name : {"d/f.txt", "d", "link"}) {
        if (name == "link" && archive != "info.zip") continue;
        EXPECT_EQ(ModifiedSeconds(out / name), ModifiedSeconds(tree / name)) << name;
      }
    }
  }
  // From a pipe the link's mode comes with the central directory, after its data.
  testsupport::ShellIn(work.Path(), std::string(KESTREL_UNZIP_EXE) + " -q - -d piped < info.zip");
  EXPECT_EQ(fs::read_symlink(work.Path() / "piped/link"), "d/f.txt");
  EXPECT_EQ(ModifiedSeconds(work.Path() / "piped/link"), ModifiedSeconds(tree / "link"));
  // -u compares the exact time: a file one second older than the entry, the same
  // two-second DOS step, is replaced.
  const fs::path out = work.Path() / "out-info.zipUTC";
  testsupport::WriteFile(out / "d/f.txt", "older");
  testsupport::ShellIn(out, "TZ=UTC touch -d '2021-07-08 04:05:06' d/f.txt");
  EXPECT_EQ(RunProgram(KESTREL_UNZIP_EXE, {"-qquo", (work.Path() / "info.zip").string(), "-d", out.string()}).Status,
            0);
  EXPECT_EQ(testsupport::ReadFile(out / "d/f.txt"), "text");
}

// Names of MS-DOS and Windows systems in their OEM code pages, read with -O as
// Python's zipfile reads them with that encoding; a Unicode path field whose
// CRC-32 fits wins over the stored name, as with Info-ZIP unzip, and one that
// does not fit leaves it.
TEST(KestrelUnZipAsMakerMeant, NamesInTheirMakersCodePages) {
  testsupport::TTempFolder work;
  auto dosEntry = [](const std::string& name) {
    return ziptest::TEntrySpec{.Name = name, .Data = "x", .VersionMadeBy = 0x0014, .ExternalAttributes = 0x20};
  };
  const std::string chinese = "\xc6\xdf\xb8\xf6\xb7\xbf\xbc\xe4.txt";
  auto unicodePath = [&](std::uint32_t crc) {
    std::string field;
    ziptest::PutU16(field, 0x7075);
    ziptest::PutU16(field, 5 + 16);
    field += '\x01';
    ziptest::PutU32(field, crc);
    return field + "\xe4\xb8\x83\xe4\xb8\xaa\xe6\x88\xbf\xe9\x97\xb4.txt";  // 七个房间.txt
  };
  struct TNames {
    std::string Charset, Stored;
    std::string Option = "-O";  ///< -I for a name made on Unix
  };
  for (const TNames& c : std::vector<TNames>{{"cp866", "\x8f\xe0\xa8\xa2\xa5\xe2.txt"},
                                             {"cp932", "\x93\xfa\x96\x7b\x8c\xea.txt"},
                                             {"cp936", chinese},
                                             {"koi8-r", "\xf0\xd2\xc9\xd7\xc5\xd4.txt", "-I"}}) {
    SCOPED_TRACE(c.Charset);
    const fs::path archive = work.Path() / (c.Charset + ".zip");
    ziptest::TEntrySpec entry = dosEntry(c.Stored);
    if (c.Option == "-I") entry.VersionMadeBy = 0x0314;
    testsupport::WriteFile(archive, ziptest::BuildArchive({entry}));
    const auto python = RunProgram(
        "python3",
        {"-c", "import sys,zipfile\nprint(*zipfile.ZipFile(sys.argv[1], metadata_encoding=sys.argv[2]).namelist())",
         archive.string(), c.Charset});
    const auto ours = RunProgram(KESTREL_UNZIP_EXE, {"-Z1", c.Option, c.Charset, archive.string()});
    EXPECT_EQ(ours.Out, python.Out);
    RunProgram(KESTREL_UNZIP_EXE, {c.Option, c.Charset, archive.string(), "-d", (work.Path() / c.Charset).string()});
    EXPECT_EQ(testsupport::FilesBelow(work.Path() / c.Charset),
              std::set<std::string>{python.Out.substr(0, python.Out.size() - 1)});
    // From a pipe, where the local header names no system, the same name.
    testsupport::ShellIn(work.Path(), std::string(KESTREL_UNZIP_EXE) + " -q " + c.Option + " " + c.Charset +
                                          " - -d piped-" + c.Charset + " < " + c.Charset + ".zip");
    EXPECT_EQ(testsupport::FilesBelow(work.Path() / ("piped-" + c.Charset)),
              testsupport::FilesBelow(work.Path() / c.Charset));
  }
  auto withField = [&](std::uint32_t crc) {
    ziptest::TEntrySpec entry = dosEntry(chinese);
    entry.CentralExtra = entry.LocalExtra = unicodePath(crc);
    return entry;
  };
  const fs::path unicode = work.Path() / "unicode.zip";
  testsupport::WriteFile(unicode, ziptest::BuildArchive({withField(ziptest::Crc32(chinese)), withField(1)}));
  const std::string fits = RunProgram("unzip", {"-Z1", unicode.string()}).Out;
  const std::string stored = RunProgram(KESTREL_UNZIP_EXE, {"-Z1", (work.Path() / "cp936.zip").string()}).Out;
  EXPECT_EQ(RunProgram(KESTREL_UNZIP_EXE, {"-Z1", unicode.string()}).Out, fits.substr(0, fits.find('\n') + 1) + stored);
}

// An unknown character set is a usage error, before the archive is looked at.
TEST(KestrelUnZipAsMakerMeant, UnknownCharsetIsRefused) {
  const auto run = RunProgram(KESTREL_UNZIP_EXE, {"-O", "no-such-set", "missing.zip"});
  EXPECT_EQ(run.Status, 10);
  EXPECT_NE(run.Err.find("unknown character set no-such-set"), std::string::npos);
}

}  // namespace
