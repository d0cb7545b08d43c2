#include "tests/faults/FaultSupport.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vornel::test {

SmallDisk::SmallDisk(std::string folder, std::size_t bytes) : folder_(std::move(folder)) {
  if (::geteuid() != 0) {
    error_ = "mounting a small disk needs root";
    return;
  }
  std::filesystem::create_directories(folder_);
  const std::string options = "size=" + std::to_string(bytes);
  if (::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    error_ = "cannot mount a tmpfs on " + folder_ + ": " + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

SmallDisk::~SmallDisk() {
  if (mounted_)
    ::umount2(folder_.c_str(), MNT_DETACH);
}

bool SmallDisk::MakeReadOnly() {
  return mounted_ &&
         ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool SmallDisk::Resize(std::size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes);
  return mounted_ && ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
}

WaitingPipe::WaitingPipe(const std::string& fifoPath) {
  if (MakeFifo(fifoPath))
    path_ = fifoPath;
  else
    why_ = "cannot make a FIFO: " + std::string(std::strerror(errno));
}

WaitingPipe::~WaitingPipe() = default;

BoundSocket::BoundSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    why_ = "temporary path too long for a socket";
    return;
  }
  path.copy(address.sun_path, path.size());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    why_ = "cannot bind a socket: " + std::string(std::strerror(errno));
}

BoundSocket::~BoundSocket() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::string DevicePath() {
  return "/dev/zero";
}

std::string CallWithTimeLimit(const std::function<std::string()>& call, int seconds) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    ::alarm(static_cast<unsigned>(seconds));
    const std::string result = call();
    (void)!::write(pipeFds[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string result;
  char buffer[512];
  ssize_t got;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
    result.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status))
    return WTERMSIG(status) == SIGALRM ? "hung" : "crashed";
  return result;
}

bool MakeSparseFile(const std::string& path, std::int64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return false;
  const bool made = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  ::close(fd);
  return made;
}

long PeakMemoryKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

} // namespace vornel::test
