#include "tests/support/end_to_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "tests/unzip/zip_builder.h"

namespace fs = std::filesystem;

namespace e2etest {
namespace {

// The tokens of a row replaced, and "\n" made the program's line end when lineEnd
// is given.
std::string Expand(std::string text, const TProgram& program, const fs::path& work, const fs::path& chm,
                   const std::string& lineEnd = "\n") {
  for (std::size_t at; (at = text.find("{chm}")) != std::string::npos;) text.replace(at, 5, program.Path(chm));
  for (std::size_t at; (at = text.find("{@")) != std::string::npos;) {
    const std::size_t end = text.find('}', at);
    const std::string name = text.substr(at + 2, end - at - 2);
    text.replace(at, end + 1 - at, program.Path(name.empty() ? work : work / name));
  }
  std::string out;
  for (const char c : text) out += c == '\n' ? lineEnd : std::string(1, c);
  return out;
}

// "..." at the end of expected asks only for its start (or, where other text may
// come in between, for the text anywhere).
void ExpectText(const std::string& actual, const std::string& expected, bool exact, const std::string& lineEnd,
                const char* what) {
  if (expected.ends_with("...")) {
    const std::string start = expected.substr(0, expected.size() - 3);
    EXPECT_TRUE(exact ? actual.starts_with(start) : actual.find(start) != std::string::npos) << what << ": " << actual;
  } else if (exact) {
    EXPECT_EQ(actual, expected) << what;
  } else {
    // Each expected line as a whole line of the text.
    for (std::size_t at = 0, end; (end = expected.find(lineEnd, at)) != std::string::npos; at = end + lineEnd.size()) {
      const std::string line = expected.substr(at, end + lineEnd.size() - at);
      const std::size_t found = ("\n" + actual).find("\n" + line);
      EXPECT_NE(found, std::string::npos) << what << " lacks the line " << line << ": " << actual;
    }
  }
}

std::string Hex8(std::uint32_t value) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value));
  return hex;
}

}  // namespace

TProgram Native(const std::string& exe, const std::string& environment) {
  TProgram program;
  program.Run = [exe, environment](const std::vector<std::string>& args, const fs::path& work) {
    return testsupport::RunProgram(exe, args, work.string(), environment);
  };
  program.Path = [](const fs::path& path) { return path.string(); };
  return program;
}

void RunRows(const TProgram& program, const fs::path& work, const std::vector<TRow>& rows, const fs::path& chm) {
  for (const TRow& row : rows) {
    std::vector<std::string> args;
    std::string label;
    for (const std::string& arg : row.Args) {
      args.push_back(Expand(arg, program, work, chm));
      label += "[" + arg + "]";
    }
    SCOPED_TRACE(label);
    const auto run = program.Run(args, work);
    EXPECT_EQ(run.Status, row.Status) << run.Err;
    ExpectText(run.Out, Expand(row.Out, program, work, chm, program.LineEnd), true, program.LineEnd, "stdout");
    ExpectText(run.Err, Expand(row.Err, program, work, chm, program.LineEnd), program.ExactErr, program.LineEnd,
               "stderr");
    for (const std::string& name : row.Absent) EXPECT_FALSE(fs::exists(work / name)) << name;
    for (const std::string& name : row.Present) EXPECT_TRUE(fs::exists(work / name)) << name;
  }
}

