#include "unzip/dos_date_time.h"

#include <optional>
#include <tuple>

#include "unzip/unzip_errors.h"

namespace kestrel {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

std::uint32_t RepairDosDateTime(std::uint32_t value) {
  unsigned hour = (value >> 11) & 0x1F;
  unsigned minute = (value >> 5) & 0x3F;
  unsigned second = (value & 0x1F) * 2;
  unsigned year = ((value >> 25) & 0x7F) + 1980;
  unsigned month = (value >> 21) & 0x0F;
  unsigned day = (value >> 16) & 0x1F;

  bool clamped = false;
  auto clampAbove = [&clamped](unsigned& field, unsigned limit) {
    if (field > limit) {
      field = limit;
      clamped = true;
    }
  };
  auto clampBelow = [&clamped](unsigned& field, unsigned limit) {
    if (field < limit) {
      field = limit;
      clamped = true;
    }
  };
  clampAbove(hour, 23);
  clampAbove(minute, 59);
  clampAbove(second, 59);
  clampAbove(year, 2099);
  clampAbove(month, 12);
  clampBelow(month, 1);
  clampBelow(day, 1);
  // A valid value keeps its exact bits, so comparing a repaired value with the
  // stored one shows whether anything was wrong.
  if (!clamped) return value;

  const std::uint32_t date = day + month * 32 + (year - 1980) * 512;
  const std::uint32_t time = second / 2 + minute * 32 + hour * 2048;
  return time + date * 65536;
}

platform::TCalendar DosDateTimeToCalendar(std::uint32_t value) {
  platform::TCalendar calendar;
  calendar.Year = static_cast<int>(((value >> 25) & 0x7F) + 1980);
  calendar.Month = static_cast<int>((value >> 21) & 0x0F);
  calendar.Day = static_cast<int>((value >> 16) & 0x1F);
  calendar.Hour = static_cast<int>((value >> 11) & 0x1F);
  calendar.Minute = static_cast<int>((value >> 5) & 0x3F);
  calendar.Second = static_cast<int>((value & 0x1F) * 2);
  calendar.Millisecond = 0;
  // The date is encoded before the time, so a value wrong in both reports the date.
  if (calendar.Month < 1 || calendar.Month > 12 || calendar.Day < 1 ||
      calendar.Day > DaysInMonth(calendar.Year, calendar.Month))
    throw EConvertError("Invalid argument to date encode");
  if (calendar.Hour > 23 || calendar.Minute > 59 || calendar.Second > 59)
    throw EConvertError("Invalid argument to time encode");
  return calendar;
}

int CompareCalendar(const platform::TCalendar& a, const platform::TCalendar& b) {
  const auto key = [](const platform::TCalendar& c) {
    return std::tie(c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second, c.Millisecond);
  };
  if (key(a) < key(b)) return -1;
  if (key(b) < key(a)) return 1;
  return 0;
}

std::optional<platform::TFileTime> DosDateTimeToUtc(std::uint32_t value) {
  platform::TCalendar local;
  try {
    local = DosDateTimeToCalendar(value);
  } catch (const EConvertError&) {
    return std::nullopt;
  }
  return platform::LocalToUtc(local);
}

void ApplyDosDateTime(const std::string& fileName, std::uint32_t value) {
  const auto utc = DosDateTimeToUtc(value);
  if (!utc) return;
  platform::TFile file = platform::TFile::Open(fileName, platform::TFileAccess::Write, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  if (!file.IsOpen()) return;
  file.SetLastWriteTime(*utc);
}

void ApplyDosDateTime(platform::TFile& file, std::uint32_t value) {
  if (const auto utc = DosDateTimeToUtc(value)) file.SetLastWriteTime(*utc);
}

std::uint32_t CalendarToDosDateTime(const platform::TCalendar& local) {
  if (local.Year < 1980 || local.Year > 2107) return NoDosDateTime;
  const std::uint32_t date = static_cast<std::uint32_t>(local.Day) + static_cast<std::uint32_t>(local.Month) * 32 +
                             static_cast<std::uint32_t>(local.Year - 1980) * 512;
  const std::uint32_t time = static_cast<std::uint32_t>(local.Second) / 2 +
                             static_cast<std::uint32_t>(local.Minute) * 32 +
                             static_cast<std::uint32_t>(local.Hour) * 2048;
  return time + date * 65536;
}

std::uint32_t UtcToDosDateTime(platform::TFileTime time) {
  const auto local = platform::UtcToLocal(time);
  if (!local) return NoDosDateTime;
  return CalendarToDosDateTime(*local);
}

std::uint32_t FileDosDateTime(platform::TFile& file) {
  const auto written = file.LastWriteTime();
  if (!written) return NoDosDateTime;
  return UtcToDosDateTime(*written);
}

}  // namespace kestrel
