#include "platform/Errors.h"

#include <cerrno>

namespace vornel {

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
  case io_error::NegativeSeek:
    return "Seek to a position before the start of the file";
  case io_error::DeviceError:
    return "The device failed to read or write";
  default:
    break;
  }
  // Any other code is the system's own number; its text names the cause better than the number.
  const std::string text = SystemErrorText(code);
  if (text.empty() || text.starts_with("Unknown error"))
    return "I/O error " + std::to_string(code);
  return text;
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
#ifdef EDQUOT
  case EDQUOT:
#endif
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

const char* IoOperationName(IoOperation operation) {
  switch (operation) {
  case IoOperation::Open:
    return "open";
  case IoOperation::Create:
    return "create";
  case IoOperation::Read:
    return "read";
  case IoOperation::Write:
    return "write";
  case IoOperation::Seek:
    return "seek";
  case IoOperation::Resize:
    return "resize";
  case IoOperation::Rename:
    return "rename";
  case IoOperation::List:
    return "list";
  case IoOperation::Inspect:
    return "inspect";
  case IoOperation::Unknown:
    break;
  }
  return "unknown";
}

EIoError::EIoError(const std::string& message, const std::string& path, IoOperation operation,
                   int platformCode)
    : std::runtime_error(message), path_(std::make_shared<const std::string>(path)),
      operation_(operation), platformCode_(platformCode) {}

namespace {

std::string InOutMessage(int code, const std::string& path, const std::string& note) {
  std::string message = IoErrorMessage(code);
  if (!path.empty())
    message += ": \"" + path + "\".";
  if (!note.empty())
    message += (path.empty() ? ". " : " ") + note;
  return message;
}

} // namespace

EInOutError::EInOutError(int code, const std::string& path, IoOperation operation, int platformCode,
                         const std::string& note)
    : EIoError(InOutMessage(code, path, note), path, operation, platformCode), code_(code),
      note_(std::make_shared<const std::string>(note)) {}

EInOutError EInOutError::WithPath(const std::string& path) const {
  return EInOutError(code_, path, Operation(), PlatformCode(), *note_);
}

EInOutError EInOutError::WithNote(const std::string& note) const {
  return EInOutError(code_, Path(), Operation(), PlatformCode(),
                     note_->empty() ? note : *note_ + ". " + note);
}

void RaiseFolderError(int code, const std::string& path, int platformCode) {
  std::string reason = SystemErrorText(platformCode);
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
    reason.pop_back();
  throw EInOutError(code, path, IoOperation::Create, platformCode,
                    "The folder cannot be made (" + reason + ").");
}

void RaiseIoError(int code, const std::string& path, IoOperation operation) {
  throw EInOutError(code, path, operation);
}

void RaiseIoErrorFromErrno(int err, const std::string& path, IoOperation operation) {
  throw EInOutError(IoErrorCodeFromErrno(err), path, operation, err);
}

EFOpenError::EFOpenError(const std::string& path, const std::string& reason)
    : EIoError("Cannot open file \"" + path + "\". " + reason, path, IoOperation::Open, 0) {}

EFCreateError::EFCreateError(const std::string& path, const std::string& reason)
    : EIoError("Cannot create file \"" + path + "\". " + reason, path, IoOperation::Create, 0) {}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
    return message + ".";
  return message;
}

} // namespace vornel
