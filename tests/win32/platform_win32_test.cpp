// The Win32 backend of the platform layer, run on Windows (here: under Wine) with
// the programs' manifest, so the ANSI code page is UTF-8. Each test works in a
// private folder of its own under the temporary-files directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "converter/file_utils.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace {

using namespace platform;

// System error codes the backend reports.
constexpr int ErrorSharingViolation = 32;
constexpr int ErrorAlreadyExists = 183;
constexpr int ErrorFileNameTooLong = 206;

class Win32Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakePrivateFolder(TempFolder(), "backend-");
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { corvane::ClearFolderTree(folder_, true); }

  std::string In(const std::string& name) const { return folder_ + name; }

  static void Put(const std::string& path, const std::string& bytes) {
    TFile file = TFile::Open(path, TFileAccess::Write, TFileShare::None, TFileCreation::CreateAlways);
    ASSERT_TRUE(file.IsOpen()) << path << ": " << SystemErrorText(LastSystemError());
    ASSERT_EQ(file.Write(bytes.data(), bytes.size()), static_cast<std::int64_t>(bytes.size()));
    ASSERT_TRUE(file.Close());
  }

  static std::string Get(const std::string& path) {
    TFile file = TFile::Open(path, TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
    if (!file.IsOpen()) return "<missing>";
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    file.Read(bytes.data(), bytes.size());
    return bytes;
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    const auto entries = ListFolder(folder_);
    for (const auto& entry : entries.value()) {
      if (entry.Name != "." && entry.Name != "..") names.push_back(entry.Name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string folder_;
};

TEST_F(Win32Backend, PathsFollowTheWin32Rules) {
  EXPECT_EQ(&HostPathRules(), &Win32PathRules);
  EXPECT_EQ(folder_.back(), '\\');
  const std::string temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');

  // Steps are folded, both separators are taken, and a path keeps its drive.
  EXPECT_EQ(FullPath(folder_ + "a\\.\\b\\..\\c/d"), folder_ + "a\\c\\d");
  EXPECT_EQ(FullPath("Z:\\x\\y\\..\\z"), "Z:\\x\\z");
  // Full paths that do not fit the system's 260-character buffer are refused, not cut.
  const std::string deep = "Z:\\" + std::string(300, 'n');
  SetLastSystemError(0);
  EXPECT_EQ(FullPath(deep), "");
  EXPECT_EQ(LastSystemError(), ErrorFileNameTooLong);
  const std::string fits = "Z:\\" + std::string(250, 'n');
  EXPECT_EQ(FullPath(fits), fits);
}

TEST_F(Win32Backend, PrivateFoldersAreFreshAndFoldersBehaveAsOnWindows) {
  const std::string a = MakePrivateFolder(folder_, "run-");
  const std::string b = MakePrivateFolder(folder_, "run-");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(folder_ + "run-", 0), 0u);
  EXPECT_TRUE((ReadAttributes(a).value() & faDirectory) != 0);
  // The folder is usable by its owner.
  Put(a + "inside.txt", "x");
  EXPECT_EQ(Get(a + "inside.txt"), "x");

  EXPECT_TRUE(MakeFolder(In("sub")));
  EXPECT_FALSE(MakeFolder(In("sub")));
  EXPECT_EQ(LastSystemError(), ErrorAlreadyExists);
  Put(In("sub\\f"), "1");
  EXPECT_FALSE(RemoveFolder(In("sub")));  // not empty
  EXPECT_TRUE(RemoveFile(In("sub\\f")));
  EXPECT_TRUE(RemoveFolder(In("sub")));
}

TEST_F(Win32Backend, OpenModesHonourAccessAndSharing) {
  Put(In("data.bin"), "0123456789");
  {
    TFile missing = TFile::Open(In("none.bin"), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(LastSystemError(), ErrorFileNotFound);
    MakeFolder(In("folder"));
    TFile folder = TFile::Open(In("folder"), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
    EXPECT_FALSE(folder.IsOpen());
  }
  {
    // Nobody else may open a file held without sharing.
    TFile held = TFile::Open(In("data.bin"), TFileAccess::ReadWrite, TFileShare::None, TFileCreation::OpenExisting);
    ASSERT_TRUE(held.IsOpen());
    TFile second = TFile::Open(In("data.bin"), TFileAccess::Read, TFileShare::ReadWrite, TFileCreation::OpenExisting);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(LastSystemError(), ErrorSharingViolation);
  }
  {
    // Shared for reading: other readers come in, a writer does not.
    TFile reader = TFile::Open(In("data.bin"), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
    ASSERT_TRUE(reader.IsOpen());
    TFile other = TFile::Open(In("data.bin"), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
    EXPECT_TRUE(other.IsOpen());
    TFile writer = TFile::Open(In("data.bin"), TFileAccess::Write, TFileShare::ReadWrite, TFileCreation::OpenExisting);
    EXPECT_FALSE(writer.IsOpen());

    char bytes[4] = {};
    EXPECT_EQ(reader.Seek(3, TSeekOrigin::Begin), 3);
    EXPECT_EQ(reader.Read(bytes, 4), 4);
    EXPECT_EQ(std::string(bytes, 4), "3456");
    EXPECT_EQ(reader.Seek(-2, TSeekOrigin::End), 8);
    EXPECT_EQ(reader.Read(bytes, 4), 2);
    EXPECT_EQ(reader.Size(), 10);
    // A copy from another file leaves that file's position where it was.
    TFile out = TFile::Open(In("copy.bin"), TFileAccess::Write, TFileShare::None, TFileCreation::CreateAlways);
    reader.Seek(1, TSeekOrigin::Begin);
    EXPECT_EQ(out.CopyFrom(reader, 5, 100), 5);
    EXPECT_EQ(reader.Seek(0, TSeekOrigin::Current), 1);
  }
  EXPECT_EQ(Get(In("copy.bin")), "56789");
}

TEST_F(Win32Backend, DeviceNamesAreNeverWrittenAsFiles) {
  for (const char* name : {"NUL", "nul.txt", "CON", "Con.xml"}) {
    TFile device = TFile::Open(In(name), TFileAccess::Write, TFileShare::None, TFileCreation::CreateAlways);
    EXPECT_FALSE(device.IsOpen()) << name;
  }
  TFile reading = TFile::Open("NUL", TFileAccess::Read, TFileShare::ReadWrite, TFileCreation::OpenExisting);
  EXPECT_TRUE(reading.IsOpen());
  EXPECT_TRUE(Names().empty());
}

// The Mark of the Web lives in a named stream: on a volume that keeps them it goes
// with the file and leaves its bytes alone; elsewhere nothing stands for it, not
// even a file named after the stream.
TEST_F(Win32Backend, TheMarkOfTheWebIsAStreamOfTheFile) {
  const std::string mark = "[ZoneTransfer]\r\nZoneId=3\r\n";
  Put(In("archive.zip"), "PK");
  EXPECT_FALSE(ReadZoneIdentifier(In("archive.zip")).has_value());
  if (WriteZoneIdentifier(In("archive.zip"), mark)) {
    EXPECT_EQ(ReadZoneIdentifier(In("archive.zip")), mark);
    EXPECT_EQ(Get(In("archive.zip")), "PK");
  } else {
    EXPECT_FALSE(ReadZoneIdentifier(In("archive.zip")).has_value());
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"archive.zip"});
}

TEST_F(Win32Backend, AttributesAreTheFileSystemsOwn) {
  Put(In("a.txt"), "a");
  EXPECT_EQ(ReadAttributes(In("a.txt")).value() & (faReadOnly | faDirectory), 0u);
  ASSERT_TRUE(WriteAttributes(In("a.txt"), faReadOnly | faHidden));
  EXPECT_EQ(ReadAttributes(In("a.txt")).value() & (faReadOnly | faHidden), faReadOnly | faHidden);
  ASSERT_TRUE(WriteAttributes(In("a.txt"), faArchive));
  EXPECT_EQ(ReadAttributes(In("a.txt")).value() & (faReadOnly | faHidden), 0u);
  EXPECT_FALSE(IsSymbolicLink(In("a.txt")));
  EXPECT_FALSE(ReadAttributes(In("missing")).has_value());

  // An extracted file takes its entry's attributes through the open handle; its
  // times stay as set.
  TFile file = TFile::Open(In("b.txt"), TFileAccess::Write, TFileShare::None, TFileCreation::CreateAlways);
  ASSERT_TRUE(file.IsOpen());
  const TFileTime when{1600000000, 500000000};
  ASSERT_TRUE(file.SetLastWriteTime(when));
  ASSERT_TRUE(file.ApplyAttributes(faReadOnly, 0644));
  EXPECT_EQ(file.LastWriteTime().value(), when);
  file.Close();
  EXPECT_NE(ReadAttributes(In("b.txt")).value() & faReadOnly, 0u);

  // The work folder's cleanup removes read-only files and folders alike.
  MakeFolder(In("tree"));
  Put(In("tree\\ro.txt"), "r");
  WriteAttributes(In("tree\\ro.txt"), faReadOnly);
  WriteAttributes(In("tree"), faReadOnly | faDirectory);
  EXPECT_TRUE(corvane::ClearFolderTree(In("tree"), true));
  EXPECT_FALSE(ReadAttributes(In("tree")).has_value());
}

TEST_F(Win32Backend, ListingShowsEveryEntry) {
  Put(In(".rels"), "");
  Put(In("Content.xml"), "<x/>");
  MakeFolder(In("META-INF"));
  const auto entries = ListFolder(folder_).value();
  int dots = 0;
  for (const auto& entry : entries) {
    if (entry.Name == "." || entry.Name == "..") ++dots;
    if (entry.Name == "META-INF") {
      EXPECT_NE(entry.Attributes & faDirectory, 0u);
    }
    if (entry.Name == "Content.xml") {
      EXPECT_EQ(entry.Attributes & faDirectory, 0u);
    }
  }
  EXPECT_EQ(dots, 2);
  EXPECT_EQ(Names(), (std::vector<std::string>{".rels", "Content.xml", "META-INF"}));
  // The file system ignores case: the part is found under any spelling.
  EXPECT_TRUE(corvane::FileReadable(In("content.xml")));
  EXPECT_TRUE(corvane::FileReadable(In("CONTENT.XML")));
}

TEST_F(Win32Backend, SameFileIgnoresCaseAndSpelling) {
  Put(In("Doc.xml"), "<doc/>");
  Put(In("other.xml"), "<other/>");
  EXPECT_TRUE(SameFile(In("Doc.xml"), In("DOC.XML")));
  EXPECT_TRUE(SameFile(In("Doc.xml"), In("sub\\..\\doc.xml")));
  EXPECT_TRUE(SameFile(In("Doc.xml"), In("doc.xml").substr(0, folder_.size()) + "./Doc.xml"));
  EXPECT_FALSE(SameFile(In("Doc.xml"), In("other.xml")));

  // Copying a file onto itself, under any spelling, is refused and leaves it whole.
  EXPECT_FALSE(CopyFileOver(In("Doc.xml"), In("DOC.XML")));
  EXPECT_EQ(LastSystemError(), ErrorSharingViolation);
  EXPECT_EQ(Get(In("Doc.xml")), "<doc/>");
  ASSERT_TRUE(CopyFileOver(In("Doc.xml"), In("other.xml")));
  EXPECT_EQ(Get(In("other.xml")), "<doc/>");

  ASSERT_TRUE(RenameFile(In("other.xml"), In("moved.xml")));
  EXPECT_FALSE(RenameFile(In("Doc.xml"), In("moved.xml")));  // the target exists
  // Replaced, read-only as it is.
  Put(In("Doc.xml"), "<new/>");
  ASSERT_TRUE(WriteAttributes(In("moved.xml"), faReadOnly));
  ASSERT_TRUE(RenameFileOver(In("Doc.xml"), In("moved.xml"))) << SystemErrorText(LastSystemError());
  EXPECT_EQ(Get(In("moved.xml")), "<new/>");
  EXPECT_TRUE(RemoveFile(In("moved.xml")));
  EXPECT_FALSE(RemoveFile(In("moved.xml")));
  EXPECT_EQ(LastSystemError(), ErrorFileNotFound);
}

TEST_F(Win32Backend, LocalTimesRoundTrip) {
  const TCalendar local{2021, 6, 15, 12, 34, 56, 0};
  const auto utc = LocalToUtc(local);
  ASSERT_TRUE(utc.has_value());
  const auto back = UtcToLocal(*utc);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->Year, 2021);
  EXPECT_EQ(back->Month, 6);
  EXPECT_EQ(back->Day, 15);
  EXPECT_EQ(back->Hour, 12);
  EXPECT_EQ(back->Minute, 34);
  EXPECT_EQ(back->Second, 56);
  EXPECT_FALSE(LocalToUtc(TCalendar{2021, 13, 1, 0, 0, 0, 0}).has_value());
}

TEST_F(Win32Backend, ReplacingAFileLeavesAnEarlierViewWhole) {
  Put(In("doc.xml"), "<old/>");
  TFile file = TFile::Open(In("doc.xml"), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
  EXPECT_EQ(file.Kind(), TFileKind::Regular);
  TFileBytes bytes;
  ASSERT_TRUE(bytes.Load(file));
  file.Close();
  // A device is read from where it stands, never sought back.
  TFile device = TFile::Open("NUL", TFileAccess::Read, TFileShare::ReadWrite, TFileCreation::OpenExisting);
  EXPECT_EQ(device.Kind(), TFileKind::Other);
  TFileBytes nothing;
  EXPECT_TRUE(nothing.Load(device));
  EXPECT_EQ(nothing.View(), "");
  {
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(In("doc.xml"), In("doc.xml")));
    ASSERT_EQ(replacement.File().Write("<new/>", 6), 6);
    ASSERT_TRUE(replacement.Commit()) << SystemErrorText(LastSystemError());
  }
  EXPECT_EQ(bytes.View(), "<old/>");
  EXPECT_EQ(Get(In("doc.xml")), "<new/>");
  {
    // Not committed: the target stays, the new file goes.
    TFileReplacement abandoned;
    ASSERT_TRUE(abandoned.Begin(In("doc.xml"), In("doc.xml")));
    abandoned.File().Write("x", 1);
  }
  EXPECT_EQ(Get(In("doc.xml")), "<new/>");
  EXPECT_EQ(Names(), std::vector<std::string>{"doc.xml"});
}

TEST_F(Win32Backend, NamesBeyondTheLegacyCodePagesArePreserved) {
  ASSERT_TRUE(AnsiIsUtf8());
  const std::string name = "\xCE\xA9mega-\xE6\x97\xA5\xE6\x9C\xAC.txt";  // "Ωmega-日本.txt"
  Put(In(name), "u");
  EXPECT_EQ(Names(), std::vector<std::string>{name});
  EXPECT_EQ(Get(In(name)), "u");

  // UTF-8 names pass unchanged; OEM names are code page 437 (the system locale's
  // OEM code page under Wine's default locale).
  EXPECT_EQ(Utf8ToAnsi(name), name);
  EXPECT_EQ(OemToAnsi("m\x81nchen-k\x94ln"), "m\xC3\xBCnchen-k\xC3\xB6ln");
  EXPECT_EQ(OemToAnsi("plain.txt"), "plain.txt");

  EXPECT_EQ(AnsiToUtf16("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
  EXPECT_EQ(AnsiToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  // Case: only ASCII changes byte by byte; whole texts compare by the user's rules.
  EXPECT_EQ(AnsiLowerCase("CONTENT.XML"), "content.xml");
  EXPECT_EQ(AnsiLowerCase("\xC3\x84"
                          "BC"),
            "\xC3\x84"
            "bc");
  EXPECT_EQ(AnsiCompareText("Content.XML", "content.xml"), 0);
  EXPECT_EQ(AnsiCompareText("\xC3\x84rger", "\xC3\xA4RGER"), 0);
  EXPECT_LT(AnsiCompareText("a.txt", "B.txt"), 0);
  EXPECT_GT(AnsiCompareText("b.txt", "A.txt"), 0);
}

}  // namespace
