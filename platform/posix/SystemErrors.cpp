#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <cerrno>
#include <cstring>

namespace vornel {

namespace {

// strerror_r comes in two flavours (GNU returns the text, XSI fills the buffer); the overloads
// pick whichever the C library declares.
[[maybe_unused]] const char* ErrnoTextResult(const char* text, const char*) {
  return text;
}
[[maybe_unused]] const char* ErrnoTextResult(int failed, const char* buffer) {
  return failed == 0 ? buffer : "Unknown error";
}

std::string ErrnoText(int err) {
  char buffer[256] = {};
  return ErrnoTextResult(::strerror_r(err, buffer, sizeof buffer), buffer);
}

} // namespace

std::string SystemErrorText(int code) {
  return ErrnoText(code);
}

EFOpenError::EFOpenError(const std::string& path, int err)
    : EIoError("Cannot open file \"" + path + "\". " + ErrnoText(err), path, IoOperation::Open,
               err) {}

EFCreateError::EFCreateError(const std::string& path, int err)
    : EIoError("Cannot create file \"" + path + "\". " + ErrnoText(err), path, IoOperation::Create,
               err) {}

bool EFCreateError::AlreadyExists() const noexcept {
  return PlatformCode() == EEXIST;
}

} // namespace vornel

namespace vornel::faults {

int SystemCodeOf(FaultError error) {
  switch (error) {
  case FaultError::DiskFull:
    return ENOSPC;
  case FaultError::DeviceError:
    return EIO;
  case FaultError::AccessDenied:
    break;
  }
  return EACCES;
}

void SetSystemError(int code) {
  errno = code;
}

} // namespace vornel::faults
