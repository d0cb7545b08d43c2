#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace vornel {

std::uint32_t CurrentProcessId() {
  return static_cast<std::uint32_t>(::getpid());
}

bool ProcessRunning(std::uint32_t id) {
  if (id == 0 || id > static_cast<std::uint32_t>(INT32_MAX))
    return false;
  // Signal 0 only asks whether the process exists; EPERM means it does, as someone else's.
  return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

} // namespace vornel
