// KestrelUnZipAsUnzip: kestrel-unzip next to Info-ZIP unzip over one table of
// archives and options: the same files, the same exit status, and the same
// listing columns. Where the tool follows the component instead, the row says so.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/test_support.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using testsupport::RunProgram;

namespace {

struct TCase {
  std::string Archive;
  std::vector<std::string> Args;
  /// Files unzip writes and the tool does not: a damaged entry's (the tool removes
  /// what fails its CRC) and a climbing name's (the tool refuses it; unzip drops
  /// the "../").
  std::set<std::string> OnlyUnzipWrites = {};
  /// Extracted once with "-d out" before the command runs: for the overwrite options.
  bool Twice = false;
};

// Every entry below a folder, a file with the CRC-32 of its bytes ("path=crc"), a
// link with its target ("path -> target").
std::set<std::string> Tree(const fs::path& folder, const std::set<std::string>& leaveOut = {}) {
  std::set<std::string> tree;
  for (const std::string& entry : testsupport::EntriesBelow(folder)) {
    if (leaveOut.contains(entry)) continue;
    if (fs::is_symlink(folder / entry)) {
      tree.insert(entry + " -> " + fs::read_symlink(folder / entry).string());
      continue;
    }
    const bool file = fs::is_regular_file(folder / entry);
    tree.insert(file ? entry + "=" + std::to_string(ziptest::Crc32(testsupport::ReadFile(folder / entry))) : entry);
  }
  return tree;
}

class KestrelUnZipAsUnzip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::HaveCommand("unzip") || !testsupport::HaveCommand("zip"))
      GTEST_SKIP() << "Info-ZIP zip and unzip are needed";
    const fs::path tree = work_.Path() / "tree";
    testsupport::WriteSampleTree(tree, "\n");
    // Even seconds: the DOS time of an entry and the exact time unzip reads from
    // Info-ZIP's extra field then name the same minute.
    testsupport::ShellIn(tree, "find . -exec touch -d '2024-05-06 07:08:10' {} +");
    testsupport::ShellIn(tree, "zip -qr ../t.zip . && zip -q -P secret ../enc.zip readme docs/deep/text.txt");
    testsupport::ShellIn(tree, "zip -q -P secret ../mixed.zip readme && zip -q ../mixed.zip binary.bin");
    testsupport::ShellIn(tree,
                         "ln -s readme link && ln -s docs/deep deep && zip -qry ../links.zip readme docs link deep");
    testsupport::PythonZip(work_.Path() / "bz.zip", {{"ok.txt", "ok"}, {"b.txt", std::string(500, 'b'), "BZIP2"}});
    testsupport::WriteFile(work_.Path() / "ppmd.zip",
                           ziptest::BuildArchive({{"ok.txt", "ok"}, {.Name = "p.txt", .Data = "PPMd", .Method = 98}}));
    testsupport::PythonZip(
        work_.Path() / "evil.zip",
        {{"../escape.txt", "e"}, {"a/../../escape2.txt", "e2"}, {"/abs/x.txt", "x"}, {"ok.txt", "ok"}});
    testsupport::PythonZip(work_.Path() / "empty.zip", {});
    testsupport::PythonZip(work_.Path() / "comment.zip", {{"a.txt", "a"}}, {"DEFLATED", "the archive's comment"});
    // b.txt with one byte of its stored data changed: a CRC error.
    std::string bytes = ziptest::BuildArchive({{"a.txt", "alpha"}, {"b.txt", std::string(3000, 'b')}});
    bytes[bytes.find("b.txt") + 5 + 1000] ^= 0x01;
    testsupport::WriteFile(work_.Path() / "crc.zip", bytes);
    testsupport::WriteFile(work_.Path() / "plain.xml", "<p/>");
    // Names for the matching of members: cases, brackets and wildcards in names.
    std::vector<ziptest::TEntrySpec> names;
    for (const char* name : {"ABC.txt", "abc.txt", "bcd.TXT", "]x", "[a", "*star", "a]b", "src/a.c", "src/sub/b.c"})
      names.push_back({name, name});
    testsupport::WriteFile(work_.Path() / "names.zip", ziptest::BuildArchive(names));
  }

  // Runs one program in a fresh folder of its own; the archive by its full path.
  testsupport::TRunResult Run(const std::string& program, const TCase& c, const fs::path& folder) {
    fs::create_directories(folder);
    std::vector<std::string> args = c.Args;
    const std::string archive = (work_.Path() / c.Archive).string();
    std::replace(args.begin(), args.end(), std::string("@"), archive);
    if (c.Twice) RunProgram(program, {"-qq", archive, "-d", "out"}, folder.string(), "TZ=UTC");
    return RunProgram(program, args, folder.string(), "TZ=UTC");
  }

  testsupport::TTempFolder work_;
};

