// ZipDirectoryLoading: the directory of real and crafted archives, the rebuild from
// local headers, IncompleteZipMode, volumes and the .zfc companion.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "unzip/kestrel_unzip.h"
#include "zip_builder.h"

namespace kestrel {
namespace {

using ziptest::TEntrySpec;

std::vector<std::string> Listing(TKestrelUnZip& unzip) {
  std::vector<std::string> lines;
  if (const TSortedZip* list = unzip.ZipInfo())
    for (std::int32_t i = 0; i < list->Count(); ++i) {
      const TZipHeaderInfo& e = *list->Items(i);
      lines.push_back(e.StoredPath() + " " + std::to_string(e.CompressedSize) + "@" +
                      std::to_string(e.LocalHeaderOffset));
    }
  return lines;
}

/// Loads a directory as an extraction does: LoadZipDirectory, then OpenZip.
void Load(TKestrelUnZip& unzip, const std::string& name, TIncompleteZipMode mode) {
  unzip.SetIncompleteZipMode(mode);
  unzip.SetZipName(name);
  unzip.LoadZipDirectory();
  unzip.OpenZip();
  unzip.CloseZip();
}

template <class E>
std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "no failure";
}

std::vector<TEntrySpec> ThreeEntries() { return {{"a.txt", "alpha"}, {"dir/b.txt", "bravo bravo"}, {"dir/", ""}}; }

class ZipDirectoryLoading : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ / name;
    testsupport::WriteFile(path, bytes);
    return path;
  }
  testsupport::TTempFolder folder_;
};

TEST_F(ZipDirectoryLoading, ArchiveOrderAndFields) {
  TKestrelUnZip unzip;
  Load(unzip, Write("t.zip", ziptest::BuildArchive(ThreeEntries(), "the archive comment")), izAssumeNotAZip);
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"a.txt 5@0", "dir\\b.txt 11@40", "dir\\ 0@90"}));
  EXPECT_FALSE(unzip.Rebuilt());
  EXPECT_EQ(unzip.EntryCount(), 3);
  EXPECT_EQ(unzip.ZipComment(), "the archive comment");
  EXPECT_EQ(unzip.FileName(1), "b.txt");
  EXPECT_EQ(unzip.ArchiveStream(), nullptr) << "the archive is closed after loading";
}

TEST_F(ZipDirectoryLoading, EmptyFileHasNoEntries) {
  for (TIncompleteZipMode mode : {izAssumeMulti, izAssumeBad, izAssumeNotAZip}) {
    TKestrelUnZip unzip;
    Load(unzip, Write("empty.zip", ""), mode);
    EXPECT_EQ(unzip.EntryCount(), 0);
    ASSERT_NE(unzip.ZipInfo(), nullptr);
  }
}

TEST_F(ZipDirectoryLoading, ShortFilesAreNotArchives) {
  for (const std::string& bytes : {std::string("P"), ziptest::EndRecord({}).substr(0, 21)}) {
    TKestrelUnZip unzip;
    const std::string name = Write("short.zip", bytes);
    EXPECT_EQ(FailureOf<ENotAZipFile>([&] { Load(unzip, name, izAssumeNotAZip); }), "Not a valid zip file!");
    EXPECT_EQ(unzip.ZipName(), "") << "the archive state is reset";
    EXPECT_EQ(unzip.ZipInfo(), nullptr);
  }
}

TEST_F(ZipDirectoryLoading, PlainXmlUnderEachMode) {
  const std::string name = Write("doc.xml", "<?xml version=\"1.0\"?>\n<doc>PK not an archive</doc>\n");
  {
    TKestrelUnZip unzip;
    EXPECT_EQ(FailureOf<ENotAZipFile>([&] { Load(unzip, name, izAssumeNotAZip); }), "Not a valid zip file!");
  }
  {
    TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(izAssumeMulti);
    unzip.SetZipName(name);
    EXPECT_NO_THROW(unzip.LoadZipDirectory()) << "without a handler the loading itself stays quiet";
    EXPECT_EQ(FailureOf<EIncompleteZip>([&] { unzip.OpenZip(); }), "Incomplete Zip File");
  }
  {
    TKestrelUnZip unzip;
    EXPECT_EQ(FailureOf<EBadZipFile>([&] { Load(unzip, name, izAssumeBad); }), "Not a valid zip file!");
  }
}

