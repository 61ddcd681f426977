// KestrelUnZipAsUnzip: kestrel-unzip next to Info-ZIP unzip over one table of
// archives and options: the same files, the same exit status, and the same
// listing columns. Where the tool follows the component instead, the row says so.

#include <gtest/gtest.h>
#include <sys/stat.h>

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
  /// Lines of unzip's stdout (whitespace collapsed) that the tool does not print:
  /// unzip's words for damage the tool says on stderr in its own.
  std::set<std::string> OnlyUnzipPrints = {};
  /// The times and owners of files and folders are compared too (a time of the
  /// run itself as "new"): for the options about them.
  bool Times = false;
};

// The lines of a run over several archives, blank ones left out, in sorted order:
// unzip takes the archives in the order their folder lists them, the tool in
// sorted order.
std::vector<std::string> SortedLines(std::vector<std::string> lines) {
  std::erase(lines, std::string());
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The lines of a text with every run of blanks made one blank, and none at either end.
std::vector<std::string> CollapsedLines(const std::string& text, const std::set<std::string>& leaveOut = {}) {
  std::vector<std::string> lines;
  std::string line;
  bool blank = false;
  const auto end = [&] {
    if (!leaveOut.contains(line)) lines.push_back(line);
    line.clear();
    blank = false;
  };
  for (const char c : text) {
    if (c == '\n') {
      end();
    } else if (c == ' ' || c == '\t' || c == '\r') {
      blank = !line.empty();
    } else {
      if (blank) line += ' ';
      blank = false;
      line += c;
    }
  }
  if (!line.empty()) end();
  return lines;
}

// Every entry below a folder, a file with the CRC-32 of its bytes ("path=crc"), a
// link with its target ("path -> target"); files and folders with their
// permission bits, and with times their last-write time and owner.
std::set<std::string> Tree(const fs::path& folder, const std::set<std::string>& leaveOut = {}, bool times = false) {
  std::set<std::string> tree;
  for (const std::string& entry : testsupport::EntriesBelow(folder)) {
    if (leaveOut.contains(entry)) continue;
    if (fs::is_symlink(folder / entry)) {
      tree.insert(entry + " -> " + fs::read_symlink(folder / entry).string());
      continue;
    }
    const bool file = fs::is_regular_file(folder / entry);
    std::string line =
        file ? entry + "=" + std::to_string(ziptest::Crc32(testsupport::ReadFile(folder / entry))) : entry;
    struct stat st {};
    ::lstat((folder / entry).c_str(), &st);
    line += " mode " + std::to_string(st.st_mode & 07777);
    // Every archive's times lie before 2025.
    if (times)
      line += " time " + (st.st_mtim.tv_sec < 1735689600 ? std::to_string(st.st_mtim.tv_sec) : std::string("new")) +
              " owner " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
    tree.insert(line);
  }
  return tree;
}

// An archive of what the options about text, names, modes, owners and times
// act on: a drwx------ folder with an owner, a text entry with CR LF, a lone CR
// and Ctrl-Z, a binary one alike, names of MS-DOS (upper case, read-only), set-uid
// and set-gid bits, a folder entry after its own file.
constexpr const char* OptionsArchiveScript = R"(python3 - <<'EOF'
import struct, zipfile
z = zipfile.ZipFile('opts.zip', 'w', zipfile.ZIP_DEFLATED)
def add(name, data, attr, system=3, text=0, when=(2024, 5, 6, 7, 8, 10), owner=None):
    info = zipfile.ZipInfo(name, when)
    info.create_system, info.external_attr, info.internal_attr = system, attr, text
    info.compress_type = zipfile.ZIP_DEFLATED
    if owner:
        info.extra = struct.pack('<HHBBIBI', 0x7875, 11, 1, 4, owner[0], 4, owner[1])
    z.writestr(info, data)
add('priv/', b'', (0o40700 << 16) | 0x10, when=(2023, 1, 2, 3, 4, 6), owner=(1234, 2345))
add('priv/a.txt', b'line1\r\nline2\r\nold\rmac\r\n\x1a', 0o100644 << 16, text=1, owner=(3456, 4567))
add('bin.dat', b'a\r\nb\r\n\x00\x1a', 0o100755 << 16)
add('README.TXT', b'DOS\r\ntext\r\n\x1a', 0x20, system=0, text=1)
add('DIR/SUB.TXT', b'x', 0x21, system=0)
add('Mixed.Txt', b'x', 0x20, system=0)
add('suid', b'#!/bin/sh\n', 0o104755 << 16)
add('sg/', b'', (0o42750 << 16) | 0x10, when=(2022, 2, 2, 2, 2, 2))
add('ro.txt', b'r', 0o100400 << 16)
add('late/f', b'f', 0o100644 << 16)
add('late/', b'', (0o40700 << 16) | 0x10)
add('beos-link', b'late/f', 0o120777 << 16, system=16)
add('fat-link', b'late/f', 0o120777 << 16, system=0)
z.close()
EOF)";

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
    testsupport::PythonZip(work_.Path() / "folders.zip", {{"x/", ""}, {"x/y/", ""}});
    testsupport::PythonZip(work_.Path() / "comment.zip", {{"a.txt", "a"}}, {"DEFLATED", "the archive's comment"});
    // b.txt with one byte of its stored data changed: a CRC error.
    std::string bytes = ziptest::BuildArchive({{"a.txt", "alpha"}, {"b.txt", std::string(3000, 'b')}});
    bytes[bytes.find("b.txt") + 5 + 1000] ^= 0x01;
    testsupport::WriteFile(work_.Path() / "crc.zip", bytes);
    testsupport::WriteFile(work_.Path() / "plain.xml", "<p/>");
    // Several archives for one name with wildcards: read, empty, no archive, damaged.
    fs::create_directories(work_.Path() / "multi");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{{"comment.zip", "a.zip"},
                                                                                   {"t.zip", "b.zip"},
                                                                                   {"empty.zip", "c.zip"},
                                                                                   {"plain.xml", "d.zip"},
                                                                                   {"crc.zip", "e.zip"}})
      fs::copy_file(work_.Path() / from, work_.Path() / "multi" / to);
    // Names for the matching of members: cases, brackets and wildcards in names.
    std::vector<ziptest::TEntrySpec> names;
    for (const char* name : {"ABC.txt", "abc.txt", "bcd.TXT", "]x", "[a", "*star", "a]b", "src/a.c", "src/sub/b.c"})
      names.push_back({name, name});
    testsupport::WriteFile(work_.Path() / "names.zip", ziptest::BuildArchive(names));
    testsupport::ShellIn(work_.Path(), OptionsArchiveScript);
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
  // What unzip -t says on stdout of the archives in multi/ that the tool says on stderr.
  const std::set<std::string> unzipTestSays = {"warning [%/multi/c.zip]: zipfile is empty",
                                               "[%/multi/d.zip]",
                                               "End-of-central-directory signature not found. Either this file is not",
                                               "a zipfile, or it constitutes one disk of a multi-part archive. In the",
                                               "latter case the central directory and zipfile comment will be found on",
                                               "the last disk(s) of this archive."};
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
      {"t.zip", {"-t", "@", "-x", "*"}},
      {"t.zip", {"-t", "@", "readme", "nothing"}, {}, false, {"caution: filename not matched: nothing"}},
      {"t.zip", {"-p", "@", "readme", "docs/deep/text.txt"}},
      {"comment.zip", {"-l", "@"}},
      {"comment.zip", {"-v", "@"}},
      // Symbolic links, made anew over the ones of a first run.
      {"links.zip", {"@", "-d", "out"}},
      {"links.zip", {"-o", "@", "-d", "out"}, {}, true},
      {"links.zip", {"-l", "@"}},
      {"links.zip", {"-v", "@"}},
      // Passwords.
      {"enc.zip", {"-P", "secret", "@", "-d", "out"}},
      {"enc.zip", {"-P", "wrong", "@", "-d", "out"}},
      // unzip -t says on stdout what it skips; the tool on stderr.
      {"enc.zip",
       {"-P", "wrong", "-t", "@"},
       {},
       false,
       {"skipping: readme incorrect password", "skipping: docs/deep/text.txt incorrect password"}},
      {"enc.zip", {"-v", "@"}},
      {"mixed.zip", {"-P", "wrong", "@", "-d", "out"}},
      // What neither decodes, damage, hostile names, no archive.
      {"bz.zip", {"@", "-d", "out"}},
      {"bz.zip", {"-v", "@"}},
      {"ppmd.zip", {"@", "-d", "out"}},
      {"ppmd.zip", {"-t", "@"}, {}, false, {"skipping: p.txt `PPMd' method not supported"}},
      {"ppmd.zip", {"-v", "@"}},
      {"crc.zip", {"@", "-d", "out"}, {"out/b.txt"}, false, {"extracting: out/b.txt"}},
      {"crc.zip", {"-t", "@"}},
      {"evil.zip",
       {"@", "-d", "out"},
       {"out/escape.txt", "out/a", "out/a/escape2.txt"},
       false,
       {"warning: skipped \"../\" path component(s) in ../escape.txt", "extracting: out/escape.txt",
        "warning: skipped \"../\" path component(s) in a/../../escape2.txt", "extracting: out/a/escape2.txt"}},
      {"evil.zip", {"-t", "@"}},
      {"empty.zip", {"-l", "@"}},
      {"empty.zip", {"@", "-d", "out"}},
      // Folders alone: made, each with its line.
      {"folders.zip", {"@", "-d", "out"}},
      {"folders.zip", {"-t", "@"}},
      {"plain.xml", {"@", "-d", "out"}},
      {"plain.xml", {"-l", "@"}},
      {"missing.zip", {"@", "-d", "out"}},
      // -c: each entry's bytes after its line; -z: the comment alone.
      {"t.zip", {"-c", "@"}},
      {"t.zip", {"-c", "@", "readme", "docs/*"}},
      {"t.zip", {"-cq", "@"}},
      {"comment.zip", {"-c", "@"}},
      {"links.zip", {"-c", "@"}},
      {"comment.zip", {"-z", "@"}},
      {"comment.zip", {"-zq", "@"}},
      {"comment.zip", {"-z", "@", "nothing"}},
      {"t.zip", {"-z", "@"}},
      {"empty.zip", {"-z", "@"}},
      {"plain.xml", {"-z", "@"}},
      {"comment.zip", {"@", "-d", "out"}},
      {"comment.zip", {"-t", "@"}},
      // A name with wildcards: the archives it matches, each in turn, and the counts.
      {"multi/*.zip", {"-t", "@"}, {}, false, unzipTestSays},
      {"multi/*.zip", {"-tq", "@"}, {}, false, unzipTestSays},
      {"multi/*.zip", {"-l", "@"}},
      {"multi/*.zip", {"-z", "@"}},
      {"multi/[a-d].zip", {"@", "-d", "out"}},
      {"multi/[ab].zip", {"-q", "@", "readme", "-d", "out"}},
      {"multi/?.zip", {"-p", "@", "readme"}},
      {"multi/[ab].zip", {"-Z1", "@"}},
      {"t*.zip", {"-t", "@"}},
      {"multi/x*.zip", {"-t", "@"}, {}, false, {"unzip: cannot find or open @, @.zip or @.ZIP."}},
      {"t.zip", {"-Y", "@"}},
      // zipinfo mode.
      {"t.zip", {"-Z", "@"}},
      {"t.zip", {"-Zm", "@"}},
      {"t.zip", {"-Z", "-l", "@"}},
      {"t.zip", {"-Z", "-v", "@"}},
      {"t.zip", {"-Z", "-2", "-h", "-t", "@"}},
      {"t.zip", {"-Zh", "@"}},
      {"t.zip", {"-Zt", "@", "readme"}},
      {"t.zip", {"-Z", "-T", "@", "-x", "readme"}},
      {"t.zip", {"-Z", "@", "nothing"}},
      {"t.zip", {"-Z", "-s", "@", "docs/*"}},
      {"comment.zip", {"-Z", "-z", "@"}},
      {"comment.zip", {"-Z", "-v", "@"}},
      {"comment.zip", {"-Z", "-2", "-z", "@", "a.txt"}},
      {"enc.zip", {"-Zm", "@"}},
      // A data descriptor between two entries; the test zip builder's MS-DOS
      // attributes and a method unzip does not decode.
      {"mixed.zip", {"-Z", "-v", "@"}},
      {"ppmd.zip", {"-Zl", "@"}},
      {"ppmd.zip", {"-Z", "-v", "@"}},
      {"evil.zip", {"-Z", "-T", "@"}},
      {"links.zip", {"-Z", "-l", "@"}},
      {"links.zip", {"-Z", "-v", "@", "link"}},
      {"bz.zip", {"-Z", "@"}},
      {"bz.zip", {"-Z", "-v", "@"}},
      {"empty.zip", {"-Z", "@"}},
      {"empty.zip", {"-Z1", "@"}},
      {"empty.zip", {"-Z", "-v", "@"}},
      {"plain.xml", {"-Z", "-h", "@"}},
      {"missing.zip", {"-Z", "@"}},
      // Text, names, modes, owners and times.
      {"opts.zip", {"@", "-d", "out"}, {}, false, {}, true},
      {"opts.zip", {"-o", "@", "-d", "out"}, {}, true, {}, true},
      {"opts.zip", {"-a", "@", "-d", "out"}},
      {"opts.zip", {"-aa", "@", "-d", "out"}},
      {"opts.zip", {"-p", "-a", "@"}},
      {"opts.zip", {"-p", "-aa", "@", "bin.dat"}},
      {"opts.zip", {"-L", "@", "-d", "out"}},
      {"opts.zip", {"-LL", "@", "-d", "out"}},
      {"opts.zip", {"-l", "-L", "@"}},
      // Members match the names as -L makes them.
      {"opts.zip", {"-L", "@", "readme.txt", "-d", "out"}},
      {"opts.zip", {"-l", "-L", "@", "README.TXT"}},
      {"opts.zip", {"-Z", "@", "readme.txt"}},
      {"opts.zip", {"-Z", "-C", "@", "readme.txt"}},
      {"opts.zip", {"-v", "-LL", "@"}},
      {"opts.zip", {"-X", "@", "-d", "out"}, {}, false, {}, true},
      {"opts.zip", {"-K", "@", "-d", "out"}},
      {"opts.zip", {"-XK", "@", "-d", "out"}, {}, false, {}, true},
      {"opts.zip", {"-D", "@", "-d", "out"}, {}, false, {}, true},
      {"opts.zip", {"-DD", "@", "-d", "out"}, {}, false, {}, true},
      {"links.zip", {"-DD", "@", "-d", "out"}, {}, false, {}, true},
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
    EXPECT_EQ(Tree(ourFolder, {}, c.Times), Tree(unzipFolder, c.OnlyUnzipWrites, c.Times));
    for (const std::string& name : c.OnlyUnzipWrites) EXPECT_TRUE(fs::exists(unzipFolder / name)) << name;
    // Every line of stdout, listings, extractions and tests alike; -p byte for byte.
    std::set<std::string> onlyUnzip;
    for (std::string line : c.OnlyUnzipPrints) {
      for (std::size_t at; (at = line.find('@')) != std::string::npos;) line.replace(at, 1, work_.Path() / c.Archive);
      for (std::size_t at; (at = line.find('%')) != std::string::npos;) line.replace(at, 1, work_.Path());
      onlyUnzip.insert(line);
    }
    if (c.Args.front() == "-p")
      EXPECT_EQ(ours.Out, theirs.Out);
    else if (c.Args.front().starts_with("-Z") && c.Archive == "missing.zip")
      // zipinfo's message for a missing archive goes to stdout, the tool's to stderr.
      continue;
    else if (c.Archive.starts_with("multi/"))
      EXPECT_EQ(SortedLines(CollapsedLines(ours.Out)), SortedLines(CollapsedLines(theirs.Out, onlyUnzip)));
    else
      EXPECT_EQ(CollapsedLines(ours.Out), CollapsedLines(theirs.Out, onlyUnzip));
  }
}

