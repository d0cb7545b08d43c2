#include "platform/Process.h"

#include "platform/windows/WinSupport.h"

#include <shellapi.h>

namespace vornel {

std::uint32_t CurrentProcessId() {
  return ::GetCurrentProcessId();
}

bool ProcessRunning(std::uint32_t id) {
  if (id == 0)
    return false;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr)
    return ::GetLastError() == ERROR_ACCESS_DENIED; // someone else's, but there
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr)
    return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i)
    arguments.push_back(win::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

} // namespace vornel
