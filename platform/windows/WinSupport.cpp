#include "platform/windows/WinSupport.h"

#include "platform/Errors.h"

namespace vornel::win {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty())
    return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty())
    return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length,
                        nullptr, nullptr);
  return utf8;
}

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/')
      c = L'\\';
  }
  return wide;
}

std::string ProgramPath(const std::wstring& path) {
  std::string utf8 = Narrow(path);
  for (char& c : utf8) {
    if (c == '\\')
      c = '/';
  }
  return utf8;
}

int IoErrorCodeFromWin32(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
    return io_error::FileNotFound;
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_FILENAME_EXCED_RANGE:
  case ERROR_DIRECTORY:
    return io_error::InvalidFilename;
  case ERROR_TOO_MANY_OPEN_FILES:
    return io_error::TooManyOpenFiles;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
  case ERROR_WRITE_PROTECT:
    return io_error::AccessDenied;
  case ERROR_HANDLE_EOF:
    return io_error::ReadBeyondEnd;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return io_error::DiskFull;
  case ERROR_NEGATIVE_SEEK:
    return io_error::NegativeSeek;
  default:
    break;
  }
  // Other codes keep their number unless it would pose as a named code.
  switch (error) {
  case io_error::InvalidNumericInput:
    return io_error::DeviceError;
  default:
    return static_cast<int>(error);
  }
}

std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr)
    return "System error " + std::to_string(error);
  std::wstring text(buffer, length);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  return Narrow(text);
}

void RaiseWin32Error(DWORD error, const std::string& path, IoOperation operation) {
  throw EInOutError(IoErrorCodeFromWin32(error), path, operation, static_cast<int>(error));
}

} // namespace vornel::win