void CheckCorvaneStatuses(const TProgram& corvane, const fs::path& work) {
  testsupport::WriteFile(work / "view.xsl", "<xsl/>");
  testsupport::WriteFile(work / "d.xml", "<?xml version=\"1.0\"?><d/>");
  testsupport::WriteFile(work / "plain.txt", "no markup at all");
  // Files that are no XML, and XML that only looks odd at its start.
  testsupport::WriteFile(work / "pic.png", "\x89PNG\r\n\x1A\n<d/>");
  testsupport::WriteFile(work / "doc.pdf", "%PDF-1.4\n1 0 obj <</Type /Catalog>> endobj\n");
  testsupport::WriteFile(work / "bin.xml", "\177ELF\x02\x01<d/>");
  testsupport::WriteFile(work / "utf16.xml", std::string("\xFF\xFE<\0d\0/\0>\0", 10));
  testsupport::WriteFile(work / "koi8.xml",
                         "\xEF\xBB\xBF \r\n<?xml version=\"1.0\" encoding=\"koi8-r\"?><d>\xF0\xD2\xC9</d>");
  const std::string usage =
      "CORVANE Ver.1.0\nConverts XML documents to HTML using XSL templates\n\nUsage:\n"
      "  CORVANE.EXE <FileName> <XSL_Template> <Folder_to_put>\n"
      "  CORVANE.EXE <FileName> <XSL_Template> <Folder_to_put> <Extract>\n"
      "               <Extract>: any value: also write the embedded images\n"
      "  CORVANE.EXE --html ...  also writes the HTML page itself (NAME.html)\n"
      "  CORVANE.EXE --flat ...  gives the template a package whole (flat ODF, Flat OPC),\n"
      "               its images in NAME_files\n"
      "  CORVANE.EXE --help | --version\n"
      "  <FileName> \"-\" reads the document or package from standard input;\n"
      "  the copy is then stdin.XML.\n"
      "  A document whose name begins with \"-\" is given as ./-name.\n\n"
      "Pages out of the box: a template by its short name is one of those installed\n"
      "with corvane (share/corvane beside its program folder). One line per kind:\n"
      "  corvane --html --flat report.docx docx out 1\n"
      "  corvane --html --flat budget.xlsx xlsx out 1\n"
      "  corvane --html --flat slides.pptx pptx out 1\n"
      "  corvane --html --flat report.odt odt out 1\n"
      "  corvane --html --flat budget.ods ods out 1\n"
      "  corvane --html --flat slides.odp odp out 1\n"
      "  corvane --html --flat book.fb2 fb2 out 1\n"
      "  corvane --html --flat book.fb2.zip fb2 out 1\n"
      "  corvane --html --flat book.epub epub out 1\n"
      "\n";
  const std::string noMarkup = "corvane: plain.txt: the document has no markup (no \"<\" followed by \">\")\n";
  const std::string missingTemplate = "Warning! The xsl(t) template missing.xsl does not exist!\n";
  const std::string wontRender =
      "corvane: the copy refers to the template {@missing.xsl}, which cannot be read: its "
      "page will not render until the template is there\n";
  RunRows(corvane, work,
          {
              // Missing or empty arguments: the usage text and no output folder.
              {{}, 1, usage, "", {"out"}},
              {{"d.xml", "view.xsl"}, 1, usage, "", {"out"}},
              {{"a.xml", "view.xsl"}, 1, usage, "", {"out"}},
              {{"a.xml", "", "out"}, 1, usage, "", {"out"}},
              {{"d.xml", "", "out", "1"}, 1, usage, "", {"out"}},
              {{"", "view.xsl", "out", "x"}, 1, usage, "", {"out"}},
              // Options come before the documents; an unknown one is no document.
              {{"--help"}, 0, usage, ""},
              {{"--html", "--help", "d.xml"}, 0, usage, ""},
              {{"--version"}, 0, "corvane ...", ""},
              {{"--bogus", "view.xsl", "out"},
               1,
               usage,
               "corvane: unknown option --bogus (a document whose name begins with \"-\" is given as ./--bogus)\n",
               {"out"}},
              // Options stand anywhere, the unknown one too.
              {{"d.xml", "view.xsl", "--version"}, 0, "corvane ...", ""},
              {{"d.xml", "view.xsl", "out", "--bogus"}, 1, usage, "corvane: unknown option --bogus ...", {"out"}},
              // A file that is no XML leaves nothing: no copy, page, payload or folder.
              {{"pic.png", "view.xsl", "new/out", "1"},
               2,
               "Conversion failed!\n",
               "corvane: pic.png: the file is a PNG image, not XML\n",
               {"new"}},
              {{"--html", "doc.pdf", "view.xsl", "new"},
               2,
               "Conversion failed!\n",
               "corvane: doc.pdf: the file is a PDF document, not XML\n",
               {"new"}},
              {{"bin.xml", "view.xsl", "new"},
               2,
               "Conversion failed!\n",
               "corvane: bin.xml: the file is not XML: a binary byte (0x7F at offset 0) comes before any markup\n",
               {"new"}},
              {{"utf16.xml", "view.xsl", "odd"}, 0, "", "", {}, {"odd/utf16.XML"}},
              {{"koi8.xml", "view.xsl", "odd"}, 0, "", "", {}, {"odd/koi8.XML"}},
              // The system's code of a missing file; the reason names the copy. The
              // output folders the run made go again.
              {{"missing.xml", "view.xsl", "new/out"},
               2,
               "Temp file copy error: 2\n",
               "corvane: cannot copy missing.xml to {@new/out/missing.XML}: ...",
               {"new"}},
              {{"d.xml", "view.xsl", "out"}, 0, "", "", {}, {"out/d.XML"}},
              {{"d.xml", "missing.xsl", "out"}, 0, missingTemplate, wontRender},
              // No copy is left after a failed conversion; the folder was there before.
              {{"plain.txt", "view.xsl", "out"}, 2, "Conversion failed!\n", noMarkup, {"out/plain.XML"}, {"out"}},
              {{"plain.txt", "missing.xsl", "out"},
               2,
               missingTemplate + "Conversion failed!\n",
               wontRender + noMarkup,
               {"out/plain.XML"}},
          });
}

