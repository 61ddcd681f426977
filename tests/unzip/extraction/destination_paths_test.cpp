// UnZipDestinationPaths: where entries land. Stored paths that try to leave DestDir
// (climbing, absolute, drive, UNC, through a link), an empty DestDir, RootDir, and
// the converter's settings.

#include <gtest/gtest.h>

#include <set>

#include "extraction_helpers.h"

namespace {

using namespace extractiontest;
using kestrel::TKestrelUnZip;
using testsupport::ReadFile;

// Every path below root, relative to it.
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> paths;
  for (const auto& item : fs::recursive_directory_iterator(root))
    paths.insert(fs::relative(item.path(), root).string());
  return paths;
}

TEST(UnZipDestinationPaths, NothingLeavesDestDir) {
  testsupport::TTempFolder folder;
  const fs::path base = folder.Path() / "box";
  fs::create_directories(base);
  const std::string archive = WriteArchive(folder, "slip.zip",
                                           {{"../evil", "data"},
                                            {"a/../../evil2", "data"},
                                            {"/abs/x", "data"},
                                            {"C:dir/x", "data"},
                                            {"C:/y", "data"},
                                            {"\\\\server\\share\\z", "data"},
                                            {"../up/", ""},
                                            {"ok.txt", "data"}});
  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, (base / "dest").string());
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_EQ(unzip.UnZip(), 5);
  EXPECT_EQ(Tree(base),
            (std::set<std::string>{"dest", "dest/abs", "dest/abs/x", "dest/dir", "dest/dir/x", "dest/y", "dest/server",
                                   "dest/server/share", "dest/server/share/z", "dest/ok.txt"}));
  // The climbing ones are refused as such (skPathClimbs) and leave the totals.
  EXPECT_EQ(rec.Lines.at(0), "info 7 28");
  EXPECT_EQ(rec.Lines.at(1), "skip 4 0 evil");
  EXPECT_EQ(rec.Lines.at(2), "skip 4 1 evil2");
}

TEST(UnZipDestinationPaths, LinksInsideDestDirAreNotFollowed) {
  testsupport::TTempFolder folder;
  const fs::path dest = folder.Path() / "dest";
  fs::create_directories(dest);
  fs::create_directories(folder.Path() / "outside");
  testsupport::WriteFile(folder.Path() / "target.txt", "untouched");
  fs::create_directory_symlink(folder.Path() / "outside", dest / "link");
  fs::create_symlink(folder.Path() / "target.txt", dest / "file.txt");
  TKestrelUnZip unzip;
  SetUpAll(unzip, WriteArchive(folder, "l.zip", {{"link/evil.txt", "evil"}, {"file.txt", "evil"}, {"link/sub/", ""}}),
           dest.string());
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_EQ(unzip.UnZip(), 0);
  EXPECT_TRUE(fs::is_empty(folder.Path() / "outside"));
  EXPECT_EQ(ReadFile(folder.Path() / "target.txt"), "untouched");
  // Refused as leading through a link (skPathThroughLink).
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{"info 2 8", "start 0 evil.txt", "skip 5 0 evil.txt",
                                                 "start 1 file.txt", "skip 5 1 file.txt", "complete 0"}));
}

// The archive's own links: made after every file, never through one another,
// never with a target that leads out, never over a folder.
TEST(UnZipDestinationPaths, ArchiveLinksNeverLeadOut) {
  testsupport::TTempFolder folder;
  const fs::path dest = folder.Path() / "dest";
  fs::create_directories(dest / "taken");
  auto link = [](const std::string& name, const std::string& target) {
    return ziptest::TEntrySpec{.Name = name, .Data = target, .ExternalAttributes = 0xA1FF0000};  // mode 0120777
  };
  TKestrelUnZip unzip;
  SetUpAll(unzip,
           WriteArchive(folder, "links.zip",
                        {{"sub/a.txt", "hello"},
                         link("good", "sub/a.txt"),
                         link("sub/up", "../sub/a.txt"),
                         link("root", "/"),
                         link("out", "../.."),
                         link("sub/out", "x/../../.."),
                         link("l", "sub"),
                         {"l/evil.txt", "evil"},
                         link("taken", "sub"),
                         link("p/q/back", "../.."),
                         link("via", "p/q/back/../x")}),
           dest.string());
  TRecorder rec;
  rec.Attach(unzip);
  EXPECT_EQ(unzip.UnZip(), 5);
  std::vector<std::string> skips;
  for (const std::string& line : rec.Lines)
    if (line.starts_with("skip")) skips.push_back(line);
  // skLinkTarget (9) for the targets that lead out, skLinkOverFolder (10).
  EXPECT_EQ(skips, (std::vector<std::string>{"skip 9 3 root", "skip 9 4 out", "skip 9 5 out", "skip 10 6 l",
                                             "skip 10 8 taken", "skip 9 10 via"}));
  EXPECT_EQ(fs::read_symlink(dest / "good"), "sub/a.txt");
  EXPECT_EQ(ReadFile(dest / "sub/up"), "hello");
  EXPECT_EQ(fs::read_symlink(dest / "p/q/back"), "../..");
  EXPECT_EQ(ReadFile(dest / "l/evil.txt"), "evil");
  EXPECT_FALSE(fs::is_symlink(dest / "taken"));
  std::set<std::string> top;
  for (const auto& item : fs::directory_iterator(folder.Path())) top.insert(item.path().filename().string());
  EXPECT_EQ(top, (std::set<std::string>{"dest", "links.zip"}));
}

