// The POSIX backend's file-system contracts that callers rely on.

#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

TEST(PlatformCopy, ReplacesTargetAndRefusesSelfCopy) {
  testsupport::TTempFolder tmp;
  std::string big(3 << 20, 'q');
  big[12345] = 'x';
  testsupport::WriteFile(tmp / "src", big);
  testsupport::WriteFile(tmp / "dst", "old");
  ASSERT_TRUE(CopyFileOver(tmp / "src", tmp / "dst"));
  EXPECT_EQ(testsupport::ReadFile(tmp / "dst"), big);

  SetLastSystemError(0);
  EXPECT_FALSE(CopyFileOver(tmp / "src", tmp / "src"));
  EXPECT_NE(LastSystemError(), 0);
  EXPECT_FALSE(CopyFileOver(tmp / "src", tmp.Path().string() + "/./src")) << "the same file by another name";
  fs::create_hard_link(tmp.Path() / "src", tmp.Path() / "hard");
  EXPECT_FALSE(CopyFileOver(tmp / "hard", tmp / "src"));
  EXPECT_EQ(testsupport::ReadFile(tmp / "src"), big);

  EXPECT_FALSE(CopyFileOver(tmp / "missing", tmp / "dst"));
  EXPECT_EQ(LastSystemError(), ErrorFileNotFound);
  EXPECT_FALSE(CopyFileOver(tmp.Path().string(), tmp / "dst2")) << "a folder is no file";
  EXPECT_FALSE(CopyFileOver(tmp / "src", tmp / "nofolder/dst"));
  // No temporary files are left behind by the failures.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(tmp.Path())) ++entries;
  EXPECT_EQ(entries, 3u);
}

TEST(PlatformCopy, RenameOverReplacesTargetAndFailsCleanly) {
  testsupport::TTempFolder tmp;
  testsupport::WriteFile(tmp / "new", "new");
  testsupport::WriteFile(tmp / "old", "old");
  fs::permissions(tmp.Path() / "old", fs::perms::owner_read);
  ASSERT_TRUE(RenameFileOver(tmp / "new", tmp / "old")) << "read-only as it is";
  EXPECT_EQ(testsupport::ReadFile(tmp / "old"), "new");
  EXPECT_FALSE(fs::exists(tmp.Path() / "new"));
  // A folder is not replaced, a missing source replaces nothing.
  fs::create_directory(tmp.Path() / "dir");
  EXPECT_FALSE(RenameFileOver(tmp / "old", tmp / "dir"));
  EXPECT_FALSE(RenameFileOver(tmp / "missing", tmp / "old"));
  EXPECT_EQ(LastSystemError(), ErrorFileNotFound);
  EXPECT_EQ(testsupport::ReadFile(tmp / "old"), "new");
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "dir"));
}

TEST(PlatformFolders, PrivateFoldersAreUniqueAndClosed) {
  testsupport::TTempFolder tmp;
  const std::string a = MakePrivateFolder(tmp.Path().string() + "/", "corvane-");
  const std::string b = MakePrivateFolder(tmp.Path().string() + "/", "corvane-");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.back(), '/');
  EXPECT_EQ(fs::status(a).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(MakePrivateFolder(tmp / "missing/", "x").empty());
}

TEST(PlatformFolders, ListingShowsLinksAsFiles) {
  testsupport::TTempFolder tmp;
  fs::create_directory(tmp.Path() / "dir");
  fs::create_directory_symlink(tmp.Path() / "dir", tmp.Path() / "link");
  testsupport::WriteFile(tmp / "ro", "x");
  fs::permissions(tmp.Path() / "ro", fs::perms::owner_read);
  const auto entries = ListFolder(tmp.Path().string());
  ASSERT_TRUE(entries);
  std::map<std::string, std::uint32_t> byName;
  for (const auto& e : *entries) byName[e.Name] = e.Attributes;
  EXPECT_TRUE(byName.count(".") && byName.count(".."));
  EXPECT_TRUE(byName["dir"] & faDirectory);
  EXPECT_FALSE(byName["link"] & faDirectory);
  EXPECT_TRUE(byName["ro"] & faReadOnly);
  EXPECT_TRUE(WriteAttributes(tmp / "ro", faArchive));
  EXPECT_FALSE(*ReadAttributes(tmp / "ro") & faReadOnly);
  EXPECT_FALSE(ListFolder(tmp / "missing"));

  // What a path names, without opening it: a FIFO with no writer would block an open.
  ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(QueryFileKind(tmp / "fifo"), TFileKind::Other);
  EXPECT_EQ(QueryFileKind("/dev/null"), TFileKind::Other);
  EXPECT_EQ(QueryFileKind(tmp / "ro"), TFileKind::Regular);
  EXPECT_EQ(QueryFileKind(tmp / "link"), TFileKind::Folder);
  EXPECT_FALSE(QueryFileKind(tmp / "missing"));
}

TEST(PlatformFolders, ForceFoldersCreatesChainsAndShortRelativeNames) {
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

TEST(PlatformTimes, LastWriteTimeRoundTripsThroughLocalTime) {
  testsupport::TTempFolder tmp;
  testsupport::WriteFile(tmp / "f", "x");
  TFile file = TFile::Open(tmp / "f", TFileAccess::Write, TFileShare::ReadWrite, TFileCreation::OpenExisting);
  ASSERT_TRUE(file.IsOpen());
  const auto utc = LocalToUtc(TCalendar{2001, 2, 3, 4, 5, 6, 0});
  ASSERT_TRUE(utc);
  ASSERT_TRUE(file.SetLastWriteTime(*utc));
  const auto back = UtcToLocal(*file.LastWriteTime());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Year, 2001);
  EXPECT_EQ(back->Month, 2);
  EXPECT_EQ(back->Day, 3);
  EXPECT_EQ(back->Hour, 4);
  EXPECT_EQ(back->Minute, 5);
  EXPECT_EQ(back->Second, 6);
}

TEST(PlatformFiles, OpenReadWriteSeekAndView) {
  testsupport::TTempFolder tmp;
  EXPECT_FALSE(
      TFile::Open(tmp.Path().string(), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting).IsOpen());
  TFile file = TFile::Open(tmp / "f", TFileAccess::ReadWrite, TFileShare::None, TFileCreation::CreateAlways);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Write("hello world", 11), 11);
  EXPECT_EQ(file.Seek(-5, TSeekOrigin::End), 6);
  char buffer[8] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(file.Size(), 11);
  EXPECT_EQ(file.Kind(), TFileKind::Regular);
  TFileBytes bytes;
  ASSERT_TRUE(bytes.Load(file));
  EXPECT_EQ(bytes.View(), "hello world");
  // A device is read from where it stands, never sought back.
  TFile device = TFile::Open("/dev/null", TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
  EXPECT_EQ(device.Kind(), TFileKind::Other);
  TFileBytes nothing;
  EXPECT_TRUE(nothing.Load(device));
  EXPECT_EQ(nothing.View(), "");
  TFileBytes moved = std::move(bytes);
  EXPECT_EQ(moved.View(), "hello world");
  EXPECT_EQ(bytes.View(), "");
}

}  // namespace
