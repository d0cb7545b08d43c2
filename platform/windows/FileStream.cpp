#include "platform/Stream.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"
#include "platform/windows/WinSupport.h"

#include <algorithm>

namespace vornel {

FileStream::FileStream(const std::string& path, Mode mode) : path_(path) {
  writable_ = mode != Mode::OpenRead;
  const DWORD access = writable_ ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const bool creating = mode == Mode::Create || mode == Mode::CreateNew;
  DWORD disposition = OPEN_EXISTING;
  if (mode == Mode::Create)
    disposition = CREATE_ALWAYS;
  else if (mode == Mode::CreateNew)
    disposition = CREATE_NEW;
  win::HandleGuard handle(faults::UnlessFaulted(faults::FaultCall::Open, INVALID_HANDLE_VALUE, [&] {
    return ::CreateFileW(win::WidePath(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }));
  if (handle.Get() == INVALID_HANDLE_VALUE) {
    const auto error = static_cast<int>(::GetLastError());
    if (creating)
      throw EFCreateError(path, error);
    throw EFOpenError(path, error);
  }
  // A pipe or device is no file stream: its reads wait for a writer that may never come.
  if (::GetFileType(handle.Get()) != FILE_TYPE_DISK) {
    if (creating)
      throw EFCreateError(path, NotARegularFile);
    throw EFOpenError(path, NotARegularFile);
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle.Release());
}

FileStream::~FileStream() {
  if (handle_ != -1)
    ::CloseHandle(win::AsHandle(handle_));
}

std::size_t FileStream::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    DWORD got = 0;
    const auto step = static_cast<DWORD>(std::min(count - done, win::MaxTransfer));
    if (!::ReadFile(win::AsHandle(handle_), bytes + done, step, &got, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF)
        break;
      win::RaiseWin32Error(error, path_, IoOperation::Read);
    }
    if (got == 0)
      break;
    done += got;
  }
  return done;
}

void FileStream::Write(const void* buffer, std::size_t count) {
  if (count == 0)
    return;
  if (!writable_)
    RaiseIoError(io_error::AccessDenied, path_, IoOperation::Write);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    DWORD put = 0;
    const auto step = static_cast<DWORD>(std::min(count - done, win::MaxTransfer));
    if (!faults::UnlessFaulted(faults::FaultCall::Write, FALSE, [&] {
          return ::WriteFile(win::AsHandle(handle_), bytes + done, step, &put, nullptr);
        }))
      win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Write);
    if (put == 0)
      RaiseIoError(io_error::DiskFull, path_, IoOperation::Write);
    done += put;
  }
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  DWORD method = FILE_BEGIN;
  if (origin == SeekOrigin::Current)
    method = FILE_CURRENT;
  else if (origin == SeekOrigin::End)
    method = FILE_END;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(win::AsHandle(handle_), distance, &position, method))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Seek);
  return position.QuadPart;
}

std::int64_t FileStream::Size() {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(win::AsHandle(handle_), &size))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Inspect);
  return size.QuadPart;
}

void FileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0)
    RaiseIoError(io_error::NegativeSeek, path_, IoOperation::Resize);
  if (!writable_)
    RaiseIoError(io_error::AccessDenied, path_, IoOperation::Resize);
  if (newSize == Size())
    return;
  // Setting the end allocates the space, so a full disk is reported here; the position is
  // put back where it was.
  const std::int64_t position = Position();
  SetPosition(newSize);
  const bool resized = ::SetEndOfFile(win::AsHandle(handle_)) != 0;
  const DWORD error = resized ? 0 : ::GetLastError();
  SetPosition(position);
  if (!resized)
    win::RaiseWin32Error(error, path_, IoOperation::Resize);
}

void FileStream::Flush() {
  if (!writable_)
    return;
  if (::FlushFileBuffers(win::AsHandle(handle_)) == 0)
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Write);
}

void FileStream::CopyPermissionsFrom(const std::string&) {}

} // namespace vornel
