#pragma once

// For tests only: makes one chosen call of the platform layer fail as if the system had refused
// it, so that the paths of a full disk, a failing device or a denied access run without root,
// without a small disk and on every system. A program never plans a fault; then each call site
// costs one relaxed load.

namespace vornel::faults {

// The calls that can be made to fail: a write to a file, a rename (folders exchanged included),
// the opening or creation of a file, and the creation of a folder.
enum class FaultCall { Write, Rename, Open, CreateFolder };
inline constexpr int FaultCallKinds = 4;

// What the system says instead: no space left, the device failed, or access is denied.
enum class FaultError { DiskFull, DeviceError, AccessDenied };

// From now on calls are counted in every thread, and the nth call of that kind (1: the next
// one) fails with error; the others go through. nth 0 only counts. Replaces an earlier plan.
void PlanFault(FaultCall call, int nth, FaultError error);
// No plan: calls go through uncounted.
void ClearFaultPlan();
// The calls of that kind since the plan was made, the failed one included.
int CallsSeen(FaultCall call);

// For a test that must act while an operation is under way: from the nth call of that kind on
// (1: the next one), every call waits before it goes ahead, until ReleaseHold. Replaces an
// earlier plan; ClearFaultPlan releases too.
void PlanHold(FaultCall call, int nth);
// Returns once a call waits.
void WaitUntilHeld();
// Waiting calls go ahead, and so do the calls after them.
void ReleaseHold();

// A plan for the life of the object.
class ScopedFaultPlan {
public:
  ScopedFaultPlan(FaultCall call, int nth, FaultError error) { PlanFault(call, nth, error); }
  ~ScopedFaultPlan() { ClearFaultPlan(); }
  ScopedFaultPlan(const ScopedFaultPlan&) = delete;
  ScopedFaultPlan& operator=(const ScopedFaultPlan&) = delete;
};

} // namespace vornel::faults
