// Path routines under both systems' rules, and the folder routines on real folders.

#include "converter/file_utils.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;
using platform::PosixPathRules;
using platform::Win32PathRules;

namespace {

struct TSplitCase {
  const char* Path;
  const TPathRules* Rules;
  const char* Folder;
  const char* Name;
  const char* Extension;
};

TEST(PathParts, SplitFileNameTable) {
  const TSplitCase cases[] = {
      {"C:\\dir.x\\file", &Win32PathRules, "C:\\dir.x\\", "file", ""},  // a dot only in a folder
      {"archive.tar.gz", &Win32PathRules, "", "archive.tar", ".gz"},
      {".profile", &Win32PathRules, "", "", ".profile"},
      {"C:file.xml", &Win32PathRules, "C:", "file", ".xml"},
      {"C:\\out\\report.fb2", &Win32PathRules, "C:\\out\\", "report", ".fb2"},
      {"/home/u/dir.x/file", &PosixPathRules, "/home/u/dir.x/", "file", ""},
      {"/a/b.c.d", &PosixPathRules, "/a/", "b.c", ".d"},
      {"a\\b.txt", &PosixPathRules, "", "a\\b", ".txt"},  // a backslash is a name byte on POSIX
      {"/out/", &PosixPathRules, "/out/", "", ""},
      {"name.", &PosixPathRules, "", "name", "."},
  };
  for (const auto& c : cases) {
    const TSplitName parts = SplitFileName(c.Path, *c.Rules);
    EXPECT_EQ(parts.Folder, c.Folder) << c.Path;
    EXPECT_EQ(parts.Name, c.Name) << c.Path;
    EXPECT_EQ(parts.Extension, c.Extension) << c.Path;
  }
}

TEST(PathParts, FolderAndNameParts) {
  EXPECT_EQ(PathNamePart("C:file.xml", Win32PathRules), "file.xml");
  EXPECT_EQ(PathFolderPart("C:file.xml", Win32PathRules), "C:");
  EXPECT_EQ(PathFolderPart("C:\\a\\b", Win32PathRules), "C:\\a\\");
  EXPECT_EQ(PathNamePart("C:file.xml", PosixPathRules), "C:file.xml");
  EXPECT_EQ(PathFolderPart("/tmp/x/y.xml", PosixPathRules), "/tmp/x/");
  EXPECT_EQ(PathNamePart("y.xml", PosixPathRules), "y.xml");
  EXPECT_EQ(PathFolderPart("y.xml", PosixPathRules), "");
}

TEST(PathParts, WithTrailingSeparator) {
  EXPECT_EQ(WithTrailingSeparator("", Win32PathRules), "");
  EXPECT_EQ(WithTrailingSeparator("C:", Win32PathRules), "C:");
  EXPECT_EQ(WithTrailingSeparator("c", Win32PathRules), "c:\\");
  EXPECT_EQ(WithTrailingSeparator("C:\\out", Win32PathRules), "C:\\out\\");
  EXPECT_EQ(WithTrailingSeparator("c", PosixPathRules), "c/");
  EXPECT_EQ(WithTrailingSeparator("/out/", PosixPathRules), "/out/");
  EXPECT_EQ(WithTrailingSeparator("/out", PosixPathRules), "/out/");
}

TEST(ForceFoldersShortNames, CreatesChainsAndShortRelativeNames) {
  testsupport::TTempFolder tmp;
  fs::create_directory(tmp.Path() / "a");
  ForceFolders(tmp / "a/b/c/");
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "a/b/c"));
  // Doubled and trailing separators and "." steps, as the system takes them.
  ForceFolders(tmp / "d//e///");
  ForceFolders(tmp / "f/./g/.");
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "d/e"));
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "f/g"));
  const fs::path previous = fs::current_path();
  fs::current_path(tmp.Path());
  ForceFolders("o");
  ForceFolders("ab/");
  ForceFolders("");
  fs::current_path(previous);
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "o"));
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "ab"));
}

TEST(ClearFolderTreeWalk, RemovesEverythingIncludingDotNamesAndReadOnlyFiles) {
  testsupport::TTempFolder tmp;
  const fs::path root = tmp.Path() / "work";
  fs::create_directories(root / "_rels" / "deeper");
  testsupport::WriteFile(root / "_rels" / ".rels", "x");
  testsupport::WriteFile(root / ".keep", "x");
  testsupport::WriteFile(root / "_rels" / "deeper" / "f", "x");
  testsupport::WriteFile(root / "ro.txt", "x");
  fs::permissions(root / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
  // A folder without write permission, as an archive may ask for.
  testsupport::WriteFile(root / "_rels" / "deeper" / "g", "x");
  fs::permissions(root / "_rels" / "deeper", fs::perms::owner_read | fs::perms::owner_exec);
  // A link to a folder outside is deleted, and what it points to is left alone.
  fs::create_directory(tmp.Path() / "outside");
  testsupport::WriteFile(tmp.Path() / "outside" / "precious", "keep me");
  fs::create_directory_symlink(tmp.Path() / "outside", root / "link");

  EXPECT_TRUE(ClearFolderTree(root.string() + "/", true));
  EXPECT_FALSE(fs::exists(root));
  EXPECT_EQ(testsupport::ReadFile(tmp.Path() / "outside" / "precious"), "keep me");
}

TEST(ClearFolderTreeWalk, KeepsTheFolderWithoutTheRemoveFlag) {
  testsupport::TTempFolder tmp;
  fs::create_directories(tmp.Path() / "w" / "sub");
  testsupport::WriteFile(tmp.Path() / "w" / "sub" / "f", "x");
  EXPECT_TRUE(ClearFolderTree(tmp / "w", false));
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "w" / "sub")) << "subfolders follow the flag";
  EXPECT_TRUE(fs::is_empty(tmp.Path() / "w" / "sub"));
  EXPECT_FALSE(ClearFolderTree(tmp / "missing", true));
}

TEST(FileChecks, ReadableAndFolderExists) {
  testsupport::TTempFolder tmp;
  testsupport::WriteFile(tmp.Path() / "f", "x");
  EXPECT_TRUE(FileReadable(tmp / "f"));
  EXPECT_FALSE(FileReadable(tmp.Path().string()));
  EXPECT_FALSE(FileReadable(tmp / "missing"));
  EXPECT_TRUE(FolderExists(tmp.Path().string()));
  EXPECT_FALSE(FolderExists(tmp / "f"));
}

TEST(ExpandPathFolding, FoldsDotsWithoutResolvingLinks) {
  EXPECT_EQ(ExpandPath("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandPath("/a/b/"), "/a/b/");
  EXPECT_EQ(ExpandPath("/../.."), "/");
  EXPECT_EQ(ExpandPath("x/../y"), fs::current_path().string() + "/y");
  EXPECT_EQ(ExpandPath(""), "");
}

}  // namespace