void CheckKestrelUnzipStatuses(const TProgram& unzip, const fs::path& work) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " of some text\n";
  const ziptest::TEntrySpec a{"a.txt", "alpha"}, c{"b/c.txt", text};
  std::string good = ziptest::BuildArchive({a, c});
  testsupport::WriteFile(work / "good.zip", good);
  // b/c.txt with one byte changed in its stored data: a CRC error, and no file.
  good[good.find("b/c.txt") + 7 + 40000] ^= 0x01;
  text[40000] ^= 0x01;
  testsupport::WriteFile(work / "damaged.zip", good);
  // Cut off before its end records: both entries whole, read by their local headers.
  const std::string whole = ziptest::BuildArchive({a, c});
  testsupport::WriteFile(work / "cut.zip", whole.substr(0, whole.size() - 30));
  // Cut off inside b/c.txt's data: a.txt alone is whole.
  testsupport::WriteFile(work / "cutin.zip", whole.substr(0, whole.find("b/c.txt") + 1000));
  // Cut inside the data of its first entry: nothing is whole.
  testsupport::WriteFile(work / "first.zip", whole.substr(0, 38));
  // A browser extension: its header stands in front of a zip whose offsets do not count it.
  testsupport::WriteFile(work / "crx.zip", "Cr24" + std::string(516, '\x01') + whole);
  testsupport::WriteFile(work / "plain.xml", "<p/>");
  testsupport::WriteFile(work / "names.zip", ziptest::BuildArchive({{"red\x1b[31m.txt", "r"}, {"new\nline.txt", "n"}}));
  testsupport::WriteFile(work / "file", "a file where the destination should be");
  const std::string crcError = "kestrel-unzip: damaged.zip: b/c.txt: bad CRC " + Hex8(ziptest::Crc32(text)) +
                               " (should be " + Hex8(ziptest::Crc32(c.Data)) + "); the damaged file was removed\n";
  const std::string notZip = "kestrel-unzip: plain.xml: Not a valid zip file! (no end-of-central-directory record)\n";
  const std::string usage = "kestrel-unzip: ...";
  const std::string okLines =
      "Archive:  good.zip\n extracting: ok/a.txt                \n extracting: ok/b/c.txt              \n";
  std::vector<TRow> rows = {
      {{"good.zip", "-d", "ok"}, 0, okLines, "", {}, {"ok/a.txt", "ok/b/c.txt"}},
      // Without a terminal to ask on, existing files are kept, and said so once.
      {{"good.zip", "-d", "ok"},
       1,
       "Archive:  good.zip\n",
       "kestrel-unzip: good.zip: 2 existing files kept: there is no terminal to ask on (-o replaces them, -n keeps "
       "them without this warning)\n"},
      {{"-n", "good.zip", "-d", "ok"}, 0, "Archive:  good.zip\n", ""},
      // With -C members match case-insensitively; options stand after the archive too.
      {{"good.zip", "*.TXT", "-C", "-o", "-d", "ok"}, 0, okLines, ""},
      {{"good.zip", "-d", "none", "nothing*"},
       11,
       "Archive:  good.zip\n",
       "kestrel-unzip: good.zip: caution: filename not matched: nothing*\n",
       {"none"}},
      {{"damaged.zip", "-d", "bad"},
       2,
       "Archive:  damaged.zip\n extracting: bad/a.txt               \n",
       crcError,
       {"bad/b/c.txt"},
       {"bad/a.txt"}},
      // Over a file that stands there, the damaged entry replaces nothing.
      {{"-o", "damaged.zip", "-d", "ok"},
       2,
       "Archive:  damaged.zip\n extracting: ok/a.txt                \n",
       crcError.substr(0, crcError.find(';')) + "; the existing file was kept\n"},
      {{"cut.zip", "-d", "cut"},
       1,
       "Archive:  cut.zip\n...",
       "kestrel-unzip: cut.zip: the archive is cut short: 2 entries recovered\n",
       {},
       {"cut/a.txt", "cut/b/c.txt"}},
      {{"first.zip", "-d", "first"},
       9,
       "Archive:  first.zip\n",
       "kestrel-unzip: first.zip: the archive is cut short, and no entry in it is whole: nothing can be recovered\n",
       {"first"}},
      {{"crx.zip", "-d", "crx"},
       1,
       "Archive:  crx.zip\n...",
       "kestrel-unzip: crx.zip: warning: 520 extra bytes at the beginning or within the archive\n",
       {},
       {"crx/a.txt", "crx/b/c.txt"}},
      {{"-t", "good.zip"},
       0,
       "Archive:  good.zip\n    testing: a.txt                    OK\n    testing: b/c.txt                  OK\n"
       "No errors detected in compressed data of good.zip.\n",
       "",
       {"a.txt"}},
      // What could not be tested is no success, on stdout either.
      {{"-t", "cutin.zip"},
       1,
       "Archive:  cutin.zip\n    testing: a.txt                    OK\n"
       "At least one error was detected in cutin.zip.\n1 file skipped because the archive is damaged or cut short.\n",
       "kestrel-unzip: cutin.zip: b/c.txt: skipped: the archive ends inside its data\n..."},
      {{"-t", "damaged.zip"},
       2,
       "Archive:  damaged.zip\n    testing: a.txt                    OK\n    testing: b/c.txt                  bad "
       "CRC " +
           Hex8(ziptest::Crc32(text)) + "  (should be " + Hex8(ziptest::Crc32(c.Data)) +
           ")\nAt least one error was detected in damaged.zip.\n",
       crcError.substr(0, crcError.find(';')) + "\n"},
      {{"-p", "good.zip", "a.txt"}, 0, "alpha", ""},
      {{"good.zip", "-d", "file/x"},
       2,
       "Archive:  good.zip\n",
       "kestrel-unzip: good.zip: cannot create the destination file/x: ..."},
      {{"plain.xml", "-d", "x"}, 9, "Archive:  plain.xml\n", notZip, {"x"}},
      {{"-l", "plain.xml"}, 9, "Archive:  plain.xml\n", notZip},
      // Control characters of names reach the terminal escaped; the files keep their names.
      {{"-Z1", "names.zip"}, 0, "red^[[31m.txt\nnew^Jline.txt\n", ""},
      {{"missing.zip", "-d", "x"}, 9, "", "kestrel-unzip: missing.zip: cannot find or open the archive: ...", {"x"}},
      {{"-l", "missing.zip"}, 9, "", "kestrel-unzip: missing.zip: cannot find or open the archive: ..."},
      {{"-h"}, 0, "usage: ...", ""},
      {{"--help"}, 0, "usage: ...", ""},
      {{}, 0, "usage: ...", ""},
      {{"--version"}, 0, "kestrel-unzip ...", ""},
  };
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"-l"},
                                                                                    {"-Y", "good.zip"},
                                                                                    {"--frobnicate", "good.zip"},
                                                                                    {"good.zip", "-d"},
                                                                                    {"-P"},
                                                                                    {"-p", "-t", "good.zip"},
                                                                                    {"-l", ""},
                                                                                    {"-q"}}) {
    rows.push_back({args, 10, "", usage, {"d"}});
  }
  // One entry overlapping another costs only itself.
  const fs::path overlap = testsupport::Fixture("regressions/quoted-overlap.zip");
  if (fs::exists(overlap)) {
    fs::copy_file(overlap, work / "overlap.zip", fs::copy_options::overwrite_existing);
    rows.push_back(
        {{"overlap.zip", "-d", "ov"},
         2,
         "Archive:  overlap.zip\n...",
         "kestrel-unzip: overlap.zip: a: skipped: its data overlaps b (the archive is damaged or a zip bomb)\n",
         {"ov/a"},
         {"ov/b"}});
  }
  // bsdtar's stored entries keep their CRC in a descriptor: with the central
  // directory cut off, each is read and checked by it.
  if (testsupport::HaveCommand("bsdtar")) {
    fs::create_directories(work / "bst/b");
    testsupport::WriteFile(work / "bst/a.txt", a.Data);
    testsupport::WriteFile(work / "bst/b/c.txt", c.Data);
    testsupport::ShellIn(work / "bst", "bsdtar --format zip --options zip:compression=store -cf ../bst.zip a.txt b");
    const std::string made = testsupport::ReadFile(work / "bst.zip");
    testsupport::WriteFile(work / "bst.zip", made.substr(0, made.rfind("PK\x01\x02") + 10));
    rows.push_back({{"bst.zip", "-d", "bst-out"},
                    1,
                    "Archive:  bst.zip\n...",
                    "kestrel-unzip: bst.zip: the archive is cut short: 2 entries recovered\n",
                    {},
                    {"bst-out/a.txt", "bst-out/b/c.txt"}});
  }
  RunRows(unzip, work, rows);
  EXPECT_EQ(testsupport::FilesBelow(work / "bad"), std::set<std::string>{"a.txt"}) << "the damaged entry left no file";
  EXPECT_TRUE(testsupport::ReadFile(work / "ok/b/c.txt") == c.Data) << "the damaged entry replaced the file";
  EXPECT_EQ(testsupport::FilesBelow(work / "ok"), (std::set<std::string>{"a.txt", "b/c.txt"}));
}