TEST_F(ZipDirectoryLoading, CutShortModeReadsOnlyWhatHoldsEntries) {
  const std::string whole = ziptest::BuildArchive(ThreeEntries());
  TKestrelUnZip cut;
  Load(cut, Write("cut.zip", whole.substr(0, whole.find("PK\x01\x02"))), izAssumeCutShort);
  EXPECT_EQ(cut.EntryCount(), 3);
  EXPECT_TRUE(cut.Rebuilt() && cut.EndRecordMissing());
  TKestrelUnZip intact;
  Load(intact, Write("whole.zip", whole), izAssumeCutShort);
  EXPECT_FALSE(intact.EndRecordMissing());
  // Nothing found stays what izAssumeNotAZip says, with its cause.
  TKestrelUnZip none;
  try {
    Load(none, Write("doc.xml", "<doc>PK not an archive</doc>"), izAssumeCutShort);
    ADD_FAILURE() << "no failure";
  } catch (const ENotAZipFile& e) {
    EXPECT_EQ(e.Cause, "no end-of-central-directory record");
    EXPECT_FALSE(e.RecordFound);
  }
}

TEST_F(ZipDirectoryLoading, IncompleteHandlerDecidesAndIsNotAskedForever) {
  const std::string name = Write("doc.xml", "plain text, no archive at all");
  TKestrelUnZip unzip;
  int calls = 0;
  unzip.OnInCompleteZip = [&](TKestrelUnZip&, TIncompleteZipMode& mode) {
    ++calls;
    EXPECT_EQ(mode, izAssumeMulti);
  };
  unzip.SetZipName(name);
  EXPECT_NO_THROW(unzip.LoadZipDirectory());
  EXPECT_LE(calls, 2) << "an unchanged file is not tried again and again";

  TKestrelUnZip other;
  other.OnInCompleteZip = [](TKestrelUnZip&, TIncompleteZipMode& mode) { mode = izAssumeNotAZip; };
  other.SetZipName(name);
  EXPECT_EQ(FailureOf<ENotAZipFile>([&] { other.LoadZipDirectory(); }), "Not a valid zip file!");
}

TEST_F(ZipDirectoryLoading, ImplausibleEndRecordsCountAsMissing) {
  const std::string archive = ziptest::BuildArchive(ThreeEntries());
  struct TCase {
    std::size_t Offset;
    std::uint32_t Value;
    int Width;
    const char* Why;
  };
  const std::size_t end = archive.size() - 22;
  const TCase cases[] = {
      {end + 4, 1000, 2, "ThisDisk 1000"},
      {end + 6, 1000, 2, "CentralDirDisk 1000"},
      {end + 6, 1, 2, "ThisDisk below CentralDirDisk"},
      {end + 16, 0x80000000, 4, "directory offset past the end record"},
  };
  for (const TCase& c : cases) {
    std::string bytes = archive;
    std::string field;
    if (c.Width == 2)
      ziptest::PutU16(field, c.Value);
    else
      ziptest::PutU32(field, c.Value);
    bytes.replace(c.Offset, field.size(), field);
    TKestrelUnZip unzip;
    const std::string name = Write("odd.zip", bytes);
    EXPECT_EQ(FailureOf<ENotAZipFile>([&] { Load(unzip, name, izAssumeNotAZip); }), "Not a valid zip file!") << c.Why;
  }
}

