// DosDateTimeRepair: the repair of header date-times, the calendar conversion and
// the file stamps.

#include "unzip/dos_date_time.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "unzip/unzip_errors.h"

namespace kestrel {
namespace {

constexpr std::uint32_t Dos(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                            unsigned secondField) {
  return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) | secondField;
}

TEST(DosDateTimeRepair, Table) {
  struct TCase {
    std::uint32_t In, Out;
    const char* Why;
  };
  const TCase cases[] = {
      {Dos(2024, 2, 29, 13, 45, 10), Dos(2024, 2, 29, 13, 45, 10), "valid: kept bit for bit"},
      {Dos(2024, 5, 6, 7, 8, 31), Dos(2024, 5, 6, 7, 8, 29), "62 seconds become 58 (field 29)"},
      {Dos(2024, 5, 6, 7, 8, 30), Dos(2024, 5, 6, 7, 8, 29), "60 seconds become 58"},
      {Dos(2024, 0, 6, 7, 8, 1), Dos(2024, 1, 6, 7, 8, 1), "month 0 becomes 1"},
      {Dos(2024, 13, 6, 7, 8, 1), Dos(2024, 12, 6, 7, 8, 1), "month 13 becomes 12"},
      {Dos(2024, 3, 0, 7, 8, 1), Dos(2024, 3, 1, 7, 8, 1), "day 0 becomes 1"},
      {Dos(2107, 3, 4, 5, 6, 7), Dos(2099, 3, 4, 5, 6, 7), "year 2107 becomes 2099"},
      {Dos(2024, 3, 4, 24, 6, 7), Dos(2024, 3, 4, 23, 6, 7), "hour 24 becomes 23"},
      {Dos(2024, 3, 4, 5, 63, 7), Dos(2024, 3, 4, 5, 59, 7), "minute 63 becomes 59"},
      {0, 0x00210000, "zero: 1 January 1980"},
      {Dos(2024, 2, 31, 1, 1, 1), Dos(2024, 2, 31, 1, 1, 1), "a day the month lacks is not clamped"},
  };
  for (const TCase& c : cases) EXPECT_EQ(RepairDosDateTime(c.In), c.Out) << c.Why;
}

TEST(DosDateTimeRepair, CalendarConversion) {
  const platform::TCalendar calendar = DosDateTimeToCalendar(Dos(2001, 9, 8, 17, 30, 21));
  EXPECT_EQ(calendar.Year, 2001);
  EXPECT_EQ(calendar.Month, 9);
  EXPECT_EQ(calendar.Day, 8);
  EXPECT_EQ(calendar.Hour, 17);
  EXPECT_EQ(calendar.Minute, 30);
  EXPECT_EQ(calendar.Second, 42);
  try {
    DosDateTimeToCalendar(NoDosDateTime);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to date encode");
  }
  EXPECT_THROW(DosDateTimeToCalendar(Dos(2023, 2, 29, 0, 0, 0)), EConvertError);
  EXPECT_NO_THROW(DosDateTimeToCalendar(Dos(2024, 2, 29, 0, 0, 0)));
  try {
    DosDateTimeToCalendar(Dos(2024, 1, 1, 25, 0, 0));
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to time encode");
  }
}

TEST(DosDateTimeRepair, StampAndReadBack) {
  testsupport::TTempFolder folder;
  const std::string name = folder / "f.txt";
  testsupport::WriteFile(name, "x");
  const std::uint32_t stamp = Dos(2010, 6, 15, 10, 20, 15);
  ApplyDosDateTime(name, stamp);
  platform::TFile file = platform::TFile::Open(name, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(FileDosDateTime(file), stamp);
  // A missing file or an invalid value is ignored.
  ApplyDosDateTime(folder / "missing", stamp);
  ApplyDosDateTime(name, NoDosDateTime);
  EXPECT_EQ(FileDosDateTime(file), stamp);
}

TEST(DosDateTimeRepair, TimesWithoutDosForm) {
  EXPECT_EQ(CalendarToDosDateTime({1979, 12, 31, 23, 59, 59, 0}), NoDosDateTime);
  EXPECT_EQ(CalendarToDosDateTime({2108, 1, 1, 0, 0, 0, 0}), NoDosDateTime);
  EXPECT_EQ(CalendarToDosDateTime({1980, 1, 1, 0, 0, 0, 0}), 0x00210000u);
}

}  // namespace
}  // namespace kestrel
