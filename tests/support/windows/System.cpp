#include "tests/support/TestSupport.h"

#include "platform/windows/WinSupport.h"

namespace vornel::test {

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(win::Widen(utf8));
}

std::string FolderIdentity(const std::string& path) {
  const HANDLE folder = ::CreateFileW(win::Widen(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE)
    return "";
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(folder, &info) != 0;
  ::CloseHandle(folder);
  if (!known)
    return "";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
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
