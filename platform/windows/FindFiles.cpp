#include "platform/FindFiles.h"

#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/windows/WinSupport.h"

#include <algorithm>

namespace vornel {

namespace {

FoundFile Describe(const WIN32_FIND_DATAW& data) {
  return win::DescribeEntry(win::Narrow(data.cFileName), data.dwFileAttributes, data.nFileSizeHigh,
                            data.nFileSizeLow, data.ftLastWriteTime);
}

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// The root of a drive or share has no entry of its own for the find lookup to return.
std::optional<FoundFile> DescribeRoot(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win::WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return std::nullopt;
  FoundFile found;
  found.Name = path;
  found.Attributes = (attributes & attr::AnyFile) | attr::Directory;
  return found;
}

// The find lookup describes a link itself and shows a pipe or device as an empty file; the walk
// needs what a link leads to (its target's attributes, size and time, or that it dangles or
// loops) and must tell a device from a file. Only links and empty files are opened to learn it.
void DescribeTarget(const std::string& path, FoundFile& found) {
  if (!found.Link && (found.Kind != EntryKind::File || found.Size != 0))
    return;
  constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const win::HandleGuard target(::CreateFileW(win::WidePath(path).c_str(), 0, shareAll, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (target.Get() == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (!found.Link)
      return; // what cannot be opened is reported when the file is read
    if (error == ERROR_CANT_RESOLVE_FILENAME)
      found.Kind = EntryKind::LinkLoop;
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      found.Kind = EntryKind::DanglingLink;
    else
      return;
    // Nothing to walk into: reported as an empty file, as the other systems do.
    found.Attributes = (found.Attributes & attr::Hidden) | attr::Archive;
    found.Size = 0;
    return;
  }
  if (::GetFileType(target.Get()) != FILE_TYPE_DISK) {
    found.Kind = EntryKind::Other;
    found.Attributes &= ~attr::Directory;
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (found.Link && ::GetFileInformationByHandle(target.Get(), &info)) {
    FoundFile described = win::DescribeEntry(found.Name, info.dwFileAttributes, info.nFileSizeHigh,
                                             info.nFileSizeLow, info.ftLastWriteTime);
    described.Link = true;
    found = std::move(described);
  }
}

} // namespace

// The entry as the find lookup reports it; the DOS time comes from the last-write time turned
// into local time with the offset in force now, as the system's own conversion does.
FoundFile win::DescribeEntry(std::string name, DWORD attributes, DWORD sizeHigh, DWORD sizeLow,
                             const FILETIME& lastWrite) {
  FoundFile found;
  found.Name = std::move(name);
  found.Attributes = attributes & attr::AnyFile;
  if ((found.Attributes & attr::Directory) == 0)
    found.Size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  else
    found.Kind = EntryKind::Folder;
  FILETIME local{};
  SYSTEMTIME fields{};
  if (::FileTimeToLocalFileTime(&lastWrite, &local) && ::FileTimeToSystemTime(&local, &fields)) {
    found.LastWriteTime = EncodeDateTime(fields.wYear, fields.wMonth, fields.wDay, fields.wHour,
                                         fields.wMinute, fields.wSecond, fields.wMilliseconds);
    WORD date = 0;
    WORD time = 0;
    if (fields.wYear >= 1980 && fields.wYear <= 2107 &&
        ::FileTimeToDosDateTime(&local, &date, &time))
      found.DosTime = static_cast<std::uint32_t>(date) << 16 | time;
  }
  return found;
}

std::optional<FoundFile> FindFile(const std::string& path) {
  std::string clean = path;
  while (clean.size() > PathRootLength(clean) && IsPathSeparator(clean.back()))
    clean.pop_back();
  // Wildcards would turn the lookup into a search; no name holds them.
  if (clean.empty() || clean.find_first_of("*?") != std::string::npos)
    return std::nullopt;
  if (clean.size() == PathRootLength(clean))
    return DescribeRoot(clean);
  WIN32_FIND_DATAW data{};
  HANDLE search = ::FindFirstFileW(win::WidePath(clean).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE)
    return std::nullopt;
  ::FindClose(search);
  FoundFile found = Describe(data);
  found.Link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  DescribeTarget(clean, found);
  return found;
}

namespace {

// Ends a search of FindFirstFileW on every path out.
struct SearchCloser {
  HANDLE search;
  ~SearchCloser() { ::FindClose(search); }
};

} // namespace

std::vector<std::string> ListNamesLike(const std::string& dir, const std::string& prefix,
                                       const std::string& suffix) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data{};
  // The system's pattern narrows the listing (without regard to case); the bytes decide.
  HANDLE search = ::FindFirstFileW(
      win::WidePath(JoinPath(dir.empty() ? "." : dir, prefix + "*" + suffix)).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE)
    return names;
  const SearchCloser closer{search};
  do {
    const std::string name = win::Narrow(data.cFileName);
    if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) &&
        name.ends_with(suffix))
      names.push_back(name);
  } while (::FindNextFileW(search, &data));
  return names;
}

std::vector<FoundFile> ListDirectory(const std::string& dir, LinkedFolders linkedFolders) {
  std::vector<FoundFile> entries;
  WIN32_FIND_DATAW data{};
  HANDLE search =
      ::FindFirstFileW(win::WidePath(JoinPath(dir.empty() ? "." : dir, "*")).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE)
    return entries;
  const SearchCloser closer{search};
  for (;;) {
    // A link to a folder could walk in circles or out of the tree.
    const bool linkedFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!IsDotEntry(data.cFileName) && (!linkedFolder || linkedFolders == LinkedFolders::List)) {
      entries.push_back(Describe(data));
      entries.back().Link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      DescribeTarget(JoinPath(dir.empty() ? "." : dir, entries.back().Name), entries.back());
    }
    if (!::FindNextFileW(search, &data)) {
      // A listing cut short by a read error would silently drop files from a build.
      const DWORD error = ::GetLastError();
      if (error != ERROR_NO_MORE_FILES)
        win::RaiseWin32Error(error);
      break;
    }
  }
  std::sort(entries.begin(), entries.end(), [](const FoundFile& a, const FoundFile& b) {
    return EnumerationOrderLess(a.Name, b.Name);
  });
  return entries;
}

} // namespace vornel
