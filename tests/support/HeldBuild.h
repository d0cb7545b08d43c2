#pragma once

// Holds a build that a window runs at its first write, until the window has asked it to stop:
// a close then always comes while the build is under way, however fast the machine packs.

#include "platform/FaultInjection.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace vornel::test {

class HeldBuild {
public:
  // Plan before the build starts; stopRequested tells whether the window asked it to stop.
  explicit HeldBuild(std::function<bool()> stopRequested) {
    faults::PlanHold(faults::FaultCall::Write, 1);
    releaser_ = std::thread([this, stop = std::move(stopRequested)] {
      faults::WaitUntilHeld();
      // Waiting for the request, not for a time: only how soon the build goes on depends on it.
      while (!stop() && !ended_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      faults::ReleaseHold();
    });
  }
  ~HeldBuild() {
    ended_ = true;
    faults::ClearFaultPlan();
    releaser_.join();
  }
  HeldBuild(const HeldBuild&) = delete;
  HeldBuild& operator=(const HeldBuild&) = delete;

  // Returns once the build waits at its first write.
  void WaitUntilHeld() { faults::WaitUntilHeld(); }

private:
  std::atomic<bool> ended_{false};
  std::thread releaser_;
};

} // namespace vornel::test
