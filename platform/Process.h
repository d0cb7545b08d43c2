#pragma once

// The running process and its peers, as far as a build needs to know them.

#include <cstdint>

namespace vornel {

std::uint32_t CurrentProcessId();
// True when a process with this id exists (it may belong to another user).
bool ProcessRunning(std::uint32_t id);

} // namespace vornel