void CheckArchivesOfOtherTools(const TProgram& unzip, const fs::path& work) {
  const fs::path tree = work / "tree";
  testsupport::WriteSampleTree(tree, unzip.LineEnd);
  std::vector<std::pair<std::string, std::string>> archives;  // name, password
  if (testsupport::HaveCommand("zip")) {
    for (const std::string level : {"-0", "-1", "-6", "-9"}) {
      testsupport::ShellIn(tree, "zip -q -r " + level + " ../zip" + level + ".zip .");
      archives.push_back({"zip" + level + ".zip", ""});
    }
    testsupport::ShellIn(tree, "zip -q -r -P 'se cret' ../locked.zip .");
    archives.push_back({"locked.zip", "se cret"});
    testsupport::ShellIn(tree, "zip -q -r -Z bzip2 ../zip-bzip2.zip .");
    archives.push_back({"zip-bzip2.zip", ""});
  }
  // xz and Zstandard entries are the xz and zstd programs' output.
  for (const std::string method : {"STORED", "DEFLATED", "BZIP2", "LZMA", "XZ", "ZSTD"}) {
    if ((method == "XZ" && !testsupport::HaveCommand("xz")) || (method == "ZSTD" && !testsupport::HaveCommand("zstd")))
      continue;
    testsupport::PythonZipTree(work / ("py-" + method + ".zip"), tree, method);
    archives.push_back({"py-" + method + ".zip", ""});
  }
  if (testsupport::HaveCommand("7z")) {
    testsupport::ShellIn(tree, "7z a -tzip -bso0 -bsp0 ../seven.zip .");
    testsupport::ShellIn(tree, "7z a -tzip -mem=ZipCrypto -pkey -bso0 -bsp0 ../seven-crypt.zip .");
    archives.insert(archives.end(), {{"seven.zip", ""}, {"seven-crypt.zip", "key"}});
    for (const std::string method : {"Deflate64", "BZip2", "LZMA"}) {
      testsupport::ShellIn(tree, "7z a -tzip -mm=" + method + " -bso0 -bsp0 ../seven-" + method + ".zip .");
      archives.push_back({"seven-" + method + ".zip", ""});
    }
    // WinZip AES of each strength over each method; 7-Zip writes AE-2 entries.
    for (const std::string strength : {"128", "192", "256"}) {
      for (const std::string method : {"Copy", "Deflate", "Deflate64", "BZip2", "LZMA"}) {
        const std::string name = "seven-aes" + strength + "-" + method + ".zip";
        testsupport::ShellIn(
            tree, "7z a -tzip -mem=AES" + strength + " -mm=" + method + " '-pse cret' -bso0 -bsp0 ../" + name + " .");
        archives.push_back({name, "se cret"});
      }
    }
  }
  // bsdtar writes AE-1 entries (with their CRC), and AE-2 for the smallest.
  if (testsupport::HaveCommand("bsdtar")) {
    testsupport::ShellIn(tree, "bsdtar -a --options zip:encryption=aes128 --passphrase key -cf ../bsdtar-aes.zip *");
    archives.push_back({"bsdtar-aes.zip", "key"});
  }
  const auto files = testsupport::FilesBelow(tree);
  for (const auto& [name, password] : archives) {
    SCOPED_TRACE(name);
    const fs::path dest = work / ("out-" + name);
    std::vector<std::string> args = {unzip.Path(work / name), "-d", unzip.Path(dest)};
    if (!password.empty()) args.insert(args.begin(), {"-P", password});
    const auto run = unzip.Run(args, work);
    EXPECT_EQ(run.Status, 0) << run.Err;
    // unzip's lines: the archive's, then one for each entry that came out.
    EXPECT_TRUE(run.Out.starts_with("Archive:  ")) << run.Out;
    EXPECT_EQ(run.Out.find("kestrel-unzip: "), std::string::npos) << run.Out;
    // No line of an entry that did not come out.
    EXPECT_TRUE(!unzip.ExactErr || run.Err.empty()) << run.Err;
    EXPECT_EQ(run.Err.find("kestrel-unzip: "), std::string::npos) << run.Err;
    EXPECT_EQ(testsupport::FilesBelow(dest), files);
    for (const auto& file : files) {
      EXPECT_TRUE(testsupport::ReadFile(dest / file) == testsupport::ReadFile(tree / file)) << file;
    }
  }
  // Nothing but the tree, the archives and their destinations in the working folder.
  for (const auto& entry : fs::directory_iterator(work)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "tree" || name == "wrong" || name.ends_with(".zip")) << name;
  }
  for (const std::string locked : {"locked.zip", "seven-aes256-Deflate.zip"}) {
    if (!fs::exists(work / locked)) continue;
    const auto wrong = unzip.Run({"-P", "wrong", unzip.Path(work / locked), "-d", unzip.Path(work / "wrong")}, work);
    // No entry came out, every one for the password (AES: its verifier). But the
    // traditional cipher's check byte lets one wrong password in 256 pass, and for
    // the empty file nothing then shows it: an empty file is right.
    if (wrong.Status != 82) {
      EXPECT_TRUE(wrong.Status == 1 && fs::exists(work / "wrong" / "docs" / "empty.txt"));
    }
    const std::string line = "\nkestrel-unzip: " + unzip.Path(work / locked) +
                             ": docs/deep/text.txt: skipped, incorrect password" + unzip.LineEnd;
    EXPECT_NE(("\n" + wrong.Err).find(line), std::string::npos) << wrong.Err;
    for (const char* name : {"docs/deep/text.txt", "binary.bin", "readme"}) {
      EXPECT_FALSE(fs::exists(work / "wrong" / name)) << name;
    }
  }
}

