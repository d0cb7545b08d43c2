#include "platform/NoFollow.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"
#include "platform/FileSystem.h"
#include "platform/windows/WinSupport.h"

#include <algorithm>
#include <stdexcept>

namespace vornel {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Size, last-write and change times of the open file, asked of its handle.
SourceFile::ChangeStamp StampOf(HANDLE file, const std::string& path) {
  FILE_BASIC_INFO basic{};
  LARGE_INTEGER size{};
  if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !::GetFileSizeEx(file, &size))
    win::RaiseWin32Error(::GetLastError(), path, IoOperation::Inspect);
  return {size.QuadPart, basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
}

bool IsGone(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME;
}

// Kernel handles carry 32 significant bits, so they fit the int the shared header keeps.
HANDLE AsHandle(int handle) {
  return LongToHandle(handle);
}

} // namespace

PathKind KindOfPath(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win::WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return PathKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return PathKind::Folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
    return PathKind::Other;
  return PathKind::File;
}

std::unique_ptr<SourceFile> SourceFile::Open(const std::string& path, Refusal& why) {
  why = Refusal::None;
  if (const int code = faults::InjectedFault(faults::FaultCall::Open))
    win::RaiseWin32Error(static_cast<DWORD>(code), path, IoOperation::Open);
  // Every folder on the way must be a real folder: a reparse point (link or junction) swapped
  // in after the tree was checked would lead elsewhere.
  const std::size_t root = PathRootLength(path);
  for (std::size_t at = path.find_first_of("/\\", root); at != std::string::npos;
       at = path.find_first_of("/\\", at + 1)) {
    if (at <= root)
      continue;
    const PathKind kind = KindOfPath(path.substr(0, at));
    if (kind != PathKind::Folder) {
      why = kind == PathKind::Missing ? Refusal::Missing
            : kind == PathKind::Link  ? Refusal::Link
                                      : Refusal::NotFile;
      return nullptr;
    }
  }
  win::HandleGuard file(
      ::CreateFileW(win::WidePath(path).c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (IsGone(error)) {
      why = Refusal::Missing;
      return nullptr;
    }
    win::RaiseWin32Error(error, path, IoOperation::Open);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info))
    win::RaiseWin32Error(::GetLastError(), path, IoOperation::Inspect);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    why = Refusal::Link;
    return nullptr;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = Refusal::Missing; // there is no file of that name any more
    return nullptr;
  }
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    why = Refusal::NotFile;
    return nullptr;
  }
  const std::size_t slash = path.find_last_of("/\\");
  FoundFile found = win::DescribeEntry(slash == std::string::npos ? path : path.substr(slash + 1),
                                       info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow,
                                       info.ftLastWriteTime);
  const ChangeStamp opened = StampOf(file.Get(), path);
  return std::unique_ptr<SourceFile>(
      new SourceFile(HandleToLong(file.Release()), path, std::move(found), opened));
}

SourceFile::SourceFile(int handle, std::string path, FoundFile info, ChangeStamp opened)
    : handle_(handle), path_(std::move(path)), info_(std::move(info)), opened_(opened) {}

SourceFile::ChangeStamp SourceFile::StampNow() const {
  return StampOf(LongToHandle(handle_), path_);
}

bool SourceFile::ChangedSinceOpened() const {
  return !(StampNow() == opened_);
}

SourceFile::~SourceFile() {
  ::CloseHandle(AsHandle(handle_));
}

std::size_t SourceFile::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), bytes + done, chunk, &got, nullptr))
      win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Read);
    if (got == 0)
      break;
    done += got;
  }
  return done;
}

void SourceFile::Write(const void*, std::size_t) {
  RaiseIoError(io_error::AccessDenied, path_, IoOperation::Write);
}

std::int64_t SourceFile::Seek(std::int64_t offset, SeekOrigin origin) {
  const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                       : origin == SeekOrigin::Current ? FILE_CURRENT
                                                       : FILE_END;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER at{};
  if (!::SetFilePointerEx(AsHandle(handle_), distance, &at, method))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Seek);
  return at.QuadPart;
}

std::int64_t SourceFile::Size() {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(handle_), &size))
    win::RaiseWin32Error(::GetLastError(), path_, IoOperation::Inspect);
  return size.QuadPart;
}

void SourceFile::SetSize(std::int64_t) {
  RaiseIoError(io_error::AccessDenied, path_, IoOperation::Resize);
}

} // namespace vornel
