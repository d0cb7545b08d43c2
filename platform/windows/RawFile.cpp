#include "platform/RawFile.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"
#include "platform/windows/WinSupport.h"

#include <algorithm>

namespace vornel {

RawFile::RawFile(const std::string& path, Mode mode) : path_(path) {
  const DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_WRITE;
  const DWORD disposition = mode == Mode::Rewrite ? CREATE_ALWAYS : OPEN_EXISTING;
  win::HandleGuard handle(faults::UnlessFaulted(faults::FaultCall::Open, INVALID_HANDLE_VALUE, [&] {
    return ::CreateFileW(win::WidePath(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }));
  if (handle.Get() == INVALID_HANDLE_VALUE)
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Open);
  // A pipe or device has no fixed content, and its reads may never end.
  if (mode == Mode::Read && ::GetFileType(handle.Get()) != FILE_TYPE_DISK)
    throw EFOpenError(path, NotARegularFile);
  handle_ = reinterpret_cast<std::intptr_t>(handle.Release());
}

RawFile::~RawFile() {
  if (handle_ != -1)
    ::CloseHandle(win::AsHandle(handle_));
}

std::size_t RawFile::Read(void* buffer, std::size_t count) {
  DWORD got = 0;
  if (!::ReadFile(win::AsHandle(handle_), buffer,
                  static_cast<DWORD>(std::min(count, win::MaxTransfer)), &got, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_HANDLE_EOF)
      win::RaiseWin32Error(error, path_, IoOperation::Read);
  }
  return got;
}

void RawFile::Write(const void* buffer, std::size_t count) {
  // Append mode writes at the end, whatever another writer did meanwhile.
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(win::AsHandle(handle_), zero, nullptr, FILE_END))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Seek);
  const auto* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    DWORD put = 0;
    if (!faults::UnlessFaulted(faults::FaultCall::Write, FALSE, [&] {
          return ::WriteFile(win::AsHandle(handle_), bytes + done,
                             static_cast<DWORD>(std::min(count - done, win::MaxTransfer)), &put,
                             nullptr);
        }))
      win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Write);
    if (put == 0)
      RaiseIoError(io_error::DiskFull, path_, IoOperation::Write);
    done += put;
  }
}

std::int64_t RawFile::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(win::AsHandle(handle_), &size))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Inspect);
  return size.QuadPart;
}

void RawFile::TruncateTo(std::int64_t size) noexcept {
  LARGE_INTEGER position{};
  position.QuadPart = size;
  if (::SetFilePointerEx(win::AsHandle(handle_), position, nullptr, FILE_BEGIN))
    ::SetEndOfFile(win::AsHandle(handle_));
}

void RawFile::Close() {
  HANDLE handle = win::AsHandle(handle_);
  handle_ = -1;
  if (!::CloseHandle(handle))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Write);
}

} // namespace vornel