void CheckTessalyStatuses(const TProgram& tessaly, const fs::path& work) {
  testsupport::WriteFile(work / "notes.txt", "This is a text file, not a compiled help file.\n");
  testsupport::WriteFile(work / "empty.chm", "");
  // The container signature alone, with nothing after it.
  testsupport::WriteFile(work / "stub.chm", "ITSF");
  const std::string noChm = "Could not find CHM index...\n";
  // Callers read stdout; a person reads on stderr what was wrong with which file.
  const std::string notChm = ": not a CHM file (Compiled HTML Help)\n";
  std::vector<TRow> rows = {
      {{"notes.txt"}, 2, noChm, "tessaly: notes.txt" + notChm},
      {{"empty.chm"}, 2, noChm, "tessaly: empty.chm" + notChm},
      {{"stub.chm"}, 2, noChm, "tessaly: stub.chm" + notChm},
      {{"missing.chm"}, 2, noChm, "tessaly: missing.chm: no such file\n"},
      {{"{@}"}, 2, noChm, "tessaly: {@}: a folder, not a file\n"},
      {{""}, 2, noChm, "tessaly: : ..."},
      // No output file without a help file.
      {{"missing.chm", "topic.txt"}, 2, noChm, "tessaly: missing.chm: no such file\n", {"topic.txt"}},
      {{"--help"}, 0, "Tessaly\nusage: ...", ""},
      {{"--version"}, 0, "tessaly ...", ""},
  };
  const fs::path chm = testsupport::Fixture("chm/DotZLib.chm");
  // An output file that cannot be created: status 3, and nothing on stdout.
  if (fs::exists(chm)) {
    rows.push_back({{"{chm}", "{@missing/topic.txt}"},
                    3,
                    "",
                    "tessaly: cannot open output file \"{@missing/topic.txt}\": ...",
                    {"missing"}});
  }
  RunRows(tessaly, work, rows, chm);
}

