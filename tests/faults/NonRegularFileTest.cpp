// Opening pipes, sockets and devices as files: refused at once with an error naming them,
// never a wait for a writer or an endless read. Each call runs in a child process, so that a
// regression shows as a failure instead of a hung test.

#include "tests/faults/FaultSupport.h"

#include "crc/Crc32.h"
#include "platform/Errors.h"
#include "platform/Stream.h"

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vornel::test {
namespace {

// Runs call in a child process: "" when it raised an error whose message holds the given text
// (the path, as a rule) within the time limit, else what happened instead.
std::string RefusedInChild(const std::function<void()>& call, const std::string& path) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    ::alarm(20);
    std::string result = "no error";
    try {
      call();
    } catch (const std::exception& error) {
      const std::string message = error.what();
      result = message.find(path) != std::string::npos ? "" : "error without the path: " + message;
    }
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

TEST(NonRegularFiles, NamedPipeIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  EXPECT_EQ(RefusedInChild([&] { FileCrc32(pipe); }, pipe), "");
  for (const auto mode :
       {FileStream::Mode::OpenRead, FileStream::Mode::OpenReadWrite, FileStream::Mode::Create}) {
    EXPECT_EQ(RefusedInChild([&] { FileStream stream(pipe, mode); }, pipe), "");
  }
}

TEST(NonRegularFiles, SocketIsRefused) {
  TempDir dir;
  const std::string path = dir / "socket";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    GTEST_SKIP() << "temporary path too long for a socket";
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Opening a socket fails at once (ENXIO); the checksum reports it by the system's text.
  EXPECT_EQ(RefusedInChild([&] { FileCrc32(path); }, std::strerror(ENXIO)), "");
  EXPECT_EQ(RefusedInChild([&] { FileStream stream(path, FileStream::Mode::OpenRead); }, path), "");
  ::close(fd);
}

// An endless device has no content to checksum.
TEST(NonRegularFiles, EndlessDeviceIsNotChecksummed) {
  if (::access("/dev/zero", R_OK) != 0)
    GTEST_SKIP() << "no /dev/zero";
  EXPECT_EQ(RefusedInChild([] { FileCrc32("/dev/zero"); }, "/dev/zero"), "");
}

} // namespace
} // namespace vornel::test
