#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include "platform/windows/WinSupport.h"

namespace vornel {

// On Windows the stream errors carry GetLastError's code and the system's text for it.
EFOpenError::EFOpenError(const std::string& path, int err)
    : EIoError("Cannot open file \"" + path + "\". " + win::ErrorText(static_cast<DWORD>(err)),
               path, IoOperation::Open, err) {}

EFCreateError::EFCreateError(const std::string& path, int err)
    : EIoError("Cannot create file \"" + path + "\". " + win::ErrorText(static_cast<DWORD>(err)),
               path, IoOperation::Create, err) {}

bool EFCreateError::AlreadyExists() const noexcept {
  return PlatformCode() == ERROR_FILE_EXISTS || PlatformCode() == ERROR_ALREADY_EXISTS;
}

std::string SystemErrorText(int code) {
  return win::ErrorText(static_cast<DWORD>(code));
}

} // namespace vornel

namespace vornel::faults {

int SystemCodeOf(FaultError error) {
  switch (error) {
  case FaultError::DiskFull:
    return ERROR_DISK_FULL;
  case FaultError::DeviceError:
    return ERROR_IO_DEVICE;
  case FaultError::AccessDenied:
    break;
  }
  return ERROR_ACCESS_DENIED;
}

void SetSystemError(int code) {
  ::SetLastError(static_cast<DWORD>(code));
}

} // namespace vornel::faults