TEST_F(KestrelUnZipAsUnzip, SameFilesStatusesAndListings) {
  // "@" stands for the archive, as unzip wants it: after the options, before the members.
  const std::vector<TCase> cases = {
      // Extraction, members and exclusions.
      {"t.zip", {"@"}},
      {"t.zip", {"@", "-d", "out"}},
      {"t.zip", {"@", "readme", "-d", "out"}},
      // A selection of nothing leaves no empty folder behind, as unzip does.
      {"t.zip", {"@", "nothing", "-d", "out"}, {"out"}},
      {"t.zip", {"@", "readme", "nothing", "-d", "out"}},
      {"t.zip", {"@", "-x", "readme", "-d", "out"}},
      {"t.zip", {"@", "-x", "*", "-d", "out"}, {"out"}},
      {"t.zip", {"@", "readme", "-x", "readme"}},
      {"t.zip", {"-j", "@", "-d", "out"}},
      {"t.zip", {"-q", "@", "-d", "out"}},
      // Files that exist: asked without a terminal (kept), -n, -o, -u, -f.
      {"t.zip", {"@", "-d", "out"}, {}, true},
      {"t.zip", {"-n", "@", "-d", "out"}, {}, true},
      {"t.zip", {"-o", "@", "-d", "out"}, {}, true},
      {"t.zip", {"-u", "@", "-d", "out"}, {}, true},
      {"t.zip", {"-f", "@", "-d", "out"}, {}, true},
      {"t.zip", {"-uo", "@", "-d", "out"}, {}, true},
      {"t.zip", {"-f", "@", "-d", "out"}},
      // Members as unzip matches them: case counts unless -C; [...] classes with ! or
      // ^ (a "]" first closes the class); "\\" makes a wildcard plain; "*" runs
      // across "/"; an unterminated class matches nothing.
      {"names.zip", {"-l", "@", "[a-c]*"}},
      {"names.zip", {"-l", "@", "[!a]*", "-x", "[^s]*"}},
      {"names.zip", {"-l", "@", "*.TXT"}},
      {"names.zip", {"-l", "-C", "@", "*.TXT"}},
      {"names.zip", {"-l", "-C", "@", "[A-B]*"}},
      {"names.zip", {"-l", "@", "[]]*", "[!]]*"}},
      {"names.zip", {"-l", "@", "[a", "\\*star", "\\[a"}},
      {"names.zip", {"-l", "@", "*.c", "src/*"}},
      {"names.zip", {"@", "*.txt", "-d", "out"}},
      {"names.zip", {"-C", "@", "*.txt", "-d", "out"}},
      {"names.zip", {"@", "-x", "ABC*", "-d", "out"}},
      {"names.zip", {"-C", "@", "-x", "ABC*", "[!a-z]*", "-d", "out"}},
      // Listings and tests.
      {"t.zip", {"-l", "@"}},
      {"t.zip", {"-v", "@"}},
      {"t.zip", {"-Z1", "@"}},
      {"t.zip", {"-l", "@", "readme", "docs/*"}},
      {"t.zip", {"-v", "@", "-x", "readme"}},
      {"t.zip", {"-l", "@", "nothing"}},
      {"t.zip", {"-lq", "@"}},
      {"t.zip", {"-lqq", "@"}},
      {"t.zip", {"-vqq", "@"}},
      {"t.zip", {"-t", "@"}},
      {"t.zip", {"-tq", "@", "readme"}},
      {"t.zip", {"-p", "@", "readme", "docs/deep/text.txt"}},
      {"comment.zip", {"-l", "@"}},
      {"comment.zip", {"-v", "@"}},
      // Symbolic links, made anew over the ones of a first run.
      {"links.zip", {"@", "-d", "out"}},
      {"links.zip", {"-o", "@", "-d", "out"}, {}, true},
      {"links.zip", {"-l", "@"}},
      // Passwords.
      {"enc.zip", {"-P", "secret", "@", "-d", "out"}},
      {"enc.zip", {"-P", "wrong", "@", "-d", "out"}},
      {"enc.zip", {"-P", "wrong", "-t", "@"}},
      {"enc.zip", {"-v", "@"}},
      {"mixed.zip", {"-P", "wrong", "@", "-d", "out"}},
      // What neither decodes, damage, hostile names, no archive.
      {"bz.zip", {"@", "-d", "out"}},
      {"bz.zip", {"-v", "@"}},
      {"ppmd.zip", {"@", "-d", "out"}},
      {"ppmd.zip", {"-t", "@"}},
      {"ppmd.zip", {"-v", "@"}},
      {"crc.zip", {"@", "-d", "out"}, {"out/b.txt"}},
      {"crc.zip", {"-t", "@"}},
      {"evil.zip", {"@", "-d", "out"}, {"out/escape.txt", "out/a", "out/a/escape2.txt"}},
      {"evil.zip", {"-t", "@"}},
      {"empty.zip", {"-l", "@"}},
      {"empty.zip", {"@", "-d", "out"}},
      {"plain.xml", {"@", "-d", "out"}},
      {"plain.xml", {"-l", "@"}},
      {"missing.zip", {"@", "-d", "out"}},
      {"t.zip", {"-Y", "@"}},
  };
  int n = 0;
  for (const TCase& c : cases) {
    std::string label = c.Archive;
    for (const std::string& arg : c.Args) label += " " + arg;
    SCOPED_TRACE(label);
    const fs::path unzipFolder = work_.Path() / ("unzip-" + std::to_string(n));
    const fs::path ourFolder = work_.Path() / ("ours-" + std::to_string(n++));
    const auto theirs = Run("unzip", c, unzipFolder);
    const auto ours = Run(KESTREL_UNZIP_EXE, c, ourFolder);
    EXPECT_EQ(ours.Status, theirs.Status) << ours.Err;
    EXPECT_EQ(Tree(ourFolder), Tree(unzipFolder, c.OnlyUnzipWrites));
    for (const std::string& name : c.OnlyUnzipWrites) EXPECT_TRUE(fs::exists(unzipFolder / name)) << name;
    // Listings and -p column for column; unzip's lines about each extracted or
    // tested entry are not the tool's (it shows progress on a terminal instead).
    const std::string& first = c.Args.front();
    const bool listing = first.starts_with("-l") || first.starts_with("-v") || first == "-Z1" || first == "-p";
    if (listing) {
      EXPECT_EQ(ours.Out, theirs.Out);
    }
  }
}

