#include "crc/Crc32.h"

#include "crc/Crc32Fast.h"

#include "platform/Errors.h"
#include "platform/Stream.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel {

namespace {

Crc32TableType BuildTable() {
  Crc32TableType table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int round = 0; round < 8; ++round)
      value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    table[i] = value;
  }
  return table;
}

// Closes the descriptor on every path out of FileCrc32.
struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0)
      ::close(fd);
  }
};

} // namespace

const Crc32TableType& Crc32Table() {
  static const Crc32TableType table = BuildTable();
  return table;
}

std::uint32_t Crc32Update(std::uint32_t reg, const void* buffer, std::size_t length) {
  if (buffer == nullptr || length == 0)
    return reg;
  // Same register as the byte-by-byte table method, computed by the fastest method available.
  return Crc32UpdateFast(reg, static_cast<const unsigned char*>(buffer), length);
}

std::uint32_t FileCrc32(const std::string& path) {
  // Opened read-only, so read-only files are checksummed too, and without blocking, so that a
  // named pipe without a writer is refused below instead of waiting for ever.
  FdGuard file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Open);
  // A pipe, socket or device has no fixed content to checksum, and its reads may never end.
  struct stat info {};
  if (::fstat(file.fd, &info) != 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Inspect);
  if (S_ISDIR(info.st_mode))
    RaiseIoErrorFromErrno(EISDIR, path, IoOperation::Open);
  if (!S_ISREG(info.st_mode))
    throw EFOpenError(path, NotARegularFile);
  if (::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK) != 0)
    RaiseIoErrorFromErrno(errno, path, IoOperation::Open);
  auto buffer = std::make_unique<unsigned char[]>(IoBlockSize);
  std::uint32_t reg = 0xFFFFFFFFu;
  for (;;) {
    ssize_t got = ::read(file.fd, buffer.get(), IoBlockSize);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      RaiseIoErrorFromErrno(errno, path, IoOperation::Read);
    }
    if (got == 0)
      break;
    reg = Crc32Update(reg, buffer.get(), static_cast<std::size_t>(got));
  }
  return ~reg;
}

} // namespace vornel
