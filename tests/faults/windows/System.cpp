#include "tests/faults/FaultSupport.h"

#include "platform/windows/WinSupport.h"

#include <psapi.h>
#include <winioctl.h>

#include <atomic>

namespace vornel::test {

SmallDisk::SmallDisk(std::string folder, std::size_t) : folder_(std::move(folder)) {
  error_ = "Windows has no small disk to mount for a test (no tmpfs)";
}

SmallDisk::~SmallDisk() = default;

bool SmallDisk::Resize(std::size_t) {
  return false;
}

bool SmallDisk::MakeReadOnly() {
  return false;
}

WaitingPipe::WaitingPipe(const std::string&) {
  static std::atomic<int> made{0};
  path_ = "\\\\.\\pipe\\vornel-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
          std::to_string(made++);
  HANDLE pipe =
      ::CreateNamedPipeW(win::Widen(path_).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    why_ = "cannot make a named pipe: " + win::ErrorText(::GetLastError());
    path_.clear();
    return;
  }
  handle_ = pipe;
}

WaitingPipe::~WaitingPipe() {
  if (handle_ != nullptr)
    ::CloseHandle(handle_);
}

BoundSocket::BoundSocket(const std::string&) {
  why_ = "sockets are not files on Windows";
}

BoundSocket::~BoundSocket() = default;

std::string DevicePath() {
  return "NUL";
}

std::string CallWithTimeLimit(const std::function<std::string()>& call, int) {
  // On this thread: under wine, a thread started beside another wine process now and then does
  // not run for many seconds, which would read as a hang. ctest's time limit catches a real one.
  try {
    return call();
  } catch (...) {
    return "crashed";
  }
}

bool MakeSparseFile(const std::string& path, std::int64_t size) {
  win::HandleGuard file(::CreateFileW(win::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE)
    return false;
  DWORD returned = 0;
  // Best effort: where the file system has no sparse files the size is still set.
  ::DeviceIoControl(file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = size;
  return ::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
}

long PeakMemoryKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
    return 0;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

} // namespace vornel::test
