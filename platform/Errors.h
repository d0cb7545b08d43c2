#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace vornel {

// What was being done when an input/output operation failed.
enum class IoOperation { Unknown, Open, Create, Read, Write, Seek, Resize, Rename, List, Inspect };
const char* IoOperationName(IoOperation operation);

// Every input/output failure: besides its message it carries the path it concerns (empty for
// a stream that is no file), the operation and the platform's own code (errno on POSIX,
// GetLastError's code on Windows; 0 when the program found the fault itself, such as a file that
// ends early).
class EIoError : public std::runtime_error {
public:
  const std::string& Path() const noexcept { return *path_; }
  IoOperation Operation() const noexcept { return operation_; }
  int PlatformCode() const noexcept { return platformCode_; }

protected:
  EIoError(const std::string& message, const std::string& path, IoOperation operation,
           int platformCode);

private:
  std::shared_ptr<const std::string> path_; // shared, so copying the error cannot throw
  IoOperation operation_;
  int platformCode_;
};

// The run-time input/output error: a numeric code and the fixed message that belongs to it,
// then the path in quotes when there is one ("Disk full: \"Upload/a.txt.zip\"."). Codes follow
// the classic run-time numbering so that operators see familiar texts ("File not found",
// "Disk full", ...).
class EInOutError : public EIoError {
public:
  explicit EInOutError(int code, const std::string& path = {},
                       IoOperation operation = IoOperation::Unknown, int platformCode = 0,
                       const std::string& note = {});
  int ErrorCode() const noexcept { return code_; }

  // The same failure told about another path (for instance relative to a folder the user
  // knows), and with a sentence more after the message.
  EInOutError WithPath(const std::string& path) const;
  EInOutError WithNote(const std::string& note) const;

private:
  int code_;
  std::shared_ptr<const std::string> note_;
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

// The message text for a run-time error code: the fixed text of a named code, else the system's
// sentence for it ("I/O error N" only when the system has none).
std::string IoErrorMessage(int code);

// The system's own sentence for one of its error codes ("Unknown error N" when it has none).
std::string SystemErrorText(int code);

// Maps an errno value to the run-time error code (ENOENT -> 2, ENOSPC -> 101, ...). Other errno
// values keep their number, except those that would pose as a named code (EIO is 5, the number of
// "File access denied"): they become DeviceError.
int IoErrorCodeFromErrno(int err);

[[noreturn]] void RaiseIoError(int code, const std::string& path = {},
                               IoOperation operation = IoOperation::Unknown);
[[noreturn]] void RaiseIoErrorFromErrno(int err, const std::string& path = {},
                                        IoOperation operation = IoOperation::Unknown);

// A folder that cannot be made: the run-time error naming it, and the system's own sentence for
// platformCode (errno, or GetLastError's code), which tells apart what the run-time code lumps
// together (a name too long, a file in the way, a parent missing).
[[noreturn]] void RaiseFolderError(int code, const std::string& path, int platformCode);

// Errors of the file stream itself when a file cannot be opened or created; the message names
// the path and the reason.
class EFOpenError : public EIoError {
public:
  EFOpenError(const std::string& path, int err);
  EFOpenError(const std::string& path, const std::string& reason);
};

// The reason given when a path names a pipe, socket or device rather than a file: reading one
// could wait for ever or never end.
inline constexpr const char* NotARegularFile = "It is not a regular file";

class EFCreateError : public EIoError {
public:
  EFCreateError(const std::string& path, int err);
  EFCreateError(const std::string& path, const std::string& reason);
  // A file or link of that name is there already (an exclusive creation failed).
  bool AlreadyExists() const noexcept;
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
