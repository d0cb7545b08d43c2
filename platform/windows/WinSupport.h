#pragma once

// What the Windows side of the platform layer shares: conversions at the boundary (paths are
// UTF-8 inside the program, UTF-16 for the wide-character calls) and the mapping of system error
// codes to the run-time codes.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/Errors.h"
#include "platform/FindFiles.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel::win {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
// A path for the wide-character calls: "/" becomes "\".
std::wstring WidePath(const std::string& path);
// A path as the program keeps it: "\" becomes "/".
std::string ProgramPath(const std::wstring& path);

int IoErrorCodeFromWin32(DWORD error);
// The system's text for an error code, without the trailing line break.
std::string ErrorText(DWORD error);
[[noreturn]] void RaiseWin32Error(DWORD error, const std::string& path = {},
                                  IoOperation operation = IoOperation::Unknown);

// A found entry from what the find lookup or a file handle reports.
FoundFile DescribeEntry(std::string name, DWORD attributes, DWORD sizeHigh, DWORD sizeLow,
                        const FILETIME& lastWrite);

// Classes keep their handle as an integer so their headers need no system header.
inline HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// One read or write call moves at most this much, so that its count always fits a DWORD.
inline constexpr std::size_t MaxTransfer = 1 << 30;

// Closes a handle on every way out.
class HandleGuard {
public:
  explicit HandleGuard(HANDLE handle) : handle_(handle) {}
  ~HandleGuard() {
    if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr)
      ::CloseHandle(handle_);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  HANDLE Get() const { return handle_; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

private:
  HANDLE handle_;
};

} // namespace vornel::win
