#pragma once

#include <stdexcept>
#include <string>

namespace vornel {

// The run-time input/output error: a numeric code and the fixed message that belongs to it.
// Codes follow the classic run-time numbering so that operators see familiar texts
// ("File not found", "Disk full", ...).
class EInOutError : public std::runtime_error {
public:
  explicit EInOutError(int code);
  int ErrorCode() const noexcept { return code_; }

private:
  int code_;
};

// Well-known run-time error codes.
namespace io_error {
inline constexpr int FileNotFound = 2;
inline constexpr int InvalidFilename = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int ReadBeyondEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int InvalidNumericInput = 106;
// A seek or resize to a position before the start of a stream.
inline constexpr int NegativeSeek = 131;
// A device or transport failure (EIO and the like).
inline constexpr int DeviceError = 1117;
} // namespace io_error

// The message text for a run-time error code ("I/O error N" for codes without a name).
std::string IoErrorMessage(int code);

// Maps an errno value to the run-time error code (ENOENT -> 2, ENOSPC -> 101, ...). Other errno
// values keep their number, except those that would pose as a named code (EIO is 5, the number of
// "File access denied"): they become DeviceError.
int IoErrorCodeFromErrno(int err);

[[noreturn]] void RaiseIoError(int code);
[[noreturn]] void RaiseIoErrorFromErrno(int err);

// Errors of the file stream itself when a file cannot be opened or created; the message names
// the path and the reason.
class EFOpenError : public std::runtime_error {
public:
  EFOpenError(const std::string& path, int err);
  EFOpenError(const std::string& path, const std::string& reason);
};

// The reason given when a path names a pipe, socket or device rather than a file: reading one
// could wait for ever or never end.
inline constexpr const char* NotARegularFile = "It is not a regular file";

class EFCreateError : public std::runtime_error {
public:
  EFCreateError(const std::string& path, int err);
  EFCreateError(const std::string& path, const std::string& reason);
};

// A value that does not convert (for example a DOS date and time that is no calendar date).
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The text that the error box shows for an error: its message with a full stop appended when
// the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

} // namespace vornel