void CheckLegacyFixtures(const TProgram& unzip, const fs::path& work, const TProgram* reference) {
  std::map<std::string, std::vector<testsupport::TLegacyFixtureEntry>> archives;
  for (const auto& entry : testsupport::LegacyFixtureEntries()) archives[entry.Archive].push_back(entry);
  ASSERT_GT(archives.size(), 50u);
  int n = 0;
  for (const auto& [archive, entries] : archives) {
    SCOPED_TRACE(archive);
    const fs::path source = testsupport::Fixture("legacy-zip/" + archive);
    const fs::path dest = work / std::to_string(++n);
    // The -v columns that the fixtures list: length, method, size, CRC-32, name.
    static const char* const Labels[] = {"Stored", "Shrunk", "Reduce1", "Reduce2", "Reduce3", "Reduce4", "Implode"};
    std::string listing, damaged;
    for (const auto& e : entries) {
      listing += std::to_string(e.Size) + ' ' + (e.Method < 7 ? Labels[e.Method] : "?") + ' ' +
                 std::to_string(e.CompressedSize) + ' ' + Hex8(e.Crc) + ' ' + e.Name + "\n";
      if (e.Verdict == "bad-crc") damaged += Hex8(e.Crc) + " " + e.Name + "\n";
    }
    const auto list = unzip.Run({"-v", "-qq", unzip.Path(source)}, work);
    EXPECT_EQ(list.Status, 0) << list.Err;
    std::string listed;
    std::istringstream lines(list.Out);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::istringstream fields(line);
      std::string length, method, size, ratio, date, time, crc;
      fields >> length >> method >> size >> ratio >> date >> time >> crc;
      const std::size_t name = line.find(crc + "  ");
      listed += length + ' ' + method + ' ' + size + ' ' + crc + ' ' +
                (name == std::string::npos ? "" : line.substr(name + crc.size() + 2)) + "\n";
    }
    EXPECT_EQ(listed, listing);
    const auto run = unzip.Run({unzip.Path(source), "-d", unzip.Path(dest)}, work);
    EXPECT_EQ(run.Status, damaged.empty() ? 0 : 2) << run.Err;
    // One line for each damaged entry: "kestrel-unzip: ARCHIVE: NAME: bad CRC X (should be Y); ...".
    const std::string prefix = "kestrel-unzip: " + unzip.Path(source) + ": ";
    std::string reported;
    std::istringstream errors(run.Err);
    for (std::string line; std::getline(errors, line);) {
      const std::size_t bad = line.find(": bad CRC ");
      const std::size_t should = line.find("(should be ");
      if (!line.starts_with(prefix) || bad == std::string::npos || should == std::string::npos) continue;
      reported += line.substr(should + 11, 8) + " " + line.substr(prefix.size(), bad - prefix.size()) + "\n";
    }
    EXPECT_EQ(reported, damaged);
    if (unzip.ExactErr) {
      EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), std::count(damaged.begin(), damaged.end(), '\n'));
    }
    for (const auto& e : entries) {
      const fs::path file = dest / e.Name;
      if (e.Verdict == "ok") {
        EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(file)), e.Sha256) << e.Name;
      } else if (e.Verdict == "dir") {
        EXPECT_TRUE(fs::is_directory(file)) << e.Name;
      } else {
        EXPECT_FALSE(fs::exists(file)) << e.Name << ": a damaged entry left a file";
      }
    }
    if (reference != nullptr) {
      const auto linux =
          reference->Run({source.string(), "-d", (work / ("reference-" + std::to_string(n))).string()}, work);
      // The messages name the archive as each program was given it.
      std::string said = linux.Err;
      for (std::size_t at; (at = said.find(source.string())) != std::string::npos;)
        said.replace(at, source.string().size(), unzip.Path(source));
      ExpectText(run.Err, Expand(said, unzip, work, {}, unzip.LineEnd), false, unzip.LineEnd,
                 "what the reference reports");
    }
  }
}

}  // namespace e2etest
