#include "platform/FaultInjection.h"

#include "platform/FaultPoint.h"

#include <array>

namespace vornel::faults {

namespace detail {
std::atomic<bool> planned{false};
} // namespace detail

namespace {

std::array<std::atomic<int>, FaultCallKinds> seen{};
std::atomic<int> plannedCall{0};
std::atomic<int> plannedNth{0};
std::atomic<int> plannedCode{0};

} // namespace

void PlanFault(FaultCall call, int nth, FaultError error) {
  detail::planned = false;
  for (auto& count : seen)
    count = 0;
  plannedCall = static_cast<int>(call);
  plannedNth = nth;
  plannedCode = SystemCodeOf(error);
  detail::planned = true;
}

void ClearFaultPlan() {
  detail::planned = false;
}

int CallsSeen(FaultCall call) {
  return seen[static_cast<std::size_t>(call)].load();
}

int detail::TakeFault(FaultCall call) {
  const int count = seen[static_cast<std::size_t>(call)].fetch_add(1) + 1;
  return static_cast<int>(call) == plannedCall.load() && count == plannedNth.load()
             ? plannedCode.load()
             : 0;
}

} // namespace vornel::faults
