// The destination rules under both path spellings: the folder an entry goes to,
// and the stored paths that climb out.

#include "unzip/dest_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using kestrel::EntryDestFolder;
using kestrel::StoredPathClimbs;
using kestrel::WindowsSafeName;
using kestrel::WindowsSafeStoredPath;
using platform::PosixPathRules;
using platform::Win32PathRules;

TEST(UnZipDestinationPaths, FolderRulesUnderBothSpellings) {
  // DestDir, RootDir, stored folder, RecreateDirs -> Win32 result, POSIX result.
  struct Case {
    const char *dest, *root, *stored;
    bool recreate;
    const char *win32, *posix;
  } cases[] = {
      {"C:\\work", "", "", true, "C:\\work\\", "C:\\work/"},
      {"out", "", "a\\b\\", true, "out\\a\\b\\", "out/a/b/"},
      {"out", "", "a\\b\\", false, "out\\", "out/"},
      {"out", "", "\\x\\", true, "out\\x\\", "out/x/"},        // stored root
      {"out", "", "C:\\x\\", true, "out\\x\\", "out/x/"},      // drive and root
      {"out", "", "C:dir\\", true, "out\\dir\\", "out/dir/"},  // drive-relative: not "outdir"
      {"out", "", "C:\\", true, "out\\", "out/"},
      {"out", "", "\\\\server\\share\\", true, "out\\server\\share\\", "out/server/share/"},
      {"out", "docs\\", "DOCS\\img\\", true, "out\\img\\", "out/img/"},
      {"out", "docs\\", "docsy\\img\\", true, "out\\docsy\\img\\", "out/docsy/img/"},
      {"", "", "a\\", true, ".\\a\\", "./a/"},          // the current folder,
      {"", "", "\\abs\\", true, ".\\abs\\", "./abs/"},  // never the root
      {"", "", "", false, ".\\", "./"},
      {"/", "", "a\\", true, "/\\a\\", "/a/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EntryDestFolder(c.dest, c.root, c.stored, c.recreate, Win32PathRules), c.win32) << c.stored;
    EXPECT_EQ(EntryDestFolder(c.dest, c.root, c.stored, c.recreate, PosixPathRules), c.posix) << c.stored;
  }
}

TEST(UnZipDestinationPaths, ClimbingStoredPaths) {
  for (const char* path : {"..\\evil", "a\\..\\..\\evil", "..", "a\\..", "C:..\\x"})
    EXPECT_TRUE(StoredPathClimbs(path, PosixPathRules)) << path;
  for (const char* path : {"a\\b", "..a\\b", "a..\\b", "...", "a\\.\\b"})
    EXPECT_FALSE(StoredPathClimbs(path, PosixPathRules)) << path;
  // Win32 folds trailing dots and blanks: "..." and ". ." reach the parent there.
  EXPECT_TRUE(StoredPathClimbs("a\\...\\x", Win32PathRules));
  EXPECT_TRUE(StoredPathClimbs(".. \\x", Win32PathRules));
  EXPECT_FALSE(StoredPathClimbs(".\\x", Win32PathRules));
  EXPECT_TRUE(StoredPathClimbs(std::string("a\0b", 3), PosixPathRules));
}

// The names Windows reserves or refuses, and the safe names they are written as.
TEST(UnZipDestinationPaths, WindowsSafeNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"aux.txt", "_aux.txt"},
      {"NUL", "_NUL"},
      {"Com1.log", "_Com1.log"},
      {"lpt9", "_lpt9"},
      {"con.tar.gz", "_con.tar.gz"},
      {"aux .c", "_aux .c"},
      {"COM\xC2\xB9", "_COM\xC2\xB9"},
      {"conin$", "_conin$"},
      {"a:b", "a_b"},
      {"q?<>|*\"", "q______"},
      {"tab\tx", "tab_x"},
      {"dot.", "dot_"},
      {"blank ", "blank_"},
      {"aux.", "aux_"},
      {".", "."},
      {"..", ".."},
      {"auxiliary.c", "auxiliary.c"},
      {"com10", "com10"},
      {"comx", "comx"},
      {"x.aux", "x.aux"},
  };
  for (const auto& [name, safe] : cases) EXPECT_EQ(WindowsSafeName(name), safe) << name;
  EXPECT_EQ(WindowsSafeStoredPath("src\\AUX\\nul.h"), "src\\_AUX\\_nul.h");
  EXPECT_EQ(WindowsSafeStoredPath("C:\\a:b"), "C:\\a_b");  // the drive stays, for EntryDestFolder
  EXPECT_EQ(WindowsSafeStoredPath("\\root\\"), "\\root\\");
  EXPECT_EQ(WindowsSafeStoredPath("ab:c"), "ab_c");  // one name: the component ends a folder at ":"
}

}  // namespace
