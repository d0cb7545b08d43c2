#include "platform/DateTime.h"

#include "platform/windows/WinSupport.h"

#include <algorithm>
#include <ctime>

namespace vornel {

TDateTime UnixTimeToLocalDateTime(std::time_t t, long nanoseconds) {
  std::tm local{};
  if (::localtime_s(&local, &t) != 0)
    return 0;
  int ms = static_cast<int>(nanoseconds / 1'000'000);
  if (ms < 0 || ms > 999)
    ms = 0;
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, std::min(local.tm_sec, 59), ms);
}

TDateTime Now() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return EncodeDateTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                        now.wMilliseconds);
}

} // namespace vornel
