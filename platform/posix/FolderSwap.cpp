#include "platform/FolderSwap.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace vornel {

namespace {

// Closes a descriptor on every path.
class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

private:
  int fd_;
};

// Removes every entry of the open folder dirFd, then nothing else; path names it in errors.
void RemoveContents(int dirFd, const std::string& path) {
  const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::List);
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    const int err = errno;
    ::close(listFd);
    RaiseIoErrorFromErrno(err, path, IoOperation::List);
  }
  struct DirCloser {
    DIR* dir;
    ~DirCloser() { ::closedir(dir); }
  } closer{dir};
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0)
        RaiseIoErrorFromErrno(errno, path, IoOperation::List);
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    const std::string child = path + "/" + name;
    if (::unlinkat(dirFd, name.c_str(), 0) == 0)
      continue;
    if (errno != EISDIR && errno != EPERM)
      RaiseIoErrorFromErrno(errno, child, IoOperation::Unknown);
    // A folder: opened without following a link, emptied, then removed.
    const Descriptor sub(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub.Get() < 0)
      RaiseIoErrorFromErrno(errno, child, IoOperation::Open);
    RemoveContents(sub.Get(), child);
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0)
      RaiseIoErrorFromErrno(errno, child, IoOperation::Unknown);
  }
}

class FlockLock final : public FolderLock {
public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override { ::close(fd_); } // closing releases the lock

private:
  int fd_;
};

} // namespace

bool ExchangeFolders(const std::string& a, const std::string& b) {
#ifdef SYS_renameat2
  if (faults::UnlessFaulted(faults::FaultCall::Rename, -1L, [&] {
        return ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
      }) == 0)
    return true;
  const int err = errno;
  if (err == EINVAL || err == ENOSYS || err == EXDEV || err == ENOTSUP || err == EOPNOTSUPP ||
      err == EBUSY)
    return false;
  RaiseIoErrorFromErrno(err, a, IoOperation::Rename);
#else
  (void)a;
  (void)b;
  return false;
#endif
}

bool SystemCanExchangeFolders() {
#ifdef SYS_renameat2
  return true;
#else
  return false;
#endif
}

LinkResult LinkEntry(const std::string& existing, const std::string& linkPath) {
  // No AT_SYMLINK_FOLLOW: a symbolic link gets a second name of its own.
  if (::linkat(AT_FDCWD, existing.c_str(), AT_FDCWD, linkPath.c_str(), 0) == 0)
    return LinkResult::Linked;
  const int err = errno;
  if (err == EEXIST)
    return LinkResult::Exists;
  if (err == EPERM || err == EXDEV || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK ||
      err == ENOSYS)
    return LinkResult::Refused;
  RaiseIoErrorFromErrno(err, linkPath, IoOperation::Create);
}

void RemoveTree(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT)
    return;
  const Descriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.Get() < 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Open);
  RemoveContents(dir.Get(), path);
  if (::rmdir(path.c_str()) != 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Unknown);
}

void MakeFolder(const std::string& path) {
  if (faults::UnlessFaulted(faults::FaultCall::CreateFolder, -1,
                            [&] { return ::mkdir(path.c_str(), 0777); }) == 0)
    return;
  const int err = errno;
  struct stat info {};
  if (err == EEXIST && ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    return;
  RaiseFolderError(IoErrorCodeFromErrno(err), path, err);
}

bool IsMountPoint(const std::string& path) {
  struct stat self {};
  struct stat parent {};
  if (::lstat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode))
    return false;
  if (::stat((path + "/..").c_str(), &parent) != 0)
    return false;
  return self.st_dev != parent.st_dev;
}

void CopyFolderPermissions(const std::string& from, const std::string& to) {
  struct stat info {};
  if (::stat(from.c_str(), &info) != 0)
    return;
  if (::chmod(to.c_str(), info.st_mode & 07777) != 0)
    RaiseIoErrorFromErrno(errno, to, IoOperation::Unknown);
  // Only a privileged build can give a folder to another owner; the mode is what counts.
  if (::lchown(to.c_str(), info.st_uid, info.st_gid) != 0 && errno != EPERM)
    RaiseIoErrorFromErrno(errno, to, IoOperation::Unknown);
}

void FlushFileSystemOf(const std::string& folder) {
  const Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0)
    RaiseIoErrorFromErrno(errno, folder, IoOperation::Open);
  if (::syncfs(dir.Get()) != 0)
    RaiseIoErrorFromErrno(errno, folder, IoOperation::Write);
}

std::unique_ptr<FolderLock> TryLockUploadFolder(const std::string& parent, const std::string&) {
  const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    RaiseIoErrorFromErrno(errno, parent, IoOperation::Open);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
      return nullptr;
    RaiseIoErrorFromErrno(err, parent, IoOperation::Open);
  }
  return std::make_unique<FlockLock>(fd);
}

} // namespace vornel
