#include "platform/NoFollow.h"

#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif
#include <utility>
#include <vector>

namespace vornel {

namespace {

#ifdef O_PATH
// A folder passed through needs only search permission, as in a plain path lookup.
constexpr int PassFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int PassFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

class Handle {
public:
  explicit Handle(int fd = -1) : fd_(fd) {}
  ~Handle() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

private:
  int fd_;
};

int OpenAt(int dir, const std::string& name, int flags) {
  int fd = -1;
  do {
    fd = ::openat(dir, name.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Without blocking: a pipe swapped in would otherwise wait for a writer.
constexpr int FileFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// The whole path in one call, refused by the kernel if any component is a link; -1 on any
// failure, which the walk component by component then looks at. Kernels before 5.6 and
// sandboxes that forbid the call only cost the longer walk.
int OpenWithoutLinks(const std::string& path) {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
  static std::atomic<bool> missing{false};
  if (missing.load(std::memory_order_relaxed))
    return -1;
  open_how how{};
  how.flags = FileFlags;
  how.resolve = RESOLVE_NO_SYMLINKS;
  long fd = -1;
  do {
    fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOSYS)
    missing.store(true, std::memory_order_relaxed);
  return static_cast<int>(fd);
#else
  (void)path;
  return -1;
#endif
}

// Why name in dir could not be opened as asked; other failures raise.
SourceFile::Refusal Classify(int dir, const std::string& name, int err, const std::string& path) {
  struct stat info {};
  if (err == ENOENT)
    return SourceFile::Refusal::Missing;
  if (err != ELOOP && err != ENOTDIR && err != EMLINK)
    RaiseIoErrorFromErrno(err, path, IoOperation::Open);
  if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
    return SourceFile::Refusal::Link;
  return SourceFile::Refusal::NotFile;
}

SourceFile::ChangeStamp StampOf(const struct stat& info) {
  constexpr std::int64_t nano = 1000000000;
  return {static_cast<std::int64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * nano + info.st_mtim.tv_nsec,
          static_cast<std::int64_t>(info.st_ctim.tv_sec) * nano + info.st_ctim.tv_nsec};
}

FoundFile DescribeOpen(const std::string& name, const struct stat& info) {
  FoundFile found;
  found.Name = name;
  found.Kind = EntryKind::File;
  found.Attributes = attr::Archive;
  found.Size = static_cast<std::uint64_t>(info.st_size);
  if ((info.st_mode & S_IWUSR) == 0)
    found.Attributes |= attr::ReadOnly;
  if (!name.empty() && name[0] == '.')
    found.Attributes |= attr::Hidden;
  found.LastWriteTime = UnixTimeToLocalDateTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
  found.DosTime = DateTimeToDosDateTime(found.LastWriteTime);
  return found;
}

} // namespace

PathKind KindOfPath(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0)
    return PathKind::Missing;
  if (S_ISLNK(info.st_mode))
    return PathKind::Link;
  if (S_ISDIR(info.st_mode))
    return PathKind::Folder;
  return S_ISREG(info.st_mode) ? PathKind::File : PathKind::Other;
}

std::unique_ptr<SourceFile> SourceFile::Open(const std::string& path, Refusal& why) {
  why = Refusal::None;
  if (path.empty() || path.front() != '/')
    throw std::invalid_argument("a source is opened by its absolute path: \"" + path + "\"");
  if (path.find_first_not_of('/') == std::string::npos)
    throw std::invalid_argument("a source is a file, not the root folder");
  if (const int code = faults::InjectedFault(faults::FaultCall::Open))
    RaiseIoErrorFromErrno(code, path, IoOperation::Open);
  Handle file(OpenWithoutLinks(path));
  std::string name = path.substr(path.rfind('/') + 1);
  if (file.Get() < 0) {
    // Walked component by component, which tells a link from a missing or foreign part.
    std::vector<std::string> names;
    for (std::size_t at = 1; at <= path.size();) {
      const std::size_t slash = std::min(path.find('/', at), path.size());
      if (slash > at)
        names.push_back(path.substr(at, slash - at));
      at = slash + 1;
    }
    Handle folder(OpenAt(AT_FDCWD, "/", PassFlags));
    if (folder.Get() < 0)
      RaiseIoErrorFromErrno(errno, path, IoOperation::Open);
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
      const int next = OpenAt(folder.Get(), names[i], PassFlags);
      if (next < 0) {
        why = Classify(folder.Get(), names[i], errno, path);
        return nullptr;
      }
      folder.Reset(next);
    }
    name = names.back();
    file.Reset(OpenAt(folder.Get(), name, FileFlags));
    if (file.Get() < 0) {
      why = Classify(folder.Get(), name, errno, path);
      return nullptr;
    }
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Inspect);
  if (!S_ISREG(info.st_mode)) {
    // A folder opens for reading too, but there is no file of that name any more.
    why = S_ISDIR(info.st_mode) ? Refusal::Missing : Refusal::NotFile;
    return nullptr;
  }
  return std::unique_ptr<SourceFile>(
      new SourceFile(file.Release(), path, DescribeOpen(name, info), StampOf(info)));
}

SourceFile::SourceFile(int handle, std::string path, FoundFile info, ChangeStamp opened)
    : handle_(handle), path_(std::move(path)), info_(std::move(info)), opened_(opened) {}

SourceFile::ChangeStamp SourceFile::StampNow() const {
  struct stat info {};
  if (::fstat(handle_, &info) != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Inspect);
  return StampOf(info);
}

bool SourceFile::ChangedSinceOpened() const {
  return !(StampNow() == opened_);
}

SourceFile::~SourceFile() {
  ::close(handle_);
}

std::size_t SourceFile::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(handle_, bytes + done, std::min<std::size_t>(count - done, 1 << 30));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Read);
    if (got == 0)
      break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void SourceFile::Write(const void*, std::size_t) {
  RaiseIoError(io_error::AccessDenied, path_, IoOperation::Write);
}

std::int64_t SourceFile::Seek(std::int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  const off_t at = ::lseek(handle_, static_cast<off_t>(offset), whence);
  if (at < 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Seek);
  return at;
}

std::int64_t SourceFile::Size() {
  struct stat info {};
  if (::fstat(handle_, &info) != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Inspect);
  return info.st_size;
}

void SourceFile::SetSize(std::int64_t) {
  RaiseIoError(io_error::AccessDenied, path_, IoOperation::Resize);
}

} // namespace vornel
