#include "platform/FileSystem.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"
#include "platform/windows/WinSupport.h"

#include <vector>

namespace vornel {

namespace {

DWORD Attributes(const std::string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(win::WidePath(path).c_str());
}

std::string WithoutTrailingSeparators(std::string path) {
  const std::size_t root = PathRootLength(path);
  while (path.size() > root && IsPathSeparator(path.back()))
    path.pop_back();
  return path;
}

// A reader that holds a file open (a client's download, a virus scanner) keeps it from being
// replaced for a moment. Calls attempt, which returns the Win32 error it met (ERROR_SUCCESS for
// none), again every 20 ms for up to two seconds while that error is one such a reader causes;
// returns the last error.
template <typename Attempt> DWORD RetriedWhileHeldOpen(Attempt attempt) {
  for (int tries = 0;; ++tries) {
    const DWORD error = attempt();
    if (tries >= 100 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
      return error;
    ::Sleep(20);
  }
}

// Calls a wide-character function that fills a buffer and returns the length it needs.
template <typename Fill> std::wstring FilledBuffer(Fill fill) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length = fill(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0)
      return {};
    if (length < buffer.size())
      return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

// The path a handle reached, every link on the way resolved, without the "\\?\" prefix the
// system puts in front; empty when the system cannot tell.
std::wstring FinalPath(const std::wstring& path) {
  constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const win::HandleGuard handle(::CreateFileW(path.c_str(), 0, shareAll, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle.Get() == INVALID_HANDLE_VALUE)
    return {};
  std::wstring resolved = FilledBuffer([&handle](DWORD size, wchar_t* data) {
    return ::GetFinalPathNameByHandleW(handle.Get(), data, size,
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0)
    return L"\\\\" + resolved.substr(8);
  if (resolved.rfind(L"\\\\?\\", 0) == 0)
    return resolved.substr(4);
  return resolved;
}

} // namespace

std::string CurrentDirectory() {
  const std::wstring current =
      FilledBuffer([](DWORD size, wchar_t* data) { return ::GetCurrentDirectoryW(size, data); });
  if (current.empty())
    win::RaiseWin32Error(::GetLastError());
  return WithoutTrailingSeparators(win::ProgramPath(current));
}

bool CreateDir(const std::string& path) {
  return !path.empty() && faults::UnlessFaulted(faults::FaultCall::CreateFolder, FALSE, [&] {
                            return ::CreateDirectoryW(win::WidePath(path).c_str(), nullptr);
                          }) != 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty() || faults::InjectedFault(faults::FaultCall::CreateFolder) != 0)
    return false;
  const std::string clean = WithoutTrailingSeparators(path);
  // Make each ancestor in turn; failures on the way are judged by the final check.
  for (std::size_t i = PathRootLength(clean) + 1; i < clean.size(); ++i) {
    if (IsPathSeparator(clean[i]) && !IsPathSeparator(clean[i - 1]))
      CreateDir(clean.substr(0, i));
  }
  CreateDir(clean);
  return DirectoryExists(clean);
}

bool DeleteFileAt(const std::string& path) {
  return !path.empty() && ::DeleteFileW(win::WidePath(path).c_str()) != 0;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MayReadFile(const std::string& path) {
  HANDLE file = ::CreateFileW(win::WidePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  ::CloseHandle(file);
  return true;
}

bool CanListFolder(const std::string& path) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(win::WidePath(JoinPath(path, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return ::GetLastError() == ERROR_FILE_NOT_FOUND; // a drive root may hold no entry at all
  ::FindClose(search);
  return true;
}

void RenameFile(const std::string& from, const std::string& to) {
  // A folder moves only to a free name: the replacing flag is for files alone.
  const DWORD attributes = Attributes(from);
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const DWORD error = RetriedWhileHeldOpen([&]() -> DWORD {
    if (faults::UnlessFaulted(faults::FaultCall::Rename, FALSE, [&] {
          return ::MoveFileExW(win::WidePath(from).c_str(), win::WidePath(to).c_str(),
                               folder ? 0 : MOVEFILE_REPLACE_EXISTING);
        }))
      return ERROR_SUCCESS;
    return ::GetLastError();
  });
  if (error != ERROR_SUCCESS)
    win::RaiseWin32Error(error, to, IoOperation::Rename);
}

void WaitUntilReplaceable(const std::string& path) {
  const DWORD error = RetriedWhileHeldOpen([&]() -> DWORD {
    // Opening for deletion is refused exactly while a reader holds the file without delete
    // sharing, the case in which a rename over it is refused too.
    const HANDLE file = ::CreateFileW(win::WidePath(path).c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return ::GetLastError();
    ::CloseHandle(file);
    return ERROR_SUCCESS;
  });
  // A missing file is replaceable: the rename creates it.
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
    win::RaiseWin32Error(error, path, IoOperation::Rename);
}

bool RemoveEmptyDirectory(const std::string& path) {
  return !path.empty() && ::RemoveDirectoryW(win::WidePath(path).c_str()) != 0;
}

bool ChangeDirectory(const std::string& path) {
  return !path.empty() && ::SetCurrentDirectoryW(win::WidePath(path).c_str()) != 0;
}

std::string ResolvedPath(const std::string& path) {
  if (path.empty() || Attributes(path) == INVALID_FILE_ATTRIBUTES)
    return {};
  const std::wstring wide = win::WidePath(path);
  // A link or junction leads elsewhere: where it leads is what the own-output guard and the
  // walk's checks must compare.
  if (const std::wstring resolved = FinalPath(wide); !resolved.empty())
    return WithoutTrailingSeparators(win::ProgramPath(resolved));
  const std::wstring full = FilledBuffer([&wide](DWORD size, wchar_t* data) {
    return ::GetFullPathNameW(wide.c_str(), size, data, nullptr);
  });
  if (full.empty())
    return {};
  // The long form, in the letter case the file system keeps, so that two spellings of one folder
  // compare equal.
  const std::wstring longForm = FilledBuffer(
      [&full](DWORD size, wchar_t* data) { return ::GetLongPathNameW(full.c_str(), data, size); });
  return WithoutTrailingSeparators(win::ProgramPath(longForm.empty() ? full : longForm));
}

std::string TempDirectory() {
  const std::wstring temp =
      FilledBuffer([](DWORD size, wchar_t* data) { return ::GetTempPathW(size, data); });
  return WithoutTrailingSeparators(win::ProgramPath(temp.empty() ? L"." : temp));
}

bool IsPathSeparator(char c) {
  return c == '/' || c == '\\';
}

std::size_t PathRootLength(const std::string& path) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 2 && letter(path[0]) && path[1] == ':')
    return path.size() >= 3 && IsPathSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    // "//server/share/": the root runs to the separator after the share's name.
    std::size_t end = 2;
    for (int part = 0; part < 2 && end < path.size(); ++part) {
      while (end < path.size() && !IsPathSeparator(path[end]))
        ++end;
      if (end < path.size())
        ++end;
    }
    return end;
  }
  return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

namespace {

// The volume and file index of an existing file; false when it cannot be opened.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  // No access asked for: the identity is readable even while another program holds the file.
  const win::HandleGuard file(::CreateFileW(
      win::WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.Get() != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file.Get(), &info) != 0;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool SamePath(const std::string& a, const std::string& b) {
  std::wstring wa = win::WidePath(a);
  std::wstring wb = win::WidePath(b);
  return ::CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

} // namespace vornel
