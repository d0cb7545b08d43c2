#include "platform/DateTime.h"

#include "platform/windows/WinSupport.h"

#include <ctime>

namespace vornel {

TDateTime UnixTimeToLocalDateTime(std::time_t t, long nanoseconds) {
  std::tm local{};
  if (::localtime_s(&local, &t) != 0)
    return 0;
  return CalendarToDateTime(local, nanoseconds);
}

TDateTime Now() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return EncodeDateTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                        now.wMilliseconds);
}

} // namespace vornel
