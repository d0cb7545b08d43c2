#include "platform/DateTime.h"

#include <mutex>
#include <time.h>

namespace vornel {

TDateTime UnixTimeToLocalDateTime(std::time_t t, long nanoseconds) {
  static std::once_flag zoneRead;
  std::call_once(zoneRead, [] { ::tzset(); });
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr)
    return 0;
  return CalendarToDateTime(local, nanoseconds);
}

TDateTime Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return UnixTimeToLocalDateTime(now.tv_sec, now.tv_nsec);
}

} // namespace vornel
