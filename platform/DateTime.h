#pragma once

#include <cstdint>
#include <ctime>

namespace vornel {

// Date-time values count days since 30 December 1899, the fraction being the time of day,
// in local time.
using TDateTime = double;

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);
// Raises EConvertError when the fields do not form a valid date and time.
TDateTime EncodeDateTimeChecked(int year, int month, int day, int hour, int minute, int second,
                                int millisecond);
struct DateTimeFields {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
DateTimeFields DecodeDateTime(TDateTime value);

TDateTime Now();
TDateTime UnixTimeToLocalDateTime(std::time_t t, long nanoseconds = 0);
// The date-time of broken-down calendar fields; a leap second reads as second 59 and nanoseconds
// outside one second are dropped.
TDateTime CalendarToDateTime(const std::tm& fields, long nanoseconds);

// Packs a date-time into the DOS value (date in the high half, time in the low half); 0 when the
// year lies outside 1980 to 2107.
std::uint32_t DateTimeToDosDateTime(TDateTime value);
// Unpacks a DOS value; raises EConvertError when it does not form a valid date and time.
TDateTime DosDateTimeToDateTime(std::uint32_t dos);

} // namespace vornel
