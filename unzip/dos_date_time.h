#pragma once
// The DOS date-time of the zip headers: one 32-bit value, time in the low word and
// date in the high word.
//
//   bits  0-4   seconds / 2     bits 16-20  day
//   bits  5-10  minutes         bits 21-24  month
//   bits 11-15  hours           bits 25-31  year - 1980

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace kestrel {

/// A value with no DOS form: a file time before 1980 or after 2107, or a failed
/// platform call. Its month field is 15, so DosDateTimeToCalendar rejects it.
inline constexpr std::uint32_t NoDosDateTime = 0xFFFFFFFF;

/// Clamps each field of a header's value into its range (hour 23, minute and
/// second 59, year 2099, month 1 to 12, day at least 1). A value that needs no
/// clamping comes back bit for bit; otherwise it is rebuilt from the clamped
/// fields, so a seconds field of 30 or 31 becomes 29.
std::uint32_t RepairDosDateTime(std::uint32_t value);

/// The calendar date-time of a value, milliseconds 0. Throws EConvertError
/// "Invalid argument to date encode" for a month or day the calendar does not
/// have, and "Invalid argument to time encode" for an hour, minute or second out
/// of range.
platform::TCalendar DosDateTimeToCalendar(std::uint32_t value);

/// Orders two calendar values: negative, 0 or positive.
int CompareCalendar(const platform::TCalendar& a, const platform::TCalendar& b);

/// Stamps a file's last-write time with a value taken as local time. Creation and
/// access times stay. Reports nothing when the file cannot be opened or stamped,
/// or the value has no calendar form.
void ApplyDosDateTime(const std::string& fileName, std::uint32_t value);
/// The same on a file that is open for writing, without opening it again.
void ApplyDosDateTime(platform::TFile& file, std::uint32_t value);

/// The UTC time of a value taken as local time; nothing when it has no calendar
/// form or the local time does not exist.
std::optional<platform::TFileTime> DosDateTimeToUtc(std::uint32_t value);
/// A UTC time as a local DOS date-time, or NoDosDateTime when it has no DOS form.
std::uint32_t UtcToDosDateTime(platform::TFileTime time);

/// An open file's last-write time in local time as a DOS date-time, or
/// NoDosDateTime when it has no DOS form or cannot be read.
std::uint32_t FileDosDateTime(platform::TFile& file);

/// The DOS date-time of a local calendar time, or NoDosDateTime outside
/// 1980 to 2107.
std::uint32_t CalendarToDosDateTime(const platform::TCalendar& local);

}  // namespace kestrel
