#include "platform/Errors.h"

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

std::string IoErrorMessage(int code) {
  switch (code) {
  case io_error::FileNotFound:
    return "File not found";
  case io_error::InvalidFilename:
    return "Invalid filename";
  case io_error::TooManyOpenFiles:
    return "Too many open files";
  case io_error::AccessDenied:
    return "File access denied";
  case io_error::ReadBeyondEnd:
    return "Read beyond end of file";
  case io_error::DiskFull:
    return "Disk full";
  case io_error::InvalidNumericInput:
    return "Invalid numeric input";
  default:
    return "I/O error " + std::to_string(code);
  }
}

int IoErrorCodeFromErrno(int err) {
  switch (err) {
  case ENOENT:
    return io_error::FileNotFound;
  case ENOTDIR:
  case ENAMETOOLONG:
  case EINVAL:
    return io_error::InvalidFilename;
  case EMFILE:
  case ENFILE:
    return io_error::TooManyOpenFiles;
  case EACCES:
  case EPERM:
  case EROFS:
  case EISDIR:
    return io_error::AccessDenied;
  case ENOSPC:
  case EDQUOT:
    return io_error::DiskFull;
  case EIO:
    return io_error::DeviceError;
  default:
    break;
  }
  switch (err) {
  case io_error::FileNotFound:
  case io_error::InvalidFilename:
  case io_error::TooManyOpenFiles:
  case io_error::AccessDenied:
  case io_error::ReadBeyondEnd:
  case io_error::DiskFull:
  case io_error::InvalidNumericInput:
    return io_error::DeviceError;
  default:
    return err;
  }
}

EInOutError::EInOutError(int code) : std::runtime_error(IoErrorMessage(code)), code_(code) {}

void RaiseIoError(int code) {
  throw EInOutError(code);
}

void RaiseIoErrorFromErrno(int err) {
  throw EInOutError(IoErrorCodeFromErrno(err));
}

EFOpenError::EFOpenError(const std::string& path, int err)
    : std::runtime_error("Cannot open file \"" + path + "\". " + ErrnoText(err)) {}

EFOpenError::EFOpenError(const std::string& path, const std::string& reason)
    : std::runtime_error("Cannot open file \"" + path + "\". " + reason) {}

EFCreateError::EFCreateError(const std::string& path, int err)
    : std::runtime_error("Cannot create file \"" + path + "\". " + ErrnoText(err)) {}

EFCreateError::EFCreateError(const std::string& path, const std::string& reason)
    : std::runtime_error("Cannot create file \"" + path + "\". " + reason) {}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
    return message + ".";
  return message;
}

} // namespace vornel
