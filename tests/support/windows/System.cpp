#include "tests/support/TestSupport.h"

#include "platform/windows/WinSupport.h"

namespace vornel::test {

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(win::Widen(utf8));
}

std::string NewFileProblems(const std::string&, std::intptr_t handle) {
  DWORD flags = 0;
  if (!::GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags))
    return "no handle information";
  return (flags & HANDLE_FLAG_INHERIT) != 0 ? "the handle is inherited by child processes" : "";
}

bool PermissionsStopReads() {
  return false; // permissions only set the read-only attribute, which never stops a read
}

bool MakeFifo(const std::string&) {
  return false; // named pipes of Windows live outside the file system
}

HeldOpen::HeldOpen(const std::string& path) {
  HANDLE handle = ::CreateFileW(win::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE)
    handle_ = handle;
}

HeldOpen::~HeldOpen() {
  if (handle_ != nullptr)
    ::CloseHandle(handle_);
}

} // namespace vornel::test
