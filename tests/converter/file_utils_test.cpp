// The converter's folder routines on real folders, and its full paths.

#include "converter/file_utils.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

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
