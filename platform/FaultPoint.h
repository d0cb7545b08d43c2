#pragma once

// Where the platform's implementations ask whether a planned fault takes the place of a system
// call (platform/FaultInjection.h plans them).

#include "platform/FaultInjection.h"

#include <atomic>

namespace vornel::faults {

namespace detail {
extern std::atomic<bool> planned;
int TakeFault(FaultCall call);
} // namespace detail

// 0 when the call goes ahead; else the system's error code it must fail with (errno on POSIX,
// a GetLastError code on Windows).
inline int InjectedFault(FaultCall call) {
  return detail::planned.load(std::memory_order_relaxed) ? detail::TakeFault(call) : 0;
}

// The system's own code for an error (posix/ or windows/).
int SystemCodeOf(FaultError error);
// Sets the code the system's error variable reports (errno, or SetLastError).
void SetSystemError(int code);

// Runs call unless a planned fault takes its place: then the system's error is set as the call
// would have set it and failed is returned.
template <typename Result, typename Call>
Result UnlessFaulted(FaultCall kind, Result failed, Call&& call) {
  if (const int code = InjectedFault(kind)) {
    SetSystemError(code);
    return failed;
  }
  return call();
}

} // namespace vornel::faults