// ZIP64 records: sizes, offsets and counts from the ZIP64 extra fields and end
// record; damaged records refuse the archive, and damaged extra fields send the
// reader to the local headers, as any unreadable central directory does.
TEST_F(ZipDirectoryLoading, Zip64RecordsAndTheirDamage) {
  const std::string good = ziptest::BuildZip64Archive(ThreeEntries());
  TKestrelUnZip unzip;
  Load(unzip, Write("z64.zip", good), izAssumeNotAZip);
  EXPECT_FALSE(unzip.Rebuilt());
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"a.txt 5@0", "dir\\b.txt 11@60", "dir\\ 0@130"}));
  EXPECT_EQ(unzip.EndCentral().TotalEntries, 3u);

  const std::size_t locator = good.size() - 22 - 20;
  const std::size_t record = locator - 56;
  auto patched = [&](std::size_t at, const std::string& bytes) {
    std::string copy = good;
    copy.replace(at, bytes.size(), bytes);
    return copy;
  };
  std::string far;
  ziptest::PutU32(far, 0);
  ziptest::PutU32(far, 0x10000000);  // the record's offset: far outside the file
  std::string two;
  ziptest::PutU16(two, 2);
  // A record found right in front of the locator serves, wherever the locator points.
  Load(unzip, Write("far.zip", patched(locator + 8, far)), izAssumeNotAZip);
  EXPECT_EQ(unzip.EntryCount(), 3);
  for (const auto& [bytes, why] : {std::pair{patched(record, "PK\x06\x05"), "no ZIP64 record at all"},
                                   std::pair{patched(good.size() - 12, two), "classic count 2, ZIP64 count 3"}}) {
    EXPECT_EQ(FailureOf<EBadZipFile>([&] { Load(unzip, Write("bad.zip", bytes), izAssumeNotAZip); }),
              "Not a valid zip file!")
        << why;
  }
  // The first central header's ZIP64 block cut to two values, and one whose size
  // no file can have: the local headers give the entries.
  const std::size_t firstBlock = good.find("PK\x01\x02") + 46 + 5;  // after a.txt's central name
  std::string huge;
  ziptest::PutU32(huge, 0);
  ziptest::PutU32(huge, 0x80000000);
  for (const auto& [bytes, why] : {std::pair{patched(firstBlock + 2, std::string("\x10", 1)), "block of 16 bytes"},
                                   std::pair{patched(firstBlock + 4, huge), "size of 2^63"}}) {
    Load(unzip, Write(std::string("extra") + why[0] + ".zip", bytes), izAssumeNotAZip);
    EXPECT_TRUE(unzip.Rebuilt()) << why;
    EXPECT_EQ(unzip.EntryCount(), 3) << why;
  }
}

// Names that hold the ZIP64 signatures, so that bytes in front of the end record
// look like a locator, pointing at nothing or at a record inside the name: an end
// record without escape values stands. An archive that needs its ZIP64 records
// finds them past such a name.
TEST_F(ZipDirectoryLoading, Zip64SignaturesInNames) {
  const std::filesystem::path fixture = testsupport::Fixture("regressions/zip64_magic_in_filename_1.zip");
  KESTREL_REQUIRE_FIXTURE(fixture);
  std::string record = "PK\x06\x06";
  ziptest::PutU32(record, 44);
  record += std::string(48, '\0');  // the rest of the size, and every count and offset 0
  std::string locator = "PK\x06\x07";
  locator += std::string(16, '\0');  // record on disk 0 at offset 0, no disks
  std::vector<TEntrySpec> entries = ThreeEntries();
  entries.push_back({"magic" + record + locator, "data"});
  std::string pointed = ziptest::BuildArchive(entries);
  // The locator names the record inside the central name.
  std::string at;
  ziptest::PutU32(at, static_cast<std::uint32_t>(pointed.rfind("PK\x06\x06")));
  pointed.replace(pointed.size() - 22 - 12, 4, at);
  const std::pair<std::string, std::size_t> cases[] = {
      {testsupport::ReadFile(fixture), 1},
      {ziptest::BuildArchive(entries), 4},
      {pointed, 4},
      {ziptest::BuildZip64Archive(entries), 4},
  };
  for (const auto& [bytes, count] : cases) {
    TKestrelUnZip unzip;
    Load(unzip, Write("magic.zip", bytes), izAssumeNotAZip);
    EXPECT_FALSE(unzip.Rebuilt()) << count;
    EXPECT_EQ(unzip.EntryCount(), static_cast<std::int32_t>(count));
    // A name ends at a NUL byte, as other readers take it.
    if (count == 1) {
      EXPECT_EQ(unzip.FileName(0), "PK\x06\x06");
    }
  }
}

TEST_F(ZipDirectoryLoading, ZeroEntriesNeedNoSeek) {
  ziptest::TEndSpec end;
  end.CentralDirOffset = 0x7FFFFFF0;  // never visited
  TKestrelUnZip unzip;
  Load(unzip, Write("none.zip", "leading bytes" + ziptest::EndRecord(end)), izAssumeNotAZip);
  EXPECT_EQ(unzip.EntryCount(), 0);
}

