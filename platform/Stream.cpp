#include "platform/Stream.h"

#include "platform/Errors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel {

namespace {

// One system call moves at most this much, so that the count always fits ssize_t.
constexpr std::size_t MaxTransfer = 1 << 30;

} // namespace

// ---- Stream ---------------------------------------------------------------------------------

void Stream::ReadBuffer(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const std::size_t got = Read(bytes + done, count - done);
    if (got == 0)
      RaiseIoError(io_error::ReadBeyondEnd, Name(), IoOperation::Read);
    done += got;
  }
}

std::string Stream::ReadString(std::size_t count) {
  // Grows with what actually arrives, so that a corrupt length field cannot make us allocate
  // gigabytes before the short read is noticed.
  std::string bytes;
  bytes.reserve(std::min(count, IoBlockSize));
  while (bytes.size() < count) {
    const std::size_t step = std::min(count - bytes.size(), std::max(bytes.size(), IoBlockSize));
    const std::size_t start = bytes.size();
    bytes.resize(start + step);
    ReadBuffer(bytes.data() + start, step);
  }
  return bytes;
}

std::int64_t Stream::CopyFrom(Stream& source, std::int64_t count) {
  if (count < 0)
    throw std::invalid_argument("negative copy count");
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::string block(static_cast<std::size_t>(std::min<std::int64_t>(count, IoBlockSize)), '\0');
  std::int64_t left = count;
  while (left > 0) {
    const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, IoBlockSize));
    source.ReadBuffer(block.data(), step);
    Write(block.data(), step);
    left -= static_cast<std::int64_t>(step);
  }
  return count;
}

// ---- FileStream -----------------------------------------------------------------------------

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
  // Opened without blocking: opening a named pipe that has no writer would otherwise wait for
  // ever, before the check below could refuse it. Regular files ignore the flag.
  do {
    fd_ = ::open(path.c_str(), flags | O_NONBLOCK, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    const int err = errno;
    if (creating)
      throw EFCreateError(path, err);
    throw EFOpenError(path, err);
  }
  // A directory opens for reading on POSIX, but it is no file stream; nor is a pipe or socket,
  // whose reads wait for a writer that may never come.
  struct stat info {};
  const int statError = ::fstat(fd_, &info) == 0 ? 0 : errno;
  const bool refused =
      statError == 0 && (S_ISDIR(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
  if (statError != 0 || refused ||
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int err = statError != 0 ? statError : errno;
    ::close(fd_);
    fd_ = -1;
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
  if (fd_ >= 0)
    ::close(fd_);
}

std::size_t FileStream::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd_, bytes + done, std::min(count - done, MaxTransfer));
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
    const ssize_t put = ::write(fd_, bytes + done, std::min(count - done, MaxTransfer));
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
  const off_t position = ::lseek(fd_, static_cast<off_t>(offset), whence);
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
  if (::fstat(fd_, &info) != 0)
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
      err = ::posix_fallocate(fd_, static_cast<off_t>(oldSize),
                              static_cast<off_t>(newSize - oldSize));
    } while (err == EINTR);
    if (err == 0)
      return;
    if (err != EOPNOTSUPP && err != EINVAL)
      RaiseIoErrorFromErrno(err, path_, IoOperation::Resize);
  }
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(newSize));
  } while (result != 0 && errno == EINTR);
  if (result != 0)
    RaiseIoErrorFromErrno(errno, path_, IoOperation::Resize);
}

// ---- MemoryStream ---------------------------------------------------------------------------

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
  if (position_ >= data_.size())
    return 0;
  const std::size_t got = std::min(count, data_.size() - position_);
  std::memcpy(buffer, data_.data() + position_, got);
  position_ += got;
  return got;
}

void MemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0)
    return;
  if (count > std::numeric_limits<std::size_t>::max() - position_)
    RaiseIoError(io_error::DiskFull);
  const std::size_t end = position_ + count;
  if (end > data_.size()) {
    if (data_.capacity() < end)
      data_.reserve(std::max(end, data_.capacity() + data_.capacity() / 2));
    data_.resize(end, '\0'); // a gap left by a seek beyond the end reads as zeros
  }
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = end;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current)
    base = static_cast<std::int64_t>(position_);
  else if (origin == SeekOrigin::End)
    base = static_cast<std::int64_t>(data_.size());
  std::int64_t target;
  if (__builtin_add_overflow(base, offset, &target))
    RaiseIoError(io_error::NegativeSeek);
  if (target < 0)
    RaiseIoError(io_error::NegativeSeek);
  position_ = static_cast<std::size_t>(target);
  return target;
}

void MemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0)
    RaiseIoError(io_error::NegativeSeek);
  data_.resize(static_cast<std::size_t>(newSize), '\0');
}

void MemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

} // namespace vornel
