// EndCentralSearch, CentralHeaderNames and DataDescriptorSearch: the end record
// search, the header readers and the searches for records and descriptors on
// crafted bytes.

#include "unzip/zip_records.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "unzip/lfn_file_stream.h"
#include "zip_builder.h"

namespace kestrel {
namespace {

class TRecordFile {
 public:
  explicit TRecordFile(const std::string& bytes) {
    testsupport::WriteFile(folder_ / "a.zip", bytes);
    stream_ = std::make_unique<TLFNFileStream>(folder_ / "a.zip", 8192, false, fmShareDenyWrite);
  }
  TLFNFileStream& Stream() { return *stream_; }

 private:
  testsupport::TTempFolder folder_;
  std::unique_ptr<TLFNFileStream> stream_;
};

TEST(EndCentralSearch, LongestCommentIsFoundOneMoreIsNot) {
  ziptest::TEndSpec end;
  end.Comment = std::string(65535, 'c');
  end.TotalEntries = 7;
  TRecordFile fits(ziptest::EndRecord(end));
  TEndCentral record;
  ASSERT_TRUE(record.FindEndCentral(fits.Stream()));
  EXPECT_EQ(record.TotalEntries, 7);
  EXPECT_EQ(record.CommentLength, 65535);
  EXPECT_EQ(record.CommentPos, 22u);

  TRecordFile tooFar(ziptest::EndRecord(end) + "x");
  TEndCentral missing;
  EXPECT_FALSE(missing.FindEndCentral(tooFar.Stream()));
}

TEST(EndCentralSearch, NearestToTheEndWins) {
  ziptest::TEndSpec first, second;
  first.TotalEntries = 1;
  second.TotalEntries = 2;
  TRecordFile file("junk" + ziptest::EndRecord(first) + ziptest::EndRecord(second));
  TEndCentral record;
  ASSERT_TRUE(record.FindEndCentral(file.Stream()));
  EXPECT_EQ(record.TotalEntries, 2);
  EXPECT_EQ(record.CommentPos, 4u + 22 + 22);
}

TEST(EndCentralSearch, EmptyAndShortStreams) {
  TRecordFile empty("");
  TEndCentral record;
  EXPECT_TRUE(record.FindEndCentral(empty.Stream())) << "an empty file is an archive without entries";
  EXPECT_EQ(record.TotalEntries, 0);
  TRecordFile one("P");
  EXPECT_FALSE(record.FindEndCentral(one.Stream()));
  TRecordFile cut(ziptest::EndRecord({}).substr(0, 21));
  EXPECT_FALSE(record.FindEndCentral(cut.Stream()));
}

std::string CentralFor(const std::string& name, std::uint16_t madeBy, std::uint16_t flags = 0) {
  ziptest::TEntrySpec entry;
  entry.Name = name;
  entry.VersionMadeBy = madeBy;
  entry.Flags = flags;
  return ziptest::CentralHeader(entry, 0);
}

TEST(CentralHeaderNames, SplitIntoFolderAndName) {
  struct TCase {
    const char* Stored;
    const char* Directory;
    const char* FileName;
  };
  const TCase cases[] = {
      {"dir/sub/a.txt", "dir\\sub\\", "a.txt"},
      {"a.txt", "", "a.txt"},
      {"dir/", "dir\\", ""},
      {"c:x.txt", "c:\\", "x.txt"},
  };
  for (const TCase& c : cases) {
    TRecordFile file(CentralFor(c.Stored, 0x0314));
    TZipHeaderInfo entry;
    ASSERT_TRUE(entry.ReadCentralHeader(file.Stream())) << c.Stored;
    EXPECT_EQ(entry.Directory(), c.Directory) << c.Stored;
    EXPECT_EQ(entry.FileName(), c.FileName) << c.Stored;
    EXPECT_EQ(entry.NameLength, entry.Directory().size() + entry.FileName().size());
    EXPECT_EQ(file.Stream().Position(), 46 + static_cast<std::int32_t>(std::string(c.Stored).size()));
  }
}

TEST(CentralHeaderNames, OemNamesAreConvertedOnlyFromMsDos) {
  const std::string oem = "\x84rger.txt";  // "ärger.txt" in code page 437
  struct TCase {
    std::uint16_t MadeBy, Flags;
    bool Convert;
    std::string Expected;
  };
  const TCase cases[] = {
      {0x0014, 0, true, "\xC3\xA4rger.txt"},  // MS-DOS: code page 437 to UTF-8
      {0x0014, 0, false, oem},                // OEMConvert off
      {0x0B14, 0, true, oem},                 // host 11 keeps its bytes
      {0x0314, 0, true, oem},                 // Unix keeps its bytes
  };
  for (const TCase& c : cases) {
    TRecordFile file(CentralFor(oem, c.MadeBy, c.Flags));
    TZipHeaderInfo entry;
    entry.OEMConvert = c.Convert;
    ASSERT_TRUE(entry.ReadCentralHeader(file.Stream()));
    EXPECT_EQ(entry.FileName(), c.Expected) << std::hex << c.MadeBy;
  }
  // A bit-11 name is UTF-8 already, even from MS-DOS.
  TRecordFile utf8(CentralFor("\xC3\xA4rger.txt", 0x0014, 0x0800));
  TZipHeaderInfo entry;
  ASSERT_TRUE(entry.ReadCentralHeader(utf8.Stream()));
  EXPECT_EQ(entry.FileName(), "\xC3\xA4rger.txt");
}

TEST(CentralHeaderNames, FailureLeavesThePosition) {
  const std::string header = CentralFor("name.txt", 0x0314);
  TRecordFile cut("xx" + header.substr(0, 50));  // the name is cut short
  TZipHeaderInfo entry;
  cut.Stream().SetPosition(2);
  EXPECT_FALSE(entry.ReadCentralHeader(cut.Stream()));
  EXPECT_EQ(cut.Stream().Position(), 2);
  EXPECT_FALSE(entry.ReadLocalHeader(cut.Stream())) << "a central header is no local header";
  EXPECT_EQ(cut.Stream().Position(), 2);
}

TEST(CentralHeaderNames, LocalHeaderFields) {
  ziptest::TEntrySpec spec;
  spec.Name = "d/e.bin";
  spec.Data = "12345";
  spec.LocalExtra = "EXTRA";
  spec.Method = 8;
  spec.DosDateTime = 0x00000000;  // repaired to 1 January 1980
  TRecordFile file("...." + ziptest::LocalHeader(spec));
  file.Stream().SetPosition(4);
  TZipHeaderInfo entry;
  ASSERT_TRUE(entry.ReadLocalHeader(file.Stream()));
  EXPECT_EQ(entry.LocalHeaderOffset, 4u);
  EXPECT_EQ(entry.VersionMadeBy, 0);
  EXPECT_EQ(entry.CompressionMethod, 8);
  EXPECT_EQ(entry.CompressedSize, 5u);
  EXPECT_EQ(entry.CRC32, ziptest::Crc32("12345"));
  EXPECT_EQ(entry.LocalExtraLength, 5);
  EXPECT_EQ(entry.DateTime, 0x00210000u);
  EXPECT_EQ(entry.Directory(), "d\\");
  EXPECT_EQ(entry.ExternalAttributes, 0u);
}

TEST(CentralHeaderNames, AssignCopiesAllButOemConvert) {
  TZipHeaderInfo source;
  source.SetStoredPath("x\\y.txt");
  source.SetComment(std::string("note"));
  source.CRC32 = 42;
  source.OEMConvert = false;
  TZipHeaderInfo copy;
  copy.Assign(source);
  EXPECT_TRUE(copy.OEMConvert);
  EXPECT_EQ(copy.StoredPath(), "x\\y.txt");
  EXPECT_EQ(copy.CommentLength, 4);
  EXPECT_EQ(*copy.Comment(), "note");
  EXPECT_EQ(copy.CRC32, 42u);
  copy.Clear();
  EXPECT_EQ(copy.CRC32, 0xFFFFFFFFu);
  EXPECT_EQ(copy.ExternalAttributes, 0x20u);
  EXPECT_FALSE(copy.Comment().has_value());
}

/// The search over bytes as the pipe feeds it (step bytes arriving at a time,
/// each feed from where the search needs) or, with step 0, all at once as a
/// file's block.
TDataDescriptor SearchFed(const TZipHeaderInfo& entry, const std::string& bytes, std::size_t step) {
  TDescriptorSearch search(entry, 0);
  std::int64_t budget = 1 << 20;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const auto size = static_cast<std::int64_t>(bytes.size());
  for (std::int64_t head = 0; head < size;) {
    head = step == 0 ? size : std::min(head + static_cast<std::int64_t>(step), size);
    const std::int64_t from = search.NeededFrom();
    if (from < head && search.Look(data + from, from, head - from, head == size, budget)) break;
  }
  return search.Found();
}

TEST(DataDescriptorSearch, GoesOnPastRecordsAndChecksStoredData) {
  // Deflated bytes that happen to hold record signatures, then a descriptor
  // without its signature in front of the next local header.
  const std::string data = std::string("abcPK\x03\x04\x14\x00xyzPK\x01\x02", 16) + std::string(40, 'd');
  std::string deflated = data;
  for (const std::uint32_t field : {0x12345678u, static_cast<std::uint32_t>(data.size()), 999u})
    ziptest::PutU32(deflated, field);
  deflated += std::string("PK\x03\x04\x14\x00", 6);
  TZipHeaderInfo entry;
  entry.CompressionMethod = MethodDeflated;
  for (const std::size_t step : {std::size_t{0}, std::size_t{1}, std::size_t{7}}) {
    const TDataDescriptor found = SearchFed(entry, deflated, step);
    EXPECT_EQ(found.End, static_cast<std::int64_t>(data.size()) + 12) << step;
    EXPECT_EQ(found.Crc, 0x12345678u);
    EXPECT_EQ(found.UncompressedSize, 999u);
    EXPECT_EQ(found.FirstRecord, 3) << "the first record signature passed";
  }
  // Stored bytes: a descriptor whose CRC is not theirs does not end them.
  std::string stored = data + "PK\x07\x08";
  for (const std::uint32_t field : {0xDEADBEEFu, static_cast<std::uint32_t>(data.size()), 58u})
    ziptest::PutU32(stored, field);
  const std::string content = stored + "PK\x03\x04";
  stored = content + "PK\x07\x08";
  for (const std::uint32_t field : {ziptest::Crc32(content), static_cast<std::uint32_t>(content.size()),
                                    static_cast<std::uint32_t>(content.size())})
    ziptest::PutU32(stored, field);
  entry.CompressionMethod = MethodStored;
  for (const std::size_t step : {std::size_t{0}, std::size_t{1}, std::size_t{5}}) {
    const TDataDescriptor found = SearchFed(entry, stored, step);
    EXPECT_EQ(found.End, static_cast<std::int64_t>(stored.size())) << step;
    EXPECT_EQ(found.Crc, ziptest::Crc32(content)) << step;
  }
}

TEST(DataDescriptorSearch, RecordStartsAndFalseLocalHeaders) {
  const std::string bytes = std::string("xxPK\x03\x04\x14\x0AyyPK\x05\x06zz", 16);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  EXPECT_EQ(FindRecordStart(data, bytes.size(), false), 10u) << "version 10.0 or later: inside some data";
  EXPECT_EQ(FindRecordStart(data, 15, false), 15u) << "its last five bytes come again";
  EXPECT_EQ(FindRecordStart(data, 15, true), 10u) << "unless nothing follows them";
  const std::string local("PK\x03\x04\x14\x00", 6);
  EXPECT_EQ(FindRecordStart(reinterpret_cast<const std::uint8_t*>(local.data()), 6, false), 0u);
}

}  // namespace
}  // namespace kestrel
