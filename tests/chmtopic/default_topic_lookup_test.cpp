// The default-topic lookup on crafted objects, for what no help compiler writes:
// several code-2 records, empty and unterminated values, offsets and records that
// run past the bytes the container yields.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "chmtopic/default_topic.h"
#include "chmtopic/memory_object_reader.h"

namespace {

using tessaly::FindSystemDefaultTopic;
using tessaly::FindWindowDefaultFile;
using tessaly::LookUpDefaultTopic;
using tessaly::TMemoryObjectReader;

std::string LittleEndian32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
  return bytes;
}

std::string LittleEndian16(std::uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

// "/#WINDOWS" of one window definition (8-byte header, 196-byte entry) whose default
// file lies at the given "/#STRINGS" offset; cut to size bytes when asked.
std::string Windows(std::uint32_t nameOffset, std::size_t size = 204) {
  std::string bytes = LittleEndian32(1) + LittleEndian32(196) + std::string(104, '\x01') + LittleEndian32(nameOffset);
  bytes.resize(204, '\x02');
  bytes.resize(size);
  return bytes;
}

// "/#STRINGS" as compilers begin it, with an empty string at offset 0; name follows at
// offset 1 exactly as given (the caller adds its NUL or leaves it out).
std::string StringsWith(const std::string& name) { return std::string(1, '\0') + name; }

struct TRecord {
  std::uint16_t Code;
  std::string Data;
};

// "/#SYSTEM": version 3, then each record as code, data length, data.
std::string System(const std::vector<TRecord>& records) {
  std::string bytes = LittleEndian32(3);
  for (const TRecord& record : records) {
    bytes += LittleEndian16(record.Code) + LittleEndian16(static_cast<std::uint16_t>(record.Data.size())) + record.Data;
  }
  return bytes;
}

// ---- Window lookup ---------------------------------------------------------------

TEST(WindowDefaultFileLookup, NameAtTheStringsOffset) {
  TMemoryObjectReader chm;
  chm.AddObject("/#WINDOWS", Windows(1));
  chm.AddObject("/#STRINGS", StringsWith(std::string("start.htm\0Title\0", 16)));
  EXPECT_EQ(FindWindowDefaultFile(chm), "start.htm");
}

TEST(WindowDefaultFileLookup, EmptyNameIsFoundAndSystemIsNotConsulted) {
  TMemoryObjectReader chm;
  chm.AddObject("/#WINDOWS", Windows(0));
  chm.AddObject("/#STRINGS", StringsWith(std::string("start.htm\0", 10)));
  chm.AddObject("/#SYSTEM", System({{2, std::string("other.htm\0", 10)}}));
  EXPECT_EQ(FindWindowDefaultFile(chm), "");
  EXPECT_EQ(LookUpDefaultTopic(chm), "");
}

TEST(WindowDefaultFileLookup, FieldCutShortFallsThroughToSystem) {
  // 112 bytes hold no field byte at all; 113 to 115 hold only part of it.
  for (const std::size_t size : {0u, 100u, 112u, 113u, 115u}) {
    TMemoryObjectReader chm;
    chm.AddObject("/#WINDOWS", Windows(1, size));
    chm.AddObject("/#STRINGS", StringsWith(std::string("start.htm\0", 10)));
    chm.AddObject("/#SYSTEM", System({{2, std::string("other.htm\0", 10)}}));
    EXPECT_EQ(FindWindowDefaultFile(chm), std::nullopt) << size;
    EXPECT_EQ(LookUpDefaultTopic(chm), "other.htm") << size;
  }
  TMemoryObjectReader whole;
  whole.AddObject("/#WINDOWS", Windows(1, 116));
  whole.AddObject("/#STRINGS", StringsWith(std::string("start.htm\0", 10)));
  EXPECT_EQ(FindWindowDefaultFile(whole), "start.htm");
}

TEST(WindowDefaultFileLookup, DamagedWindowsClaimingMoreThanItYields) {
  TMemoryObjectReader chm;
  chm.AddObject("/#WINDOWS", Windows(1, 114), 204);
  chm.AddObject("/#STRINGS", StringsWith(std::string("start.htm\0", 10)));
  EXPECT_EQ(FindWindowDefaultFile(chm), std::nullopt);
}

TEST(WindowDefaultFileLookup, WithoutStringsFallsThroughToSystem) {
  TMemoryObjectReader chm;
  chm.AddObject("/#WINDOWS", Windows(1));
  chm.AddObject("/#SYSTEM", System({{2, std::string("other.htm\0", 10)}}));
  EXPECT_EQ(FindWindowDefaultFile(chm), std::nullopt);
  EXPECT_EQ(LookUpDefaultTopic(chm), "other.htm");
}

TEST(WindowDefaultFileLookup, OffsetAtOrPastTheEndFallsThroughToSystem) {
  const std::string strings = StringsWith(std::string("start.htm\0", 10));
  for (const std::uint32_t offset :
       {static_cast<std::uint32_t>(strings.size()), static_cast<std::uint32_t>(strings.size() + 1), 0xFFFFFFFFu}) {
    TMemoryObjectReader chm;
    chm.AddObject("/#WINDOWS", Windows(offset));
    chm.AddObject("/#STRINGS", strings);
    chm.AddObject("/#SYSTEM", System({{2, std::string("other.htm\0", 10)}}));
    EXPECT_EQ(FindWindowDefaultFile(chm), std::nullopt) << offset;
    EXPECT_EQ(LookUpDefaultTopic(chm), "other.htm") << offset;
  }
}

TEST(WindowDefaultFileLookup, NameLengthsAroundTheReadSize) {
  // 254 bytes and the NUL fill the 255-byte read; a longer name is not cut to a
  // wrong file name but left for "/#SYSTEM" to answer.
  for (const auto& [length, whole] : {std::pair{254u, true}, {255u, false}, {300u, false}}) {
    const std::string name(length, 'n');
    TMemoryObjectReader chm;
    chm.AddObject("/#WINDOWS", Windows(1));
    chm.AddObject("/#STRINGS", StringsWith(name + std::string(1, '\0') + "next"));
    chm.AddObject("/#SYSTEM", System({{2, std::string("other.htm\0", 10)}}));
    EXPECT_EQ(LookUpDefaultTopic(chm), whole ? name : "other.htm") << length;
  }
}

TEST(WindowDefaultFileLookup, NameRunningToTheEndOfStringsWithoutNul) {
  TMemoryObjectReader chm;
  chm.AddObject("/#WINDOWS", Windows(1));
  chm.AddObject("/#STRINGS", StringsWith("start.htm"));
  EXPECT_EQ(FindWindowDefaultFile(chm), std::nullopt);
  EXPECT_EQ(LookUpDefaultTopic(chm), "");
}

// ---- System lookup ---------------------------------------------------------------

TEST(SystemDefaultTopicLookup, FirstNonEmptyCodeTwoRecordWins) {
  TMemoryObjectReader chm;
  chm.AddObject("/#SYSTEM", System({{9, std::string("HHA Version 4.74.8702\0", 22)},
                                    {2, ""},
                                    {2, std::string("\0", 1)},
                                    {2, std::string("first.htm\0", 10)},
                                    {2, std::string("second.htm\0", 11)}}));
  EXPECT_EQ(FindSystemDefaultTopic(chm), "first.htm");
}

TEST(SystemDefaultTopicLookup, EmptyRecordNeverTakesTheNextRecordAsItsValue) {
  // The empty record's data would "begin" at the next record's code byte (3).
  TMemoryObjectReader chm;
  chm.AddObject("/#SYSTEM", System({{2, ""}, {3, std::string("Title\0", 6)}}));
  EXPECT_EQ(FindSystemDefaultTopic(chm), std::nullopt);
}

TEST(SystemDefaultTopicLookup, ValueEndsAtItsFirstNul) {
  TMemoryObjectReader chm;
  chm.AddObject("/#SYSTEM", System({{2, std::string("a b/c.htm\0junk", 14)}}));
  EXPECT_EQ(FindSystemDefaultTopic(chm), "a b/c.htm");
}

TEST(SystemDefaultTopicLookup, ValueWithoutNulIsPassedOver) {
  TMemoryObjectReader alone;
  alone.AddObject("/#SYSTEM", System({{2, "start.htm"}, {3, std::string("Title\0", 6)}}));
  EXPECT_EQ(FindSystemDefaultTopic(alone), std::nullopt);

  TMemoryObjectReader later;
  later.AddObject("/#SYSTEM", System({{2, "start.htm"}, {2, std::string("later.htm\0", 10)}}));
  EXPECT_EQ(FindSystemDefaultTopic(later), "later.htm");
}

TEST(SystemDefaultTopicLookup, TruncatedRecordsEndTheWalk) {
  // Version (4 bytes), a title record (bytes 4 to 13), the topic record (header at 14,
  // data "start.htm", NUL and padding at 18 to 30).
  const std::string whole = System({{3, std::string("Title\0", 6)}, {2, std::string("start.htm\0pad", 13)}});
  ASSERT_EQ(whole.size(), 31u);
  // Cut inside the version, inside a header, and inside the topic's data with its NUL
  // lost and with it kept: none of it is used, and nothing is read past the end.
  for (const std::size_t size : {0, 3, 4, 6, 14, 16, 17, 20, 27, 28, 30}) {
    TMemoryObjectReader chm;
    chm.AddObject("/#SYSTEM", whole.substr(0, size));
    EXPECT_EQ(FindSystemDefaultTopic(chm), std::nullopt) << size;
  }
  TMemoryObjectReader chm;
  chm.AddObject("/#SYSTEM", whole);
  EXPECT_EQ(FindSystemDefaultTopic(chm), "start.htm");
}

TEST(SystemDefaultTopicLookup, RecordLengthClaimingMoreThanTheObject) {
  // Code 2, length 0xFFFF, then a short value: the record runs past the object.
  TMemoryObjectReader chm;
  chm.AddObject("/#SYSTEM", LittleEndian32(3) + LittleEndian16(2) + LittleEndian16(0xFFFF) + std::string("a.htm\0", 6));
  EXPECT_EQ(FindSystemDefaultTopic(chm), std::nullopt);
}

TEST(SystemDefaultTopicLookup, OnlyTheBytesTheContainerYieldsCount) {
  const std::string bytes = System({{2, std::string("start.htm\0", 10)}});
  // The directory claims more than can be read, as with a damaged section.
  TMemoryObjectReader longer;
  longer.AddObject("/#SYSTEM", bytes, bytes.size() + 100);
  EXPECT_EQ(FindSystemDefaultTopic(longer), "start.htm");
  // An absurd claim costs nothing beyond the bytes there are.
  TMemoryObjectReader absurd;
  absurd.AddObject("/#SYSTEM", bytes, std::uint64_t{1} << 62);
  EXPECT_EQ(FindSystemDefaultTopic(absurd), "start.htm");
  // The directory claims less: the value lies beyond the object's end.
  TMemoryObjectReader shorter;
  shorter.AddObject("/#SYSTEM", bytes, bytes.size() - 1);
  EXPECT_EQ(FindSystemDefaultTopic(shorter), std::nullopt);
}

TEST(SystemDefaultTopicLookup, RecordsBeyondAPieceBoundary) {
  // Records fill the first 64 KiB read and more; the topic lies past it.
  std::vector<TRecord> records;
  for (int i = 0; i < 3; ++i) records.push_back({13, std::string(40000, 'f')});
  records.push_back({2, std::string("far.htm\0", 8)});
  TMemoryObjectReader chm;
  chm.AddObject("/#SYSTEM", System(records));
  EXPECT_EQ(FindSystemDefaultTopic(chm), "far.htm");
}

TEST(SystemLanguageLookup, LanguageRecordAndItsCodePage) {
  TMemoryObjectReader chm;
  // The first code-4 record counts; one cut short of its LCID gives none.
  chm.AddObject("/#SYSTEM", System({{2, std::string("a.htm\0", 6)},
                                    {4, LittleEndian32(0x419) + std::string(32, '\0')},
                                    {4, LittleEndian32(0x411)}}));
  EXPECT_EQ(tessaly::FindSystemLanguage(chm), 0x419u);
  TMemoryObjectReader cut;
  cut.AddObject("/#SYSTEM", System({{4, "\x19\x04"}}));
  EXPECT_EQ(tessaly::FindSystemLanguage(cut), std::nullopt);
  // Language, or language and script, to code page; 0 where Windows has none.
  for (const auto& [lcid, codePage] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {0x0419, 1251}, {0x0409, 1252}, {0x0407, 1252}, {0x0411, 932},  {0x0804, 936},  {0x0404, 950},
           {0x0C04, 950},  {0x0412, 949},  {0x0405, 1250}, {0x081A, 1250}, {0x0C1A, 1251}, {0x0408, 1253},
           {0x041F, 1254}, {0x042C, 1254}, {0x082C, 1251}, {0x040D, 1255}, {0x0401, 1256}, {0x0426, 1257},
           {0x042A, 1258}, {0x041E, 874},  {0x0439, 0},    {0x0000, 0}}) {
    EXPECT_EQ(tessaly::AnsiCodePageOfLanguage(lcid), codePage) << std::hex << lcid;
  }
}

TEST(DefaultTopicOrder, NothingToGoByGivesAnEmptyTopic) {
  TMemoryObjectReader none;
  EXPECT_EQ(LookUpDefaultTopic(none), "");
  TMemoryObjectReader versionOnly;
  versionOnly.AddObject("/#SYSTEM", System({}));
  EXPECT_EQ(LookUpDefaultTopic(versionOnly), "");
}

TEST(DefaultTopicOrder, AddressKeepsThePathAsGiven) {
  EXPECT_EQ(tessaly::TopicAddress("help\\App.chm", "a b.htm"), "mk:@msitstore:help\\App.chm::/a b.htm");
  EXPECT_EQ(tessaly::TopicAddress("x.chm", ""), "mk:@msitstore:x.chm::/");
}

}  // namespace