// --json: one JSON object a line, each read back by Python's json module (which
// refuses a raw control character or bytes that are not UTF-8): a folder and
// links, traditional and AES encryption, a name that is not UTF-8 (its bytes in
// hex beside it), a quote and an escape character, the exact time of an
// extended timestamp and the DOS time as written, the members and -qq.
TEST_F(KestrelUnZipAsUnzip, JsonLinesForScripts) {
  // The extended timestamp (0x5455) of 2024-05-06T07:08:10Z.
  const std::string exactTime("\x55\x54\x05\x00\x01\xda\x81\x38\x66", 9);
  // The NTFS field (0x000a) of 1960-02-29T12:00:00.5Z: before 1970, with a fraction.
  const std::string ntfs = std::string("\x0a\x00\x20\x00\0\0\0\0\x01\x00\x18\x00\x40\x2b\x1e\xfa\x15\xaa\x92\x01", 20) +
                           std::string(16, '\0');
  // AES-256 over deflated data (0x9901).
  const std::string aes(
      "\x01\x99\x07\x00\x02\x00"
      "AE\x03\x08\x00",
      11);
  testsupport::WriteFile(
      work_.Path() / "json.zip",
      ziptest::BuildArchive({{.Name = "caf\xe9.txt", .Data = "c"},
                             {.Name = "say \"hi\"\x1b.txt", .Data = "q", .Comment = "its comment"},
                             {.Name = "when.txt", .Data = "w", .CentralExtra = exactTime, .LocalExtra = exactTime},
                             {.Name = "old.txt", .Data = "o", .CentralExtra = ntfs, .LocalExtra = ntfs},
                             {.Name = "secret.bin",
                              .Data = std::string(30, 's'),
                              .Method = 99,
                              .Flags = 1,
                              .CentralExtra = aes,
                              .LocalExtra = aes}}));
  const fs::path out = work_.Path() / "json.out";
  const auto fields = [&](const std::vector<std::string>& args, const std::string& extra = "") {
    std::vector<std::string> words = args;
    std::replace(words.begin(), words.end(), std::string("@"), (work_.Path() / "json.zip").string());
    std::replace(words.begin(), words.end(), std::string("@*"), (work_.Path() / "json*.zip").string());
    const auto run = RunProgram(KESTREL_UNZIP_EXE, words, {}, "TZ=UTC");
    EXPECT_EQ(run.Err.find("kestrel-unzip:"), std::string::npos) << run.Err;
    testsupport::WriteFile(out, run.Out);
    const auto read = RunProgram(
        "python3", {"-c",
                    "import json, sys\n"
                    "sys.stdout.reconfigure(encoding='utf-8')\n"
                    "names = 'name kind encrypted method_name link_target name_bytes mode comment ' + sys.argv[2]\n"
                    "for line in open(sys.argv[1], encoding='utf-8'):\n"
                    "  o = json.loads(line)\n"
                    "  print('|'.join(str(o.get(n, '-')) for n in names.split()))\n",
                    out.string(), extra});
    EXPECT_EQ(read.Status, 0) << read.Err << run.Out;
    return std::make_pair(run.Status, read.Out);
  };
  EXPECT_EQ(fields({"--json", "@"}, "time"),
            std::make_pair(0, std::string("caf\xEF\xBF\xBD.txt|file|False|stored|-|636166e92e747874|0644||"
                                          "2025-01-14T12:00:00\n"
                                          "say \"hi\"\x1b.txt|file|False|stored|-|-|0644|its comment|"
                                          "2025-01-14T12:00:00\n"
                                          "when.txt|file|False|stored|-|-|0644||2024-05-06T07:08:10Z\n"
                                          "old.txt|file|False|stored|-|-|0644||1960-02-29T12:00:00.5Z\n"
                                          "secret.bin|file|aes-256|deflated|-|-|0644||2025-01-14T12:00:00\n")));
  // The members and exclusions choose as with -l; -qq changes nothing.
  EXPECT_EQ(fields({"-qq", "--json", "-v", "@", "*.txt", "-x", "c*", "o*"}).second,
            "say \"hi\"\x1b.txt|file|False|stored|-|-|0644|its comment\nwhen.txt|file|False|stored|-|-|0644|\n");
  testsupport::WriteFile(work_.Path() / "json.zip", testsupport::ReadFile(work_.Path() / "links.zip"));
  const auto links = fields({"--json", "-l", "@", "link", "deep", "docs/"}).second;
  EXPECT_EQ(links,
            "docs/|directory|False|stored|-|-|0755|\nlink|symlink|False|stored|readme|-|0777|\n"
            "deep|symlink|False|stored|docs/deep|-|0777|\n");
  testsupport::WriteFile(work_.Path() / "json.zip", testsupport::ReadFile(work_.Path() / "enc.zip"));
  // zipinfo mode gives the same objects.
  EXPECT_EQ(fields({"-Z", "-v", "--json", "@", "readme"}).second.substr(0, 23), "readme|file|traditional");
  // Several archives: their lines one after the other, without a blank line.
  testsupport::WriteFile(work_.Path() / "json2.zip", testsupport::ReadFile(work_.Path() / "links.zip"));
  EXPECT_EQ(fields({"--json", "@*", "readme"}, "archive").second,
            "readme|file|traditional|stored|-|-|0644||" + (work_.Path() / "json.zip").string() +
                "\nreadme|file|False|stored|-|-|0644||" + (work_.Path() / "json2.zip").string() + "\n");
}

