#include "platform/FaultInjection.h"

#include "platform/FaultPoint.h"

#include <array>
#include <condition_variable>
#include <mutex>

namespace vornel::faults {

namespace detail {
std::atomic<bool> planned{false};
} // namespace detail

namespace {

std::array<std::atomic<int>, FaultCallKinds> seen{};
std::atomic<int> plannedCall{0};
std::atomic<int> plannedNth{0};
std::atomic<int> plannedCode{0}; // 0: a hold, not a fault

struct Hold {
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Released = true;
  int Waiting = 0;
};
Hold hold;

void Release() {
  {
    std::lock_guard lock(hold.Mutex);
    hold.Released = true;
  }
  hold.Changed.notify_all();
}

void WaitWhileHeld() {
  std::unique_lock lock(hold.Mutex);
  ++hold.Waiting;
  hold.Changed.notify_all();
  hold.Changed.wait(lock, [] { return hold.Released; });
  --hold.Waiting;
}

void Plan(FaultCall call, int nth, int code) {
  detail::planned = false;
  Release();
  for (auto& count : seen)
    count = 0;
  plannedCall = static_cast<int>(call);
  plannedNth = nth;
  plannedCode = code;
  if (code == 0) {
    std::lock_guard lock(hold.Mutex);
    hold.Released = false;
  }
  detail::planned = true;
}

} // namespace

void PlanFault(FaultCall call, int nth, FaultError error) {
  Plan(call, nth, SystemCodeOf(error));
}

void PlanHold(FaultCall call, int nth) {
  Plan(call, nth, 0);
}

void WaitUntilHeld() {
  std::unique_lock lock(hold.Mutex);
  hold.Changed.wait(lock, [] { return hold.Waiting > 0 || hold.Released; });
}

void ReleaseHold() {
  Release();
}

void ClearFaultPlan() {
  detail::planned = false;
  Release();
}

int CallsSeen(FaultCall call) {
  return seen[static_cast<std::size_t>(call)].load();
}

int detail::TakeFault(FaultCall call) {
  const int count = seen[static_cast<std::size_t>(call)].fetch_add(1) + 1;
  if (static_cast<int>(call) != plannedCall.load())
    return 0;
  const int code = plannedCode.load();
  if (code == 0) {
    if (count >= plannedNth.load())
      WaitWhileHeld();
    return 0;
  }
  return count == plannedNth.load() ? code : 0;
}

} // namespace vornel::faults
