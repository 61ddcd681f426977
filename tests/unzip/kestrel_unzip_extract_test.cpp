// KestrelUnZipExtraction: kestrel-unzip extracting end to end, compared byte for
// byte with the files the archives were made from (Info-ZIP zip, Python, 7-Zip).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/test_support.h"
#include "tests/unzip/zip_builder.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::RunShell;
using testsupport::ShellQuote;
using testsupport::WriteFile;

namespace {

// A Unicode path field (0x7075): version 1, the CRC-32 of the stored name, the name.
std::string UnicodePathField(const std::string& stored, const std::string& utf8) {
  std::string field;
  ziptest::PutU16(field, 0x7075);
  ziptest::PutU16(field, static_cast<std::uint32_t>(5 + utf8.size()));
  field += '\x01';
  ziptest::PutU32(field, ziptest::Crc32(stored));
  return field + utf8;
}

class KestrelUnZipExtraction : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::WriteSampleTree(folder.Path() / "tree", "\n"); }
  // Runs a shell line in the tree folder.
  void InTree(const std::string& line) { testsupport::ShellIn(folder.Path() / "tree", line); }
  testsupport::TRunResult Unzip(std::vector<std::string> args) { return RunProgram(KESTREL_UNZIP_EXE, args); }
  // Every file of the tree came out unchanged under dest.
  void ExpectTree(const std::string& dest) {
    for (const char* name : {"docs/deep/text.txt", "docs/empty.txt", "binary.bin", "readme"}) {
      EXPECT_TRUE(ReadFile(folder.Path() / dest / name) == ReadFile(folder.Path() / "tree" / name)) << dest << name;
      EXPECT_TRUE(fs::exists(folder.Path() / dest / name)) << dest << name;
    }
  }
  testsupport::TTempFolder folder;
};

// Info-ZIP zip at every level and encrypted, Python's zipfile, 7-Zip.
TEST_F(KestrelUnZipExtraction, InfoZipArchivesOfEveryLevel) {
  e2etest::CheckArchivesOfOtherTools(e2etest::Native(KESTREL_UNZIP_EXE), folder.Path() / "all");
}