// -T extracts nothing and gives the archive the time of its newest selected file,
// folders left out, as unzip does; a selection without a file leaves it alone.
TEST_F(KestrelUnZipAsUnzip, TimestampsTheArchive) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-T", "opts.zip"}, {"-T", "opts.zip", "-x", "priv/*"}, {"-qT", "opts.zip", "sg/"}}) {
    SCOPED_TRACE(args.back());
    std::vector<testsupport::TRunResult> runs;
    std::vector<std::set<std::string>> trees;
    for (const std::string& program : {std::string("unzip"), std::string(KESTREL_UNZIP_EXE)}) {
      const fs::path folder = work_.Path() / ("stamp-" + std::to_string(runs.size()));
      fs::remove_all(folder);
      fs::create_directories(folder);
      fs::copy_file(work_.Path() / "opts.zip", folder / "opts.zip");
      runs.push_back(RunProgram(program, args, folder.string(), "TZ=UTC"));
      trees.push_back(Tree(folder, {"opts.zip"}, true));
      struct stat st {};
      ::stat((folder / "opts.zip").c_str(), &st);
      trees.back().insert("archive time " + std::to_string(st.st_mtim.tv_sec < 1735689600 ? st.st_mtim.tv_sec : 0));
    }
    EXPECT_EQ(runs[1].Status, runs[0].Status) << runs[1].Err;
    EXPECT_EQ(runs[1].Out, runs[0].Out);
    EXPECT_EQ(trees[1], trees[0]);
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
