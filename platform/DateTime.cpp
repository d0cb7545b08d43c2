#include "platform/DateTime.h"

#include "platform/Errors.h"

#include <algorithm>
#include <cmath>

namespace vornel {

namespace {

constexpr std::int64_t MsPerDay = 86'400'000;
// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t DateDeltaFromUnix = -25'569;
// Values further out than this (about ±2.7 million years) are no dates; decoding refuses them
// instead of overflowing.
constexpr double MaxDays = 1e9;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool ValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool ValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  // Days are counted from the month's first day so that out-of-range days and months still give
  // a number instead of failing; the checked variant is for callers that must refuse them.
  std::int64_t y = year;
  std::int64_t m0 = static_cast<std::int64_t>(month) - 1;
  y += m0 >= 0 ? m0 / 12 : (m0 - 11) / 12;
  m0 -= (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12) * 12;
  const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(m0 + 1), 1) +
                            (static_cast<std::int64_t>(day) - 1) - DateDeltaFromUnix;
  const double time = (static_cast<double>(hour) * 3'600'000.0 + minute * 60'000.0 +
                       second * 1'000.0 + millisecond) /
                      static_cast<double>(MsPerDay);
  // Before the epoch the fraction still counts forward from midnight, so it is subtracted.
  return days < 0 ? static_cast<double>(days) - time : static_cast<double>(days) + time;
}

TDateTime CalendarToDateTime(const std::tm& fields, long nanoseconds) {
  int ms = static_cast<int>(nanoseconds / 1'000'000);
  if (ms < 0 || ms > 999)
    ms = 0;
  return EncodeDateTime(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                        fields.tm_min, std::min(fields.tm_sec, 59), ms);
}

TDateTime EncodeDateTimeChecked(int year, int month, int day, int hour, int minute, int second,
                                int millisecond) {
  if (!ValidDate(year, month, day))
    throw EConvertError("Invalid argument to date encode");
  if (!ValidTime(hour, minute, second, millisecond))
    throw EConvertError("Invalid argument to time encode");
  return EncodeDateTime(year, month, day, hour, minute, second, millisecond);
}

DateTimeFields DecodeDateTime(TDateTime value) {
  if (!std::isfinite(value) || std::fabs(value) > MaxDays)
    throw EConvertError("Invalid date-time value");
  std::int64_t days;
  std::int64_t ms;
  if (value >= 0) {
    const auto total =
        static_cast<std::int64_t>(std::llround(value * static_cast<double>(MsPerDay)));
    days = total / MsPerDay;
    ms = total % MsPerDay;
  } else {
    days = static_cast<std::int64_t>(std::trunc(value));
    ms = std::llround(std::fabs(value - static_cast<double>(days)) * static_cast<double>(MsPerDay));
    if (ms >= MsPerDay) { // rounded up to the next midnight, which lies one day further back
      days -= 1;
      ms -= MsPerDay;
    }
  }
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days + DateDeltaFromUnix, y, m, d);
  DateTimeFields f{};
  f.Year = static_cast<int>(y);
  f.Month = static_cast<int>(m);
  f.Day = static_cast<int>(d);
  f.Hour = static_cast<int>(ms / 3'600'000);
  f.Minute = static_cast<int>(ms / 60'000 % 60);
  f.Second = static_cast<int>(ms / 1'000 % 60);
  f.Millisecond = static_cast<int>(ms % 1'000);
  return f;
}

std::uint32_t DateTimeToDosDateTime(TDateTime value) {
  if (!std::isfinite(value) || std::fabs(value) > MaxDays)
    return 0;
  const DateTimeFields f = DecodeDateTime(value);
  if (f.Year < 1980 || f.Year > 2107)
    return 0;
  const auto date = static_cast<std::uint32_t>((f.Year - 1980) * 512 + f.Month * 32 + f.Day);
  const auto time = static_cast<std::uint32_t>(f.Hour * 2048 + f.Minute * 32 + f.Second / 2);
  return date << 16 | time;
}

TDateTime DosDateTimeToDateTime(std::uint32_t dos) {
  const std::uint32_t date = dos >> 16;
  const std::uint32_t time = dos & 0xFFFF;
  return EncodeDateTimeChecked(static_cast<int>(date >> 9) + 1980, static_cast<int>(date >> 5 & 15),
                               static_cast<int>(date & 31), static_cast<int>(time >> 11),
                               static_cast<int>(time >> 5 & 63), static_cast<int>(time & 31) * 2,
                               0);
}

} // namespace vornel