// The encrypted entries are CheckArchivesOfOtherTools's.
TEST_F(KestrelUnZipExtraction, StreamedAndEncryptedEntries) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  // From stdin: sizes and CRC follow the data (general-purpose bit 3).
  InTree("zip -q - - < docs/deep/text.txt > " + ShellQuote(folder / "streamed.zip"));
  const auto run = Unzip({folder / "streamed.zip", "-d", folder / "s"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(ReadFile(folder.Path() / "s/-") == ReadFile(folder.Path() / "tree/docs/deep/text.txt"));
}

// ZIP64 records as Info-ZIP writes them when forced (-fz) and as Python writes them
// for entries it is told may grow, and past 65,535 entries.
TEST_F(KestrelUnZipExtraction, Zip64Archives) {
  if (testsupport::HaveCommand("zip")) {
    InTree("zip -q -r -fz " + ShellQuote(folder / "fz.zip") + " .");
    const auto run = Unzip({folder / "fz.zip", "-d", folder / "fz"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    ExpectTree("fz");
  }
  std::vector<testsupport::TPyZipEntry> forced;
  for (const std::string name : {"docs/deep/text.txt", "docs/empty.txt", "binary.bin", "readme"})
    forced.push_back({name, ReadFile(folder.Path() / "tree" / name), "", true});
  testsupport::PythonZip(folder / "py64.zip", forced, {"DEFLATED"});
  auto run = Unzip({folder / "py64.zip", "-d", folder / "py64"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  ExpectTree("py64");

  std::vector<testsupport::TPyZipEntry> many;
  for (int i = 0; i < 70000; ++i) {
    const std::string number = std::to_string(i);
    many.push_back({'d' + std::to_string(i % 100) + "/f" + number, number});
  }
  testsupport::PythonZip(folder / "many.zip", many);
  run = Unzip({"-Z1", folder / "many.zip"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 70000);
  EXPECT_NE(run.Out.find("\nd99/f69999\n"), std::string::npos);
  run = Unzip({folder / "many.zip", "-d", folder / "many", "d7/f6990?"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadFile(folder.Path() / "many/d7/f69907"), "69907");
}

TEST_F(KestrelUnZipExtraction, PatternsOverwriteModesAndFailures) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  const std::string archive = folder / "t.zip";
  InTree("zip -q -r " + ShellQuote(archive) + " .");
  // Patterns select entries by their stored path, with -C case-insensitively.
  auto run = Unzip({archive, "-C", "-d", folder / "sel", "*.TXT"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(fs::exists(folder.Path() / "sel/docs/deep/text.txt"));
  EXPECT_FALSE(fs::exists(folder.Path() / "sel/binary.bin"));
  EXPECT_FALSE(fs::exists(folder.Path() / "sel/readme"));

  // -n keeps an existing file without a word; -o replaces it.
  WriteFile(folder.Path() / "sel/docs/empty.txt", "kept");
  run = Unzip({"-n", archive, "-d", folder / "sel", "docs/*"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(ReadFile(folder.Path() / "sel/docs/empty.txt"), "kept");
  run = Unzip({"-o", archive, "-d", folder / "sel", "docs/*"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(ReadFile(folder.Path() / "sel/docs/empty.txt"), "");

  // A damaged entry: reported with both CRC values, deleted, and the others still come out.
  std::string bytes = ReadFile(archive);
  const std::size_t at = bytes.find("binary.bin");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 10 + 200] = static_cast<char>(bytes[at + 10 + 200] ^ 0x01);
  WriteFile(folder.Path() / "bad.zip", bytes);
  run = Unzip({folder / "bad.zip", "-d", folder / "bad"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_NE(run.Err.find("binary.bin"), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(folder.Path() / "bad/binary.bin"));
  EXPECT_TRUE(fs::exists(folder.Path() / "bad/docs/deep/text.txt"));
}

// A download that stopped early: without its end record the archive is read from
// its local headers; every whole entry comes out byte for byte, the one the end
// cuts into is left out, and the run ends with a warning.
TEST_F(KestrelUnZipExtraction, CutOffArchivesGiveTheirWholeEntries) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  // binary.bin last, whatever order the folder lists its files in: cut inside it,
  // the archive still has whole entries.
  InTree("zip -q -r " + ShellQuote(folder / "t.zip") + " readme docs binary.bin");
  const std::string bytes = ReadFile(folder.Path() / "t.zip");
  WriteFile(folder / "cut.zip", bytes.substr(0, bytes.size() - 30));
  auto run = Unzip({folder / "cut.zip", "-d", folder / "cut"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "kestrel-unzip: " + folder / "cut.zip" + ": the archive is cut short: 4 entries recovered\n");
  ExpectTree("cut");
  WriteFile(folder / "half.zip", bytes.substr(0, bytes.find("binary.bin") + 100));
  run = Unzip({folder / "half.zip", "-d", folder / "half"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find(": binary.bin: skipped: the archive ends inside its data\n"), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(folder.Path() / "half/binary.bin"));
  for (const char* name : {"docs/deep/text.txt", "docs/empty.txt", "readme"}) {
    if (fs::exists(folder.Path() / "half" / name)) {
      EXPECT_TRUE(ReadFile(folder.Path() / "half" / name) == ReadFile(folder.Path() / "tree" / name)) << name;
    }
  }
}

// From a pipe ("-"): the files, the listing and the test of the file, for Info-ZIP
// zip's archives (plain, ZIP64, encrypted, and written to a pipe itself: sizes
// after the data, an empty file stored so) and Python's written to a pipe; a
// stored entry whose sizes follow its data is refused with the reason, and a
// stream cut off gives its whole entries.
TEST_F(KestrelUnZipExtraction, ArchiveFromAPipe) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  InTree(
      "zip -q -r ../p.zip readme docs binary.bin && zip -q -r -fz ../p64.zip . && zip -q -r -P pw ../pe.zip . && "
      "zip -q - - < docs/deep/text.txt | cat > ../ps.zip && zip -q -r - readme docs binary.bin | cat > ../pz.zip");
  const std::string python = "import sys, zipfile\nz = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_";
  InTree("python3 -c \"" + python + "DEFLATED)\nz.writestr('a/d.txt', 'x' * 70000)\nz.close()\" | cat > ../pyd.zip");
  InTree("python3 -c \"" + python + "STORED)\nz.writestr('s.txt', 'stored')\nz.close()\" | cat > ../pys.zip");
  const std::string unzip = ShellQuote(KESTREL_UNZIP_EXE) + " ";
  auto pipe = [&](const std::string& archive, const std::string& options) {
    const std::string out = folder / "pipe.out", err = folder / "pipe.err";
    // -Z (zipinfo mode) comes first and takes no password.
    const std::string all = options.starts_with("-Z") ? options : "-P pw " + options;
    const int status = RunShell("cat " + ShellQuote(folder / archive) + " | " + unzip + all + " - >" + ShellQuote(out) +
                                " 2>" + ShellQuote(err));
    return testsupport::TRunResult{status, ReadFile(out), ReadFile(err)};
  };
  std::vector<std::string> archives = {"p.zip", "p64.zip", "pe.zip", "ps.zip", "pz.zip", "pyd.zip"};
  // bsdtar keeps a stored entry's CRC in a descriptor after data of known size.
  if (testsupport::HaveCommand("bsdtar")) {
    InTree("bsdtar --format zip --options zip:compression=store -cf ../bs.zip .");
    archives.push_back("bs.zip");
  }
  for (const std::string& archive : archives) {
    const auto fromFile = Unzip({"-P", "pw", folder / archive, "-d", folder / ("f" + archive)});
    const auto fromPipe = pipe(archive, "-d " + ShellQuote(folder / ("p" + archive)));
    EXPECT_EQ(fromPipe.Status, 0) << archive << fromPipe.Err;
    const auto files = testsupport::FilesBelow(folder.Path() / ("f" + archive));
    EXPECT_EQ(testsupport::FilesBelow(folder.Path() / ("p" + archive)), files) << archive;
    for (const std::string& name : files)
      EXPECT_TRUE(ReadFile(folder.Path() / ("p" + archive) / name) == ReadFile(folder.Path() / ("f" + archive) / name));
    const std::string listing = Unzip({"-l", folder / archive}).Out;
    const auto listed = pipe(archive, "-l");
    EXPECT_EQ(listed.Out, "Archive:  -" + listing.substr(listing.find('\n')));
    EXPECT_EQ(listed.Status, 0) << archive << listed.Err;
    EXPECT_EQ(pipe(archive, "-Z1").Out, Unzip({"-Z1", folder / archive}).Out) << archive;
    EXPECT_EQ(pipe(archive, "-tq").Status, 0) << archive;
  }
  // What is no archive is said so by the listing as by the extraction.
  WriteFile(folder / "plain.txt", "no archive");
  for (const std::string& options : std::vector<std::string>{"-l", "-d " + ShellQuote(folder / "plain")})
    EXPECT_EQ(pipe("plain.txt", options).Status, 9) << options;
  auto run = pipe("pys.zip", "-d " + ShellQuote(folder / "pys"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err,
            "kestrel-unzip: -: s.txt: skipped: its sizes follow its data, and in a stream only a deflated "
            "entry so written shows where it ends\n");
  const std::string whole = ReadFile(folder.Path() / "p.zip");
  WriteFile(folder / "cut.zip", whole.substr(0, whole.find("binary.bin") + 100));
  run = pipe("cut.zip", "-d " + ShellQuote(folder / "cut"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("kestrel-unzip: -: binary.bin: skipped: the archive ends inside its data\n"),
            std::string::npos)
      << run.Err;
  EXPECT_FALSE(fs::exists(folder.Path() / "cut/binary.bin"));
  run = pipe("cut.zip", "-t");
  EXPECT_EQ(run.Out.find("No errors detected"), std::string::npos) << run.Out;
  // Sizes after the data: the entry the end cuts into leaves no file, from a pipe
  // or a file; cut inside the only entry, the archive is unusable.
  const std::string streamed = ReadFile(folder.Path() / "pz.zip");
  WriteFile(folder / "pzcut.zip", streamed.substr(0, streamed.find("binary.bin") + 100));
  const std::string single = ReadFile(folder.Path() / "ps.zip");
  WriteFile(folder / "pscut.zip", single.substr(0, 100));
  for (const auto& [archive, status] : {std::pair<std::string, int>{"pzcut.zip", 1}, {"pscut.zip", 9}}) {
    const auto fromFile = Unzip({folder / archive, "-d", folder / ("f" + archive)});
    const auto fromPipe = pipe(archive, "-d " + ShellQuote(folder / ("p" + archive)));
    for (const auto& [door, run] : {std::pair{"f", fromFile}, std::pair{"p", fromPipe}}) {
      EXPECT_EQ(run.Status, status) << door << archive << run.Err;
      EXPECT_FALSE(fs::exists(folder.Path() / (door + archive) / "binary.bin")) << door << archive;
      EXPECT_FALSE(fs::exists(folder.Path() / (door + archive) / "-")) << door << archive;
    }
  }
}

// Non-ASCII names come out the same through either door: from the file (central
// directory), from a pipe (local headers, the central directory last) and cut off
// before its central directory (the local headers alone). Info-ZIP zip stores UTF-8
// without the flag, the others with it; a Unicode path field in both headers or in
// the central one alone, and Latin-1 bytes made on Unix, are the hand-made rows.
TEST_F(KestrelUnZipExtraction, NamesAreTheSameThroughEitherDoor) {
  const fs::path tree = folder.Path() / "names";
  const std::set<std::string> names = {
      "\xc3\xbcn\xc3\xaf"
      "c\xc3\xb8"
      "d\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.txt",
      "\xc3\x86r\xc3\xb8.txt"};
  for (const std::string& name : names) {
    fs::create_directories((tree / name).parent_path());
    WriteFile(tree / name, name);
  }
  const std::string tools[][2] = {{"zip", "zip -qr ../zip.zip ."},
                                  {"7z", "7z a -tzip -bso0 -bsp0 ../7z.zip ."},
                                  {"bsdtar", "bsdtar -a -cf ../bsdtar.zip ."}};
  std::vector<std::pair<std::string, std::set<std::string>>> archives;
  for (const auto& [tool, line] : tools) {
    if (!testsupport::HaveCommand(tool)) continue;
    testsupport::ShellIn(tree, line);
    archives.emplace_back(tool + ".zip", names);
  }
  std::vector<testsupport::TPyZipEntry> python;
  for (const std::string& name : names) python.push_back({name, name});
  testsupport::PythonZip(folder / "python.zip", python);
  archives.emplace_back("python.zip", names);
  const std::string ae = UnicodePathField("AEro.txt", "\xc3\x86r\xc3\xb8.txt"),
                    o = UnicodePathField("Oslo.txt", "\xc3\x98slo.txt");
  WriteFile(folder / "fields.zip", ziptest::BuildArchive({{.Name = "AEro.txt", .Data = "1", .CentralExtra = ae},
                                                          {.Name = "Oslo.txt", .CentralExtra = o, .LocalExtra = o},
                                                          {"caf\xe9.txt", "latin-1"}}));
  archives.emplace_back("fields.zip", std::set<std::string>{"\xc3\x86r\xc3\xb8.txt", "\xc3\x98slo.txt", "caf\xe9.txt"});
  for (const auto& [archive, expected] : archives) {
    SCOPED_TRACE(archive);
    const std::string bytes = ReadFile(folder.Path() / archive);
    WriteFile(folder / ("cut-" + archive), bytes.substr(0, bytes.rfind("PK\x01\x02", bytes.find("PK\x05\x06"))));
    const std::string f = folder / ("f-" + archive), p = folder / ("p-" + archive), c = folder / ("c-" + archive);
    EXPECT_EQ(Unzip({"-o", folder / archive, "-d", f}).Status, 0);
    EXPECT_EQ(RunShell("cat " + ShellQuote(folder / archive) + " | " + ShellQuote(KESTREL_UNZIP_EXE) + " -qo - -d " +
                       ShellQuote(p)),
              0);
    Unzip({"-o", folder / ("cut-" + archive), "-d", c});
    EXPECT_EQ(testsupport::FilesBelow(f), expected);
    EXPECT_EQ(testsupport::FilesBelow(p), expected);
    // Cut off, only the local headers name the entries.
    if (archive != "fields.zip") {
      EXPECT_EQ(testsupport::FilesBelow(c), expected);
    }
    EXPECT_EQ(testsupport::EntriesBelow(p), testsupport::EntriesBelow(f));
  }
}

// No entry vanishes for its name: one without a name is refused with its index and
// stored bytes (status 2), one cut at a NUL is named so, and a Unicode path field
// that names nothing (empty, not UTF-8) leaves the stored name. From the file and
// from a pipe, extracted, tested and listed.
TEST_F(KestrelUnZipExtraction, EveryEntryIsNamedOrRefused) {
  const std::string empty = UnicodePathField("kept.txt", ""), bad = UnicodePathField("also.txt", "\xff\xfe.txt");
  WriteFile(folder / "names.zip",
            ziptest::BuildArchive({{"", "no name"},
                                   {std::string("\0abc", 4), "nothing before the NUL"},
                                   {std::string("cut\0tail.txt", 12), "cut"},
                                   {.Name = "kept.txt", .Data = "k", .CentralExtra = empty, .LocalExtra = empty},
                                   {.Name = "also.txt", .Data = "a", .CentralExtra = bad, .LocalExtra = bad}}));
  const std::string zip = ShellQuote(folder / "names.zip"), unzip = ShellQuote(KESTREL_UNZIP_EXE);
  for (const std::string& input : {zip, "- < " + zip}) {
    SCOPED_TRACE(input);
    const std::string err = folder / "err", dest = folder / "out";
    fs::remove_all(dest);
    EXPECT_EQ(RunShell(unzip + " -d " + ShellQuote(dest) + " " + input + " 2>" + ShellQuote(err)), 2);
    const std::string said = ReadFile(err);
    EXPECT_NE(said.find(": entry 1 (stored name \"\"): refused: its name is empty\n"), std::string::npos) << said;
    EXPECT_NE(said.find(": entry 2 (stored name \"^@abc\"): refused: its name is empty\n"), std::string::npos);
    EXPECT_NE(said.find(": cut: warning: its stored name \"cut^@tail.txt\" ends at a NUL byte; the rest is left out\n"),
              std::string::npos);
    EXPECT_EQ(testsupport::FilesBelow(dest), (std::set<std::string>{"cut", "kept.txt", "also.txt"}));
    EXPECT_EQ(RunShell(unzip + " -tq " + input + " 2>/dev/null"), 2);
    EXPECT_EQ(RunShell(unzip + " -l " + input + " >/dev/null 2>" + ShellQuote(err)), 2);
    EXPECT_NE(ReadFile(err).find(": entry 2 (stored name \"^@abc\"): refused"), std::string::npos);
  }
}

TEST_F(KestrelUnZipExtraction, HostileNamesNeverLeaveTheDestination) {
  std::vector<testsupport::TPyZipEntry> evil;
  for (const char* name : {"../escape.txt", "a/../../escape2.txt", "/abs/x.txt", "C:dir/y.txt", "ok.txt"})
    evil.push_back({name, "data"});
  testsupport::PythonZip(folder / "evil.zip", evil);
  fs::create_directory(folder.Path() / "dest");
  const auto run = Unzip({folder / "evil.zip", "-d", folder / "dest"});
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_NE(run.Err.find(": ../escape.txt: refused: its path climbs out of the destination\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(folder.Path() / "dest/ok.txt"));
  EXPECT_FALSE(fs::exists(folder.Path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(folder.Path() / "escape2.txt"));
  EXPECT_FALSE(fs::exists("/abs/x.txt"));
  // Everything that came out lies inside the destination.
  for (const auto& entry : fs::directory_iterator(folder.Path())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "dest" || name == "tree" || name == "evil.zip") << name;
  }
}

// Inputs that once broke the tool (the shared regressions folder): each ends, within
// a minute, with an error or a failed entry (status 1 to 3), never a crash or a hang,
// and nothing lands outside the destination. Valid archives that were refused come
// out whole, and a damaged one gives its whole entries.
TEST_F(KestrelUnZipExtraction, RegressionInputsEndCleanly) {
  const fs::path regressions = testsupport::Fixture("regressions");
  KESTREL_REQUIRE_FIXTURE(regressions);
  int tried = 0;
  for (const auto& input : fs::directory_iterator(regressions)) {
    if (input.path().extension() != ".zip") continue;
    ++tried;
    const std::string dest = folder / ("r" + std::to_string(tried));
    const int status = RunShell("timeout 60 " + ShellQuote(KESTREL_UNZIP_EXE) + " " + ShellQuote(input.path()) +
                                " -d " + ShellQuote(dest) + " 2>/dev/null");
    const std::string name = input.path().filename();
    if (name.starts_with("zip64_magic_in_filename")) {
      // Whole, but its stored name goes on past a NUL byte: extracted, with a warning.
      EXPECT_EQ(status, 1) << name;
    } else if (name == "quoted-overlap.zip") {
      // Entry a runs into b's local header; b is whole.
      EXPECT_EQ(status, 2);
      EXPECT_EQ(ReadFile(dest + "/b").size(), 1033u);
      EXPECT_FALSE(fs::exists(dest + "/a"));
    } else {
      EXPECT_TRUE(status >= 1 && status <= 3) << name << " ended with " << status;
    }
  }
  EXPECT_GT(tried, 0);
  for (const auto& entry : fs::directory_iterator(folder.Path())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "tree" || name.rfind("r", 0) == 0) << name;
  }
}

// WinZip AES: -v names it; a byte changed in the encrypted data fails the
// authentication code, and a CRC changed in the directory fails an AE-1 entry
// (bsdtar's) whose code passes. Neither leaves a file.
TEST_F(KestrelUnZipExtraction, DamagedAesEntriesLeaveNoFile) {
  if (!testsupport::HaveCommand("7z") || !testsupport::HaveCommand("bsdtar")) GTEST_SKIP() << "7-Zip or bsdtar missing";
  InTree("7z a -tzip -mem=AES256 -pkey -bso0 -bsp0 " + ShellQuote(folder / "aes.zip") + " binary.bin");
  InTree("bsdtar -a --options zip:encryption=aes256 --passphrase key -cf " + ShellQuote(folder / "ae1.zip") +
         " binary.bin");
  EXPECT_NE(Unzip({"-v", folder / "aes.zip"}).Out.find(" AES "), std::string::npos);
  std::string flipped = ReadFile(folder.Path() / "aes.zip"), crc = ReadFile(folder.Path() / "ae1.zip");
  // Past the local header, the name, the extra field, the salt and the verifier.
  flipped[30 + 10 + static_cast<unsigned char>(flipped[28]) + 18 + 5000] ^= 0x01;
  crc[crc.rfind("PK\x01\x02") + 16] ^= 0x01;
  const std::pair<std::string, std::string> cases[] = {{flipped, "authentication failed"},
                                                       {crc, "bad CRC 26201fd6 (should be 26201fd7)"}};
  for (const auto& [bytes, reason] : cases) {
    WriteFile(folder.Path() / "bad.zip", bytes);
    const auto run = Unzip({"-P", "key", folder / "bad.zip", "-d", folder / "bad"});
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err,
              "kestrel-unzip: " + folder / "bad.zip" + ": binary.bin: " + reason + "; the damaged file was removed\n");
    EXPECT_FALSE(fs::exists(folder.Path() / "bad/binary.bin"));
  }
}

// Entries and archives the tool cannot decode are named as such: one line per
// entry and nothing more (no CRC line, no "wrong password"), or one line for the
// archive and status 2.
TEST_F(KestrelUnZipExtraction, WhatTheToolCannotDoIsSaid) {
  WriteFile(folder.Path() / "m.zip", ziptest::BuildArchive({{"ok.txt", "ok"},
                                                            {.Name = "p.txt", .Data = "PPMd data", .Method = 98},
                                                            {.Name = "w.wav", .Data = "WavPack", .Method = 97}}));
  // strong.bin: encrypted, with strong encryption; aes.bin: AES without its 0x9901 block.
  WriteFile(folder.Path() / "s.zip",
            ziptest::BuildArchive({{.Name = "strong.bin", .Data = "ciphertext", .Flags = 0x0041},
                                   {.Name = "aes.bin", .Data = "data", .Method = 99, .Flags = 1},
                                   {"seven.bin", "", 7}}));
  auto run = Unzip({folder / "m.zip", "-d", folder / "m"});
  EXPECT_EQ(run.Status, 81);
  const std::string m = "kestrel-unzip: " + folder / "m.zip" + ": ";
  EXPECT_EQ(run.Err, m + "p.txt: skipped, unsupported compression method 98 (PPMd)\n" + m +
                         "w.wav: skipped, unsupported compression method 97 (WavPack)\n");
  EXPECT_EQ(ReadFile(folder.Path() / "m/ok.txt"), "ok");
  EXPECT_FALSE(fs::exists(folder.Path() / "m/p.txt"));
  run = Unzip({"-P", "x", folder / "s.zip", "-d", folder / "s"});
  EXPECT_EQ(run.Status, 81);
  const std::string s = "kestrel-unzip: " + folder / "s.zip" + ": ";
  EXPECT_EQ(run.Err, s + "strong.bin: skipped, strong encryption is not supported\n" + s +
                         "aes.bin: skipped, AES encryption without a valid extra field (0x9901) is not supported\n" +
                         s + "seven.bin: skipped, unsupported compression method 7 (tokenized)\n");

  InTree("zip -q -0 -s 64k " + ShellQuote(folder / "split.zip") + " binary.bin");
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  // A FIFO or a folder is no archive to be found (9).
  const std::tuple<std::string, int, std::string> archives[] = {
      {folder / "fifo", 9, "Cannot open file " + folder / "fifo" + " (not a regular file)\n"},
      {folder.Path().string(), 9, "cannot find or open the archive: it is a folder\n"},
  };
  for (const auto& [archive, status, message] : archives) {
    run = Unzip({archive, "-d", folder / "x"});
    EXPECT_EQ(run.Status, status) << archive;
    EXPECT_EQ(run.Err, "kestrel-unzip: " + archive + ": " + message);
  }
  // A split set reads as one archive; without a part, what lies in it is named
  // and left out (2).
  run = Unzip({folder / "split.zip", "-d", folder / "whole"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(ReadFile(folder.Path() / "whole/binary.bin") == ReadFile(folder.Path() / "tree/binary.bin"));
  // From a pipe its first part is refused before anything is made (3).
  EXPECT_EQ(RunShell("cat " + ShellQuote(folder / "split.z01") + " | " + ShellQuote(KESTREL_UNZIP_EXE) + " -q - -d " +
                     ShellQuote(folder / "piped") + " 2>/dev/null"),
            3);
  EXPECT_FALSE(fs::exists(folder.Path() / "piped"));
  fs::remove(folder.Path() / "split.z01");
  const std::string split = "kestrel-unzip: " + folder / "split.zip" + ": ";
  const std::string missing = split + "warning: part 1 of 3, " + folder / "split.z01" + ", is missing\n";
  run = Unzip({"-l", folder / "split.zip"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Err, missing);
  run = Unzip({folder / "split.zip", "-d", folder / "x"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Err,
            missing + split + "binary.bin: skipped, its bytes lie in " + folder / "split.z01" + ", which is missing\n");
  EXPECT_FALSE(fs::exists(folder.Path() / "x/binary.bin"));
}

// A stream of each library's method with a byte changed, or cut short: its entry
// fails with the library's reason and leaves no file. -v names the methods.
TEST_F(KestrelUnZipExtraction, DamagedLibraryStreamsNameTheLibrary) {
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
  const std::pair<std::string, std::string> methods[] = {
      {"BZIP2", "BZip2"}, {"LZMA", "LZMA"}, {"XZ", "XZ"}, {"ZSTD", "Zstd"}};
  for (const auto& [method, label] : methods) {
    const std::string archive = folder / (method + ".zip");
    testsupport::PythonZip(archive, {{"d.txt", text, method}});
    EXPECT_NE(Unzip({"-v", archive}).Out.find(" " + label + " "), std::string::npos) << method;
    const std::string whole = ReadFile(archive);
    const std::uint32_t size = static_cast<unsigned char>(whole[18]) | static_cast<unsigned char>(whole[19]) << 8 |
                               static_cast<unsigned char>(whole[20]) << 16;
    std::string flipped = whole, cut = whole;
    flipped[30 + 5 + size / 2] ^= 0x10;
    // The compressed size, in the local and the central header, halved.
    const std::size_t central = whole.rfind("PK\x01\x02");
    for (const std::size_t at : {std::size_t{18}, central + 20}) {
      for (int k = 0; k < 4; ++k) cut[at + k] = static_cast<char>((size / 2) >> (8 * k));
    }
    for (const std::string& bytes : {flipped, cut}) {
      WriteFile(archive, bytes);
      const auto run = Unzip({archive, "-d", folder / "d"});
      EXPECT_EQ(run.Status, 2) << method;
      EXPECT_NE(run.Err.find(": d.txt: damaged data (lib"), std::string::npos) << run.Err;
      EXPECT_FALSE(fs::exists(folder.Path() / "d/d.txt")) << method;
    }
  }
}

// A full disk is a failed write, not a damaged entry: the run ends with the
// system's reason and no partial file is left.
TEST_F(KestrelUnZipExtraction, FullDiskEndsTheRunWithTheReason) {
  const std::string small = folder / "small";
  fs::create_directory(small);
  if (RunShell("mount -t tmpfs -o size=256k tmpfs " + ShellQuote(small) + " 2>/dev/null") != 0)
    GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  InTree("zip -q " + ShellQuote(folder / "big.zip") + " docs/deep/text.txt binary.bin readme");
  const auto run = Unzip({folder / "big.zip", "-d", small + "/out"});
  EXPECT_EQ(run.Status, 50);
  EXPECT_EQ(run.Err,
            "kestrel-unzip: " + folder / "big.zip" + ": Cant write uncompressed file: No space left on device\n");
  EXPECT_FALSE(fs::exists(small + "/out/docs/deep/text.txt"));
  EXPECT_FALSE(fs::exists(small + "/out/binary.bin"));
  RunShell("umount " + ShellQuote(small));
}

// Workers decode ahead, but the files, their times and modes, the messages and the
// status are those of one thread: new files and replaced ones, a damaged entry
// (decoded again in its turn, which meets the damage), modes of every kind.
TEST_F(KestrelUnZipExtraction, ThreadsGiveTheSameResults) {
  if (!testsupport::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  const fs::path tree = folder.Path() / "tree";
  for (int i = 0; i < 400; ++i) {
    const fs::path file = tree / fs::path("d").concat(std::to_string(i % 7)) / fs::path("f").concat(std::to_string(i));
    fs::create_directories(file.parent_path());
    WriteFile(file, std::string(static_cast<std::size_t>(i * 97 % 5000), static_cast<char>('a' + i % 26)));
    fs::permissions(file, i % 3 == 0 ? fs::perms(0755) : i % 3 == 1 ? fs::perms(0444) : fs::perms(0640));
  }
  InTree("zip -q -r " + ShellQuote(folder / "a.zip") + " .");
  // One entry's data damaged: a byte of d4/f200's deflated data changed.
  RunShell(
      "python3 -c 'import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); i=z.getinfo(\"d4/f200\"); "
      "f=open(sys.argv[1],\"r+b\"); f.seek(i.header_offset+26); n=f.read(4); "
      "f.seek(i.header_offset+30+n[0]+n[1]*256+n[2]+n[3]*256+i.compress_size//2); b=f.read(1); "
      "f.seek(-1,1); f.write(bytes([b[0]^0x55]))' " +
      ShellQuote(folder / "a.zip"));
  const char* overwriteMode = "-n";
  auto listing = [&](const std::string& dest) {
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(folder.Path() / dest)) {
      struct stat st {};
      ::lstat(entry.path().c_str(), &st);
      // A folder that stands already keeps its time, as with unzip: the second
      // run's folders have the times of its replacements, not the same in both.
      const bool again = entry.is_directory() && std::string(overwriteMode) == "-o";
      lines.push_back(fs::relative(entry.path(), folder.Path() / dest).string() + " " + std::to_string(st.st_mode) +
                      " " + (again ? std::string() : std::to_string(st.st_mtim.tv_sec)) + " " +
                      std::to_string(st.st_size) + " " +
                      (entry.is_regular_file() ? testsupport::Sha256Hex(ReadFile(entry.path())) : ""));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  for (const char* overwrite : {"-n", "-o"}) {
    SCOPED_TRACE(overwrite);
    overwriteMode = overwrite;
    const auto one = Unzip({"--threads", "1", overwrite, folder / "a.zip", "-d", folder / "one"});
    const auto three = Unzip({"--threads=3", overwrite, folder / "a.zip", "-d", folder / "ttt"});
    EXPECT_EQ(one.Status, 2);
    EXPECT_NE(one.Err.find("d4/f200"), std::string::npos) << one.Err;
    EXPECT_EQ(three.Status, one.Status);
    // The lines name the destination: the same but for its name.
    std::string out = three.Out;
    for (std::size_t at; (at = out.find("/ttt/")) != std::string::npos;) out.replace(at, 5, "/one/");
    EXPECT_EQ(out, one.Out);
    EXPECT_EQ(three.Err, one.Err);
    EXPECT_EQ(listing("ttt"), listing("one"));
    EXPECT_EQ(listing("one").size(), 400u + 4u + 9u - 1u);
  }
}

TEST_F(KestrelUnZipExtraction, ArchiveFailuresAndUsage) {
  e2etest::CheckKestrelUnzipStatuses(e2etest::Native(KESTREL_UNZIP_EXE), folder.Path());
}

}  // namespace
