#include "platform/RawFile.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel {

namespace {

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

int OpenFlags(RawFile::Mode mode) {
  switch (mode) {
  case RawFile::Mode::Read:
    // Without blocking, so that a named pipe without a writer is refused below instead of
    // waiting for ever.
    return O_RDONLY | O_NONBLOCK;
  case RawFile::Mode::Rewrite:
    // Writes never go through a link: one planted there would have them land elsewhere.
    return O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
  case RawFile::Mode::Append:
    break;
  }
  return O_WRONLY | O_APPEND | O_NOFOLLOW;
}

} // namespace

RawFile::RawFile(const std::string& path, Mode mode) : path_(path) {
  int fd;
  do {
    fd = faults::UnlessFaulted(faults::FaultCall::Open, -1, [&] {
      return ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
    });
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Open);
  handle_ = fd;
  if (mode != Mode::Read)
    return;
  // A pipe, socket or device has no fixed content, and its reads may never end.
  struct stat info {};
  int err = 0;
  if (::fstat(fd, &info) != 0)
    err = errno;
  else if (S_ISDIR(info.st_mode))
    err = EISDIR;
  else if (S_ISREG(info.st_mode) && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
    err = errno;
  if (err == 0 && S_ISREG(info.st_mode))
    return;
  ::close(fd);
  handle_ = -1;
  if (err != 0)
    RaiseIoErrorFromErrno(err, path_, IoOperation::Open);
  throw EFOpenError(path, NotARegularFile);
}

RawFile::~RawFile() {
  if (handle_ >= 0)
    ::close(Fd(handle_));
}

std::size_t RawFile::Read(void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t got = ::read(Fd(handle_), buffer, count);
    if (got >= 0)
      return static_cast<std::size_t>(got);
    if (errno != EINTR)
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Read);
  }
}

void RawFile::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t wrote = faults::UnlessFaulted(faults::FaultCall::Write, ssize_t{-1}, [&] {
      return ::write(Fd(handle_), bytes + done, count - done);
    });
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote < 0)
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
    if (wrote == 0)
      RaiseIoError(io_error::DiskFull, path_, IoOperation::Write);
    done += static_cast<std::size_t>(wrote);
  }
}

std::int64_t RawFile::Size() const {
  struct stat info {};
  if (::fstat(Fd(handle_), &info) != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Inspect);
  return static_cast<std::int64_t>(info.st_size);
}

void RawFile::TruncateTo(std::int64_t size) noexcept {
  // The next write goes where the cut was made, not behind a hole.
  if (::ftruncate(Fd(handle_), static_cast<off_t>(size)) == 0)
    (void)::lseek(Fd(handle_), static_cast<off_t>(size), SEEK_SET);
}

void RawFile::Close() {
  const int fd = Fd(handle_);
  handle_ = -1;
  if (::close(fd) != 0 && errno != EINTR)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
}

} // namespace vornel