// A write that fails (the file-size limit here, as a full disk) ends the run as a
// full disk does, and the file that stood there stays whole.
TEST(KestrelUnZipReplacing, FailedWriteKeepsTheExistingFile) {
  testsupport::TTempFolder folder;
  testsupport::WriteFile(folder / "big.zip", ziptest::BuildArchive({{"big.txt", std::string(200000, 'b')}}));
  testsupport::WriteFile(folder / "big.txt", "old");
  const auto run = RunProgram("sh", {"-c", "ulimit -f 64 && exec \"$0\" -o \"$1\" -d \"$2\"", KESTREL_UNZIP_EXE,
                                     folder / "big.zip", folder.Path().string()});
  EXPECT_EQ(run.Status, 50) << run.Err;
  EXPECT_EQ(testsupport::ReadFile(folder / "big.txt"), "old");
  EXPECT_EQ(testsupport::FilesBelow(folder.Path()), (std::set<std::string>{"big.txt", "big.zip"}));
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

// Two central headers at one local header: the entry that header names comes
// out, the other is left out with the reason, and both are listed.
TEST(KestrelUnZipListing, EntriesSharingALocalHeader) {
  testsupport::TTempFolder folder;
  const ziptest::TEntrySpec a{"a.txt", "alpha"}, b{"b.txt", "bravo"};
  const std::string body = ziptest::LocalHeader(a) + a.Data + ziptest::LocalHeader(b) + b.Data;
  const std::string central = ziptest::CentralHeader(b, 0) + ziptest::CentralHeader(a, 0);
  ziptest::TEndSpec end;
  end.TotalEntries = end.EntriesThisDisk = 2;
  end.CentralDirOffset = static_cast<std::uint32_t>(body.size());
  testsupport::WriteFile(folder / "dup.zip", body + central + ziptest::EndRecord(end));
  auto run = RunProgram(KESTREL_UNZIP_EXE, {"-Z1", folder / "dup.zip"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "a.txt\nb.txt\n");
  run = RunProgram(KESTREL_UNZIP_EXE, {folder / "dup.zip", "-d", folder / "out"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Err, "kestrel-unzip: " + folder / "dup.zip" +
                         ": b.txt: skipped: its data overlaps a.txt (the archive is damaged or a zip bomb)\n");
  EXPECT_EQ(testsupport::ReadFile(folder / "out/a.txt"), "alpha");
}

}  // namespace

// The usage names the methods the component decodes, from its table of methods:
// its own decoders first, then those of the libraries, library by library.
TEST(KestrelUnZipUsage, NamesTheDecodedMethods) {
  const auto run = RunProgram(KESTREL_UNZIP_EXE, {"-h"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Out.find("arrive. Decodes stored, shrunk,\n"
                         "reduced, imploded, deflated, Deflate64, bzip2, LZMA, xz and Zstandard entries,\n"
                         "traditional and WinZip AES encryption;"),
            std::string::npos)
      << run.Out;
}