TEST(UnZipDestinationPaths, EmptyDestDirIsTheCurrentFolder) {
  testsupport::TTempFolder folder;
  const std::string archive = WriteArchive(folder, "e.zip", {{"/abs/x.txt", "x"}, {"a.txt", "a"}});
  fs::create_directories(folder.Path() / "cwd");
  const fs::path saved = fs::current_path();
  fs::current_path(folder.Path() / "cwd");
  TKestrelUnZip unzip;
  SetUpAll(unzip, archive, "");
  EXPECT_EQ(unzip.UnZip(), 2);
  fs::current_path(saved);
  EXPECT_EQ(ReadFile(folder.Path() / "cwd/abs/x.txt"), "x");
  EXPECT_EQ(ReadFile(folder.Path() / "cwd/a.txt"), "a");
}

TEST(UnZipDestinationPaths, DestDirSpellingsAndRootDir) {
  testsupport::TTempFolder folder;
  const std::string archive = WriteArchive(folder, "r.zip", {{"a.txt", "a"}, {"DOCS/img/a.png", "png"}});

  TKestrelUnZip unzip;
  unzip.SetDestDir("x\\");
  EXPECT_EQ(unzip.DestDir(), "x");
  // A trailing host separator is kept by the setter and makes no double one.
  SetUpAll(unzip, archive, (folder.Path() / "x").string() + "/");
  unzip.SetRootDir("docs");
  // Patterns may spell folders with the host's "/" as well as the stored "\\".
  unzip.SetDoAll(false);
  unzip.FilesList() = {"a.txt", "docs/img/*"};
  EXPECT_EQ(unzip.RootDir(), "docs\\");
  std::vector<std::string> names;
  unzip.OnEndUnZip = [&](TKestrelUnZip&, std::int32_t, const std::string& fName) { names.push_back(fName); };
  EXPECT_EQ(unzip.UnZip(), 2);
  EXPECT_EQ(names, (std::vector<std::string>{folder / "x/a.txt", folder / "x/img/a.png"}));
  EXPECT_EQ(ReadFile(folder / "x/img/a.png"), "png");
}

TEST(UnZipDestinationPaths, ConverterSettings) {
  testsupport::TTempFolder folder;
  const std::string archive = WriteArchive(folder, "odt.zip",
                                           {{"mimetype", "application/vnd.oasis.opendocument.text"},
                                            {"META-INF/", ""},
                                            {"META-INF/manifest.xml", "<manifest/>"},
                                            {"word/document.xml", "<doc/>"},
                                            {"content.xml", "<content/>"}});
  const fs::path dest = folder.Path() / "work";
  fs::create_directories(dest);
  testsupport::WriteFile(dest / "content.xml", "old");

  TKestrelUnZip unzip;
  unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
  unzip.SetDoProcessMessages(true);
  unzip.SetZipName(archive);
  unzip.SetRecreateDirs(true);
  unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
  unzip.SetDestDir(dest.string());
  unzip.FilesList().clear();
  unzip.FilesList().push_back("*.*");
  EXPECT_EQ(unzip.UnZip(), 3);
  EXPECT_EQ(Tree(dest),
            (std::set<std::string>{"META-INF", "META-INF/manifest.xml", "word", "word/document.xml", "content.xml"}));
  EXPECT_EQ(ReadFile(dest / "content.xml"), "<content/>");
}

TEST(UnZipDestinationPaths, NotAZipWritesNothing) {
  testsupport::TTempFolder folder;
  testsupport::WriteFile(folder / "doc.xml", "<?xml version=\"1.0\"?><doc/>");
  TKestrelUnZip unzip;
  unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
  SetUpAll(unzip, folder / "doc.xml", folder / "out");
  EXPECT_THROW(unzip.UnZip(), kestrel::ENotAZipFile);
  EXPECT_FALSE(fs::exists(folder / "out"));
}

}  // namespace