TEST_F(ZipDirectoryLoading, CommentsAndLyingExtraLengths) {
  std::vector<TEntrySpec> entries = ThreeEntries();
  entries[0].Comment = "first comment";
  entries[1].CentralExtra = "UT\x01\x00Z";
  const std::string withComments = ziptest::BuildArchive(entries);
  TKestrelUnZip unzip;
  Load(unzip, Write("c.zip", withComments), izAssumeNotAZip);
  ASSERT_EQ(unzip.EntryCount(), 3);
  EXPECT_EQ(unzip.FileComment(0), "first comment");
  EXPECT_EQ(unzip.FileComment(1), "");

  // The first central header announces 4 extra bytes that are not there.
  std::string central = ziptest::CentralHeader(entries[1], 40, 4);
  std::string body;
  std::vector<TEntrySpec> two = {entries[1], entries[2]};
  two[0].CentralExtra.clear();
  const std::string local0 = ziptest::LocalHeader(two[0]) + two[0].Data;
  const std::string local1 = ziptest::LocalHeader(two[1]);
  const std::string lying = ziptest::CentralHeader(two[0], 0, 4) + ziptest::CentralHeader(two[1], local0.size());
  ziptest::TEndSpec end;
  end.TotalEntries = end.EntriesThisDisk = 2;
  end.CentralDirOffset = static_cast<std::uint32_t>(local0.size() + local1.size());
  end.CentralDirSize = static_cast<std::uint32_t>(lying.size());
  TKestrelUnZip backUp;
  Load(backUp, Write("lying.zip", local0 + local1 + lying + ziptest::EndRecord(end)), izAssumeNotAZip);
  EXPECT_FALSE(backUp.Rebuilt()) << "found by backing up, not by a rebuild";
  ASSERT_EQ(backUp.EntryCount(), 2);
  EXPECT_EQ(backUp.ZipInfo()->Items(0)->CentralExtraLength, 0);
  EXPECT_EQ(backUp.ZipInfo()->Items(1)->StoredPath(), "dir\\");
}

// Central headers that share a local header are all listed, in archive order;
// the extraction sorts out which one the header is (UnZipDamagedEntries).
TEST_F(ZipDirectoryLoading, SharedLocalOffsetsAreAllListed) {
  std::vector<TEntrySpec> entries = ThreeEntries();
  std::string body;
  for (const TEntrySpec& e : entries) body += ziptest::LocalHeader(e) + e.Data;
  // The third central header points at the first local header.
  const std::string central = ziptest::CentralHeader(entries[0], 0) + ziptest::CentralHeader(entries[1], 40) +
                              ziptest::CentralHeader(entries[2], 0);
  ziptest::TEndSpec end;
  end.TotalEntries = end.EntriesThisDisk = 3;
  end.CentralDirOffset = static_cast<std::uint32_t>(body.size());
  end.CentralDirSize = static_cast<std::uint32_t>(central.size());
  TKestrelUnZip unzip;
  Load(unzip, Write("dup.zip", body + central + ziptest::EndRecord(end)), izAssumeNotAZip);
  EXPECT_FALSE(unzip.Rebuilt());
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"dir\\ 0@0", "a.txt 5@0", "dir\\b.txt 11@40"}));
}

TEST_F(ZipDirectoryLoading, SelfExtractorIsSearchedFrom14000) {
  // A stub that holds a local header of its own at offset 100, which must not count.
  const TEntrySpec decoy{"decoy.txt", "no"};
  std::string stub(15000, 'M');
  const std::string decoyBytes = ziptest::LocalHeader(decoy) + decoy.Data;
  stub.replace(100, decoyBytes.size(), decoyBytes);
  // Offsets count from the archive proper: the directory, found just in front of
  // the end record, moves them all by the stub's 15,000 bytes.
  const std::string bytes = ziptest::BuildArchive(ThreeEntries(), {}, stub);
  TKestrelUnZip shifted;
  Load(shifted, Write("shifted.zip", bytes), izAssumeNotAZip);
  EXPECT_FALSE(shifted.Rebuilt());
  EXPECT_EQ(shifted.PrependedBytes(), 15000);
  EXPECT_EQ(Listing(shifted), (std::vector<std::string>{"a.txt 5@15000", "dir\\b.txt 11@15040", "dir\\ 0@15090"}));

  // Without its end record the directory is rebuilt, for a self-extractor from 14,000 on.
  const std::string cut = bytes.substr(0, bytes.size() - 22);
  TKestrelUnZip exe;
  Load(exe, Write("setup.EXE", cut), izAssumeBad);
  EXPECT_TRUE(exe.Rebuilt());
  EXPECT_EQ(Listing(exe), (std::vector<std::string>{"a.txt 5@15000", "dir\\b.txt 11@15040", "dir\\ 0@15090"}));

  TKestrelUnZip zip;
  Load(zip, Write("setup.zip", cut), izAssumeBad);
  ASSERT_GE(zip.EntryCount(), 1);
  EXPECT_EQ(zip.ZipInfo()->Items(0)->StoredPath(), "decoy.txt") << "any other name is searched from 0";
}

