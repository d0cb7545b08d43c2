#include "platform/Stream.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel {

namespace {

// One system call moves at most this much, so that the count always fits ssize_t.
constexpr std::size_t MaxTransfer = 1 << 30;

} // namespace

int FileStream::Fd() const {
  return static_cast<int>(handle_);
}

FileStream::FileStream(const std::string& path, Mode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
  case Mode::OpenRead:
    flags |= O_RDONLY;
    break;
  case Mode::OpenReadWrite:
    flags |= O_RDWR;
    break;
  case Mode::Create:
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    break;
  case Mode::CreateNew:
    flags |= O_RDWR | O_CREAT | O_EXCL;
    break;
  }
  const bool creating = mode == Mode::Create || mode == Mode::CreateNew;
  writable_ = mode != Mode::OpenRead;
  // Exclusive creation makes a new regular file or fails, so only the other modes can meet a
  // pipe, socket or folder. Those are opened without blocking: opening a named pipe that has no
  // writer would otherwise wait for ever, before the check below could refuse it.
  const bool fresh = mode == Mode::CreateNew;
  do {
    handle_ = faults::UnlessFaulted(faults::FaultCall::Open, -1, [&] {
      return ::open(path.c_str(), fresh ? flags : flags | O_NONBLOCK, 0666);
    });
  } while (Fd() < 0 && errno == EINTR);
  if (Fd() < 0) {
    const int err = errno;
    if (creating)
      throw EFCreateError(path, err);
    throw EFOpenError(path, err);
  }
  if (fresh)
    return;
  // A directory opens for reading on POSIX, but it is no file stream; nor is a pipe or socket,
  // whose reads wait for a writer that may never come.
  struct stat info {};
  const int statError = ::fstat(Fd(), &info) == 0 ? 0 : errno;
  const bool refused =
      statError == 0 && (S_ISDIR(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
  if (statError != 0 || refused ||
      ::fcntl(Fd(), F_SETFL, ::fcntl(Fd(), F_GETFL) & ~O_NONBLOCK) != 0) {
    const int err = statError != 0 ? statError : errno;
    ::close(Fd());
    handle_ = -1;
    if (!refused)
      throw EFOpenError(path, err);
    if (S_ISDIR(info.st_mode))
      throw EFOpenError(path, EISDIR);
    if (creating)
      throw EFCreateError(path, NotARegularFile);
    throw EFOpenError(path, NotARegularFile);
  }
}

FileStream::~FileStream() {
  if (Fd() >= 0)
    ::close(Fd());
}

std::size_t FileStream::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(Fd(), bytes + done, std::min(count - done, MaxTransfer));
    if (got < 0) {
      if (errno == EINTR)
        continue;
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Read);
    }
    if (got == 0)
      break;
    done += static_cast<std::size_t>(got);
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
    const ssize_t put = faults::UnlessFaulted(faults::FaultCall::Write, ssize_t{-1}, [&] {
      return ::write(Fd(), bytes + done, std::min(count - done, MaxTransfer));
    });
    if (put < 0) {
      if (errno == EINTR)
        continue;
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
    }
    if (put == 0)
      RaiseIoError(io_error::DiskFull, path_, IoOperation::Write);
    done += static_cast<std::size_t>(put);
  }
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == SeekOrigin::Current)
    whence = SEEK_CUR;
  else if (origin == SeekOrigin::End)
    whence = SEEK_END;
  const off_t position = ::lseek(Fd(), static_cast<off_t>(offset), whence);
  if (position < 0) {
    // The only way to get EINVAL with a valid origin is a target before the start.
    if (errno == EINVAL)
      RaiseIoError(io_error::NegativeSeek, path_, IoOperation::Seek);
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Seek);
  }
  return static_cast<std::int64_t>(position);
}

std::int64_t FileStream::Size() {
  struct stat info {};
  if (::fstat(Fd(), &info) != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Inspect);
  return static_cast<std::int64_t>(info.st_size);
}

void FileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0)
    RaiseIoError(io_error::NegativeSeek, path_, IoOperation::Resize);
  if (!writable_)
    RaiseIoError(io_error::AccessDenied, path_, IoOperation::Resize);
  const std::int64_t oldSize = Size();
  if (newSize == oldSize)
    return;
  if (newSize > oldSize) {
    // Reserve the blocks now so that a full disk is reported by the resize, not by a later
    // write whose result nobody checks.
    int err;
    do {
      err = ::posix_fallocate(Fd(), static_cast<off_t>(oldSize),
                              static_cast<off_t>(newSize - oldSize));
    } while (err == EINTR);
    if (err == 0)
      return;
    if (err != EOPNOTSUPP && err != EINVAL)
      RaiseIoErrorFromErrno(err, path_, IoOperation::Resize);
  }
  int result;
  do {
    result = ::ftruncate(Fd(), static_cast<off_t>(newSize));
  } while (result != 0 && errno == EINTR);
  if (result != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Resize);
}

void FileStream::Flush() {
  if (!writable_)
    return;
  int result;
  do {
    result = ::fsync(Fd());
  } while (result != 0 && errno == EINTR);
  // Files on systems that cannot sync (pipes are refused earlier) have nothing to make durable.
  if (result != 0 && errno != EINVAL && errno != EROFS)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
}

void FileStream::CopyPermissionsFrom(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Inspect);
  if (::fchmod(Fd(), info.st_mode & 07777) != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
}

} // namespace vornel
