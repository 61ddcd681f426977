// The pure path routines under both systems' rules.

#include "platform/path.h"

#include <gtest/gtest.h>

using namespace platform;

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

TEST(PathParts, ExtensionsAndFolding) {
  EXPECT_EQ(ChangeExtension("C:\\dir.x\\set", ".zfc", Win32PathRules), "C:\\dir.x\\set.zfc");
  EXPECT_EQ(ChangeExtension("/a/set.zip", ".003", PosixPathRules), "/a/set.003");
  EXPECT_EQ(PathFolder("C:x", Win32PathRules), "C:");
  EXPECT_EQ(PathFolder("/a/b", PosixPathRules), "/a");
  EXPECT_EQ(FoldDotSteps("/a/./b//../c/", PosixPathRules), "/a/c/");
  EXPECT_EQ(FoldDotSteps("/../..", PosixPathRules), "/");
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

}  // namespace
