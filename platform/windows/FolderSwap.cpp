#include "platform/FolderSwap.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"
#include "platform/windows/WinSupport.h"

namespace vornel {

namespace {

// Removes a file, read-only ones included.
void RemoveFile(const std::wstring& path, const std::string& name) {
  if (::DeleteFileW(path.c_str()) != 0)
    return;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0 &&
      ::DeleteFileW(path.c_str()) != 0)
    return;
  win::RaiseWin32Error(::GetLastError(), name);
}

void RemoveFolder(const std::wstring& path, const std::string& name) {
  WIN32_FIND_DATAW found{};
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    struct FindCloser {
      HANDLE find;
      ~FindCloser() { ::FindClose(find); }
    } closer{find};
    do {
      const std::wstring child = found.cFileName;
      if (child == L"." || child == L"..")
        continue;
      const std::wstring childPath = path + L"\\" + child;
      const std::string childName = name + "/" + win::Narrow(child);
      const DWORD attributes = found.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        RemoveFile(childPath, childName);
      else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A linked folder: the link goes, what it names stays.
        if (::RemoveDirectoryW(childPath.c_str()) == 0)
          win::RaiseWin32Error(::GetLastError(), childName);
      } else
        RemoveFolder(childPath, childName);
    } while (::FindNextFileW(find, &found) != 0);
  }
  if (::RemoveDirectoryW(path.c_str()) == 0)
    win::RaiseWin32Error(::GetLastError(), name);
}

class HandleLock final : public FolderLock {
public:
  explicit HandleLock(HANDLE handle) : handle_(handle) {}

private:
  win::HandleGuard handle_;
};

} // namespace

bool ExchangeFolders(const std::string&, const std::string&) {
  return false; // Windows has no call that swaps two names at once
}

bool SystemCanExchangeFolders() {
  return false;
}

LinkResult LinkEntry(const std::string&, const std::string&) {
  return LinkResult::Refused; // publishing on Windows goes by renames and needs no links
}

void RemoveTree(const std::string& path) {
  const std::wstring wide = win::WidePath(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    RemoveFile(wide, path);
  else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (::RemoveDirectoryW(wide.c_str()) == 0)
      win::RaiseWin32Error(::GetLastError(), path);
  } else
    RemoveFolder(wide, path);
}

void MakeFolder(const std::string& path) {
  const std::wstring wide = win::WidePath(path);
  if (faults::UnlessFaulted(faults::FaultCall::CreateFolder, FALSE,
                            [&] { return ::CreateDirectoryW(wide.c_str(), nullptr); }) != 0)
    return;
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return;
  RaiseFolderError(win::IoErrorCodeFromWin32(error), path, static_cast<int>(error));
}

bool IsMountPoint(const std::string&) {
  return false;
}

void CopyFolderPermissions(const std::string&, const std::string&) {
  // Folders made by the build inherit their parent's access rules on Windows.
}

void FlushFileSystemOf(const std::string&) {
  // Publishing on Windows renames archives one by one; each is whole when renamed.
}

std::unique_ptr<FolderLock> TryLockUploadFolder(const std::string& parent,
                                                const std::string& name) {
  // A file nobody else may open, gone when the handle closes, however the process ends.
  const std::wstring path = win::WidePath(parent + "/" + name + ".lock");
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
      return nullptr;
    win::RaiseWin32Error(error, parent + "/" + name + ".lock");
  }
  return std::make_unique<HandleLock>(handle);
}

} // namespace vornel