TEST_F(ZipDirectoryLoading, FalseLocalHeaderHitIsSkipped) {
  std::string archive = ziptest::BuildArchive(ThreeEntries());
  archive.resize(archive.size() - 22);  // no end record
  const std::string junk = std::string("xx") + "PK\x03\x04\x14\x0A" + std::string(30, 'j');
  TKestrelUnZip unzip;
  Load(unzip, Write("bad.zip", junk + archive), izAssumeBad);
  EXPECT_TRUE(unzip.Rebuilt());
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"a.txt 5@38", "dir\\b.txt 11@78", "dir\\ 0@128"}));
}

TEST_F(ZipDirectoryLoading, DataDescriptorEntriesInARebuiltDirectory) {
  std::vector<TEntrySpec> entries = ThreeEntries();
  entries[0].DataDescriptor = true;
  entries[1].DataDescriptor = true;
  std::string archive = ziptest::BuildArchive(entries);
  // Without the end record the directory comes from the local headers alone.
  std::string noEnd = archive.substr(0, archive.size() - 22);
  TKestrelUnZip unzip;
  Load(unzip, Write("dd.zip", noEnd), izAssumeBad);
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"a.txt 5@0", "dir\\b.txt 11@56", "dir\\ 0@122"}));
  EXPECT_EQ(unzip.ZipInfo()->Items(1)->CRC32, ziptest::Crc32("bravo bravo")) << "taken from the descriptor";
  EXPECT_EQ(unzip.ZipInfo()->Items(1)->ExternalAttributes, 0x81A40000u) << "completed by the central header";

  // Descriptors written without their signature are 12 bytes long.
  std::string unsigned12 = noEnd.substr(0, 124 + 32);
  for (std::size_t at; (at = unsigned12.find("PK\x07\x08")) != std::string::npos;) unsigned12.erase(at, 4);
  TKestrelUnZip bare;
  Load(bare, Write("dd12.zip", unsigned12), izAssumeBad);
  EXPECT_EQ(Listing(bare), (std::vector<std::string>{"a.txt 5@0", "dir\\b.txt 11@52", "dir\\ 0@114"}));

  // Stored data may hold records and descriptors of its own (a stored archive, a
  // descriptor of the wrong CRC): only the descriptor whose CRC and sizes fit ends it.
  TEntrySpec nested{"in.zip", ziptest::BuildArchive({entries[1]})};
  const auto length = static_cast<std::uint32_t>(nested.Data.size());
  nested.Data += "PK\x07\x08";
  for (const std::uint32_t field : {0xDEADBEEFu, length, length}) ziptest::PutU32(nested.Data, field);
  nested.Data += "PK\x03\x04";
  nested.DataDescriptor = true;
  const std::string outer = ziptest::BuildArchive({nested, ThreeEntries()[0]});
  TKestrelUnZip stored;
  // Its central directory cut off: the local headers alone tell.
  Load(stored, Write("nested.zip", outer.substr(0, outer.find("PK\x01\x02", 215))), izAssumeBad);
  EXPECT_EQ(Listing(stored), (std::vector<std::string>{"in.zip 163@0", "a.txt 5@215"}));
  EXPECT_EQ(stored.ZipInfo()->Items(0)->CRC32, ziptest::Crc32(nested.Data));
}

TEST_F(ZipDirectoryLoading, DirectoryAnnouncingMoreThanTheFileHolds) {
  ziptest::TEndSpec end;
  end.TotalEntries = end.EntriesThisDisk = 65535;
  end.CentralDirSize = 65535u * 46;
  std::string bytes(78, 'z');
  bytes += ziptest::EndRecord(end);
  ASSERT_EQ(bytes.size(), 100u);
  TKestrelUnZip unzip;
  EXPECT_EQ(FailureOf<EBadZipFile>([&] { Load(unzip, Write("huge.zip", bytes), izAssumeNotAZip); }),
            "Not a valid zip file!");
}

