// KestrelUnZipSurface: the component's defaults, setters, events and exception classes.

#include <gtest/gtest.h>

#include <type_traits>

#include "tests/support/test_support.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel {
namespace {

template <class E>
constexpr bool DerivesOnlyFromBase() {
  return std::is_base_of_v<Exception, E> && std::is_base_of_v<std::runtime_error, E>;
}

static_assert(DerivesOnlyFromBase<ENotAZipFile>() && DerivesOnlyFromBase<EBadZipFile>() &&
              DerivesOnlyFromBase<EIncompleteZip>() && DerivesOnlyFromBase<EFatalUnzipError>() &&
              DerivesOnlyFromBase<EUserCanceled>() && DerivesOnlyFromBase<EBiggerThanUncompressed>() &&
              DerivesOnlyFromBase<ECantWriteUCF>());
static_assert(!std::is_base_of_v<ENotAZipFile, EBadZipFile> && !std::is_base_of_v<EBadZipFile, ENotAZipFile>,
              "no common zip base class");

TEST(KestrelUnZipSurface, Defaults) {
  TKestrelUnZip unzip;
  EXPECT_EQ(unzip.BtsDone(), 0);
  EXPECT_EQ(unzip.ZipInfo(), nullptr);
  EXPECT_EQ(unzip.ThisVersion(), 223);
  EXPECT_EQ(unzip.ZipName(), "");
  EXPECT_EQ(unzip.DestDir(), "");
  EXPECT_EQ(unzip.RootDir(), "");
  EXPECT_EQ(unzip.SortMode(), ByNone);
  EXPECT_FALSE(unzip.RecreateDirs());
  EXPECT_EQ(unzip.OverwriteMode(), TUZOverwriteMode::Prompt);
  EXPECT_TRUE(unzip.FilesList().empty());
  EXPECT_FALSE(unzip.DoAll());
  EXPECT_EQ(unzip.IncompleteZipMode(), izAssumeMulti);
  EXPECT_FALSE(unzip.KeepZipOpen());
  EXPECT_TRUE(unzip.DoProcessMessages());
  EXPECT_TRUE(unzip.RetainAttributes());
  EXPECT_FALSE(unzip.ReplaceReadOnly());
  EXPECT_FALSE(unzip.FlushFilesOnClose());
  EXPECT_TRUE(unzip.OEMConvert());
  EXPECT_TRUE(unzip.VerifyDiskLabels());
  EXPECT_EQ(unzip.EntryCount(), 0);
  EXPECT_TRUE(static_cast<bool>(unzip.OnGetNextDisk)) << "the built-in next-disk handler";
  EXPECT_FALSE(static_cast<bool>(unzip.OnStartUnZip));
  EXPECT_FALSE(static_cast<bool>(unzip.OnInCompleteZip));
  EXPECT_FALSE(static_cast<bool>(unzip.OnReadZip));
  EXPECT_TRUE(unzip.NewEntry()->OEMConvert);
  unzip.SetOEMConvert(false);
  EXPECT_FALSE(unzip.NewEntry()->OEMConvert);
  unzip.SetThisVersion(5);
  EXPECT_EQ(unzip.ThisVersion(), 223);
}

TEST(KestrelUnZipSurface, FolderSetters) {
  TKestrelUnZip unzip;
  unzip.SetDestDir("C:\\work\\");
  EXPECT_EQ(unzip.DestDir(), "C:\\work");
  unzip.SetDestDir("?\\");
  EXPECT_EQ(unzip.DestDir(), "?");
  try {
    unzip.SetDestDir("?");  // a console has no folder dialog: cancelled
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Set Desination Directory");
  }
  unzip.SetRootDir("docs");
  EXPECT_EQ(unzip.RootDir(), "docs\\");
  unzip.SetRootDir("docs\\");
  EXPECT_EQ(unzip.RootDir(), "docs\\");
  unzip.SetRootDir("");
  EXPECT_EQ(unzip.RootDir(), "");
  try {
    unzip.SetZipName("pick?");
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled setting zip file name.");
  }
  EXPECT_EQ(unzip.ZipName(), "");
  unzip.SetZipName("a.zip");
  unzip.SetZipName("A.zip");  // another file where names are case-sensitive
  EXPECT_EQ(unzip.ZipName(), platform::HostPathRules().CaseInsensitive ? "a.zip" : "A.zip");
  // Where a name may end in "?", a file so named is the archive, not a dialog's request.
  const testsupport::TTempFolder folder;
  testsupport::WriteFile(folder.Path() / "pick?", "");
  unzip.SetZipName(folder / "pick?");
  EXPECT_EQ(unzip.ZipName(), folder / "pick?");
}

TEST(KestrelUnZipSurface, AssignCopiesSettingsAndHandlers) {
  TKestrelUnZip source;
  source.SetZipName("a.zip");
  source.SetDestDir("out");
  source.SetRecreateDirs(true);
  source.SetOverwriteMode(TUZOverwriteMode::Always);
  source.SetFilesList({"*.*"});
  source.SetIncompleteZipMode(izAssumeNotAZip);
  source.SetSortMode(ByDate);
  int fired = 0;
  source.OnUnZipComplete = [&](TKestrelUnZip&, std::int32_t) { ++fired; };
  source.OnReadZip = [](TKestrelUnZip&, TZipHeaderInfo&) {};
  TKestrelUnZip copy;
  copy.Assign(source);
  EXPECT_EQ(copy.ZipName(), "a.zip");
  EXPECT_EQ(copy.DestDir(), "out");
  EXPECT_TRUE(copy.RecreateDirs());
  EXPECT_EQ(copy.OverwriteMode(), TUZOverwriteMode::Always);
  EXPECT_EQ(copy.FilesList(), std::vector<std::string>{"*.*"});
  EXPECT_EQ(copy.IncompleteZipMode(), izAssumeNotAZip);
  EXPECT_EQ(copy.SortMode(), ByDate);
  ASSERT_TRUE(static_cast<bool>(copy.OnUnZipComplete));
  copy.OnUnZipComplete(copy, 0);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(static_cast<bool>(copy.OnReadZip));
}

TEST(KestrelUnZipSurface, IndexOutOfRange) {
  TKestrelUnZip unzip;
  try {
    unzip.FileName(0);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index 0 is out of range");
  }
}

}  // namespace
}  // namespace kestrel
