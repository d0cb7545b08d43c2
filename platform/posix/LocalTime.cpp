#include "platform/DateTime.h"

#include <algorithm>
#include <mutex>
#include <time.h>

namespace vornel {

TDateTime UnixTimeToLocalDateTime(std::time_t t, long nanoseconds) {
  static std::once_flag zoneRead;
  std::call_once(zoneRead, [] { ::tzset(); });
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr)
    return 0;
  int ms = static_cast<int>(nanoseconds / 1'000'000);
  if (ms < 0 || ms > 999)
    ms = 0;
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, std::min(local.tm_sec, 59), ms);
}

TDateTime Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return UnixTimeToLocalDateTime(now.tv_sec, now.tv_nsec);
}

} // namespace vornel