TEST_F(ZipDirectoryLoading, EndRecordWithoutCentralHeadersUsesLocalOnes) {
  // Local headers and an end record that announces entries at an offset holding none.
  std::string archive = ziptest::BuildArchive(ThreeEntries());
  const std::string locals = archive.substr(0, 90 + 34);
  ziptest::TEndSpec end;
  end.TotalEntries = end.EntriesThisDisk = 3;
  end.CentralDirOffset = 5;
  TKestrelUnZip unzip;
  Load(unzip, Write("noc.zip", locals + ziptest::EndRecord(end)), izAssumeNotAZip);
  EXPECT_TRUE(unzip.Rebuilt());
  EXPECT_EQ(unzip.EntryCount(), 3);
}

TEST_F(ZipDirectoryLoading, ArchiveTimesWithoutDosFormReadNormally) {
  const std::string name = Write("old.zip", ziptest::BuildArchive(ThreeEntries()));
  {
    platform::TFile file = platform::TFile::Open(name, platform::TFileAccess::Write, platform::TFileShare::ReadWrite,
                                                 platform::TFileCreation::OpenExisting);
    ASSERT_TRUE(file.SetLastWriteTime({315532800 - 86400 * 365, 0}));  // 1979
  }
  TKestrelUnZip unzip;
  Load(unzip, name, izAssumeNotAZip);
  EXPECT_EQ(unzip.EntryCount(), 3);

  // A changed file with another time is read again; an unchanged one is not.
  testsupport::WriteFile(name, ziptest::BuildArchive({{"only.txt", ""}}));
  {
    platform::TFile file = platform::TFile::Open(name, platform::TFileAccess::Write, platform::TFileShare::ReadWrite,
                                                 platform::TFileCreation::OpenExisting);
    ASSERT_TRUE(file.SetLastWriteTime({4200000000LL, 0}));  // 2103
  }
  unzip.OpenZip();
  EXPECT_EQ(unzip.EntryCount(), 1);
  unzip.CloseZip();
}

TEST_F(ZipDirectoryLoading, MissingVolumeEndsTheNextDiskLoop) {
  std::string archive = ziptest::BuildArchive(ThreeEntries());
  std::string field;
  ziptest::PutU16(field, 2);
  ziptest::PutU16(field, 1);
  archive.replace(archive.size() - 18, 4, field);  // ThisDisk 2, directory on disk 1
  const std::string name = Write("set.zip", archive);
  {
    // The part that holds the directory is not there: it is named.
    TKestrelUnZip unzip;
    std::string cause;
    try {
      Load(unzip, name, izAssumeNotAZip);
    } catch (const EBadZipFile& e) {
      cause = e.Cause;
    }
    EXPECT_EQ(cause, "its central directory lies in " + (folder_ / "set.z02") + ", which is missing");
  }
  TKestrelUnZip unzip;
  std::vector<std::int32_t> asked;
  unzip.OnGetNextDisk = [&](TKestrelUnZip&, std::int32_t disk, std::string& fName) {
    asked.push_back(disk);
    fName = disk == 2 ? std::string() : folder_ / "nowhere.zip";
  };
  // A name that names no file twice leaves the part missing; no name cancels.
  EXPECT_EQ(FailureOf<EUserCanceled>([&] { Load(unzip, name, izAssumeNotAZip); }), "User canceled loading new disk.");
  EXPECT_EQ(asked, (std::vector<std::int32_t>{1, 1, 2}));
}

TEST_F(ZipDirectoryLoading, NumberedVolumesAndCompanionFile) {
  // Volume 1 (set.001) holds the entries and the central directory, the last
  // volume (set.zip) only the end record.
  std::string archive = ziptest::BuildArchive(ThreeEntries());
  const std::string first = archive.substr(0, archive.size() - 22);
  ziptest::TEndSpec end;
  end.ThisDisk = 1;
  end.CentralDirDisk = 0;
  end.TotalEntries = 3;
  end.CentralDirOffset = 90 + 34;
  Write("set.001", first);
  const std::string last = Write("set.zip", ziptest::EndRecord(end));
  TKestrelUnZip unzip;
  Load(unzip, last, izAssumeNotAZip);
  EXPECT_EQ(unzip.SpanMode(), 2);
  EXPECT_EQ(unzip.EntryCount(), 3);
  // The set is known by its last part, whichever parts were read.
  EXPECT_EQ(unzip.ZipName(), last);

  // A set without its last volume: the .zfc copy of the directory serves.
  ziptest::TEndSpec copy = end;
  copy.CentralDirOffset = 0;
  const std::string central = archive.substr(90 + 34, archive.size() - 22 - 124);
  Write("part.zfc", central + ziptest::EndRecord(copy));
  const std::string part = Write("part.zip", first);
  TKestrelUnZip fromCompanion;
  Load(fromCompanion, part, izAssumeNotAZip);
  EXPECT_EQ(fromCompanion.EntryCount(), 3);
}

TEST_F(ZipDirectoryLoading, HugeLocalSizeCannotTurnTheSearchBack) {
  // A local header whose compressed size reads as a negative 32-bit offset.
  const TEntrySpec a{"a.txt", "alpha"};
  std::string local = ziptest::LocalHeader(a) + a.Data;
  std::string size;
  ziptest::PutU32(size, 0xFFFFFFE0);
  local.replace(18, 4, size);
  TKestrelUnZip unzip;
  Load(unzip, Write("neg.zip", local + local), izAssumeBad);
  EXPECT_EQ(unzip.EntryCount(), 1);
}

TEST_F(ZipDirectoryLoading, NamesFromMsDosAndUtf8Flag) {
  const TEntrySpec oem{.Name = "\x84rger.txt", .VersionMadeBy = 0x0014, .Comment = "after a converted name"};
  const TEntrySpec utf8{.Name = "\xC3\xA4rger2.txt", .Flags = 0x0800, .VersionMadeBy = 0x0014};
  TKestrelUnZip unzip;
  Load(unzip, Write("names.zip", ziptest::BuildArchive({oem, utf8})), izAssumeNotAZip);
  ASSERT_EQ(unzip.EntryCount(), 2);
  EXPECT_EQ(unzip.FileName(0), "\xC3\xA4rger.txt");
  EXPECT_EQ(unzip.FileName(1), "\xC3\xA4rger2.txt");
  EXPECT_EQ(unzip.FileComment(0), "after a converted name") << "found at the stored name's length";
}

TEST_F(ZipDirectoryLoading, SortModeBuildsAView) {
  std::vector<TEntrySpec> entries = ThreeEntries();
  TKestrelUnZip unzip;
  unzip.SetSortMode(ByName);
  Load(unzip, Write("s.zip", ziptest::BuildArchive(entries)), izAssumeNotAZip);
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"a.txt 5@0", "dir\\ 0@90", "dir\\b.txt 11@40"}));
  unzip.SortDirectory(ByNone);
  EXPECT_EQ(Listing(unzip), (std::vector<std::string>{"a.txt 5@0", "dir\\b.txt 11@40", "dir\\ 0@90"}));
}

TEST_F(ZipDirectoryLoading, RealArchivesFromZipAndPython) {
  const std::string tree = folder_ / "tree";
  std::filesystem::create_directories(tree + "/x");
  testsupport::WriteFile(tree + "/x/one.txt", std::string(5000, 'a'));
  testsupport::WriteFile(tree + "/two.bin", "two");
  if (testsupport::HaveCommand("zip")) {
    testsupport::ShellIn(tree, "zip -qr ../z.zip x two.bin");
    TKestrelUnZip unzip;
    Load(unzip, folder_ / "z.zip", izAssumeNotAZip);
    ASSERT_EQ(unzip.EntryCount(), 3);
    EXPECT_EQ(unzip.ZipInfo()->Items(1)->StoredPath(), "x\\one.txt");
    EXPECT_EQ(unzip.ZipInfo()->Items(1)->UncompressedSize, 5000u);
    EXPECT_EQ(unzip.ZipInfo()->Items(1)->CompressionMethod, 8);
  }
  testsupport::PythonZip(folder_ / "p.zip", {{"q/r.txt", std::string(999, 'r')}}, {"DEFLATED", "pc"});
  TKestrelUnZip unzip;
  Load(unzip, folder_ / "p.zip", izAssumeNotAZip);
  ASSERT_EQ(unzip.EntryCount(), 1);
  EXPECT_EQ(unzip.ZipInfo()->Items(0)->UncompressedSize, 999u);
  EXPECT_EQ(unzip.ZipComment(), "pc");
}

}  // namespace
}  // namespace kestrel
