// Opening pipes, sockets and devices as files: refused at once with an error naming them,
// never a wait for a writer or an endless read. Each call runs apart with a time limit, so that
// a regression shows as a failure instead of a hung test.

#include "tests/faults/FaultSupport.h"

#include "crc/Crc32.h"
#include "platform/Errors.h"
#include "platform/Stream.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

namespace vornel::test {
namespace {

// Runs call apart from the test: "" when it raised an error whose message holds the given text
// (the path, as a rule) within the time limit, else what happened instead.
std::string Refused(const std::function<void()>& call, const std::string& text) {
  return CallWithTimeLimit(
      [&]() -> std::string {
        try {
          call();
        } catch (const std::exception& error) {
          const std::string message = error.what();
          return message.find(text) != std::string::npos ? ""
                                                         : "error without the path: " + message;
        }
        return "no error";
      },
      20);
}

// A FIFO on POSIX, a named pipe on Windows: nobody writes to it. Each opening gets a pipe of its
// own, as a Windows pipe that one client has opened stays busy.
TEST(NonRegularFiles, PipeIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::vector<std::function<void(const std::string&)>> openings = {
      [](const std::string& path) { FileCrc32(path); },
      [](const std::string& path) { FileStream stream(path, FileStream::Mode::OpenRead); },
      [](const std::string& path) { FileStream stream(path, FileStream::Mode::OpenReadWrite); },
      [](const std::string& path) { FileStream stream(path, FileStream::Mode::Create); }};
  for (std::size_t i = 0; i < openings.size(); ++i) {
    const WaitingPipe pipe(dir / ("pipe" + std::to_string(i)));
    if (pipe.Path().empty())
      GTEST_SKIP() << pipe.Why();
    EXPECT_EQ(Refused([&] { openings[i](pipe.Path()); }, pipe.Path()), "") << "opening " << i;
  }
}

TEST(NonRegularFiles, SocketIsRefused) {
  TempDir dir;
  const std::string path = dir / "socket";
  const BoundSocket socket(path);
  if (!socket.Bound())
    GTEST_SKIP() << socket.Why();
  // Opening a socket fails at once (ENXIO); the checksum reports it by the system's text.
  EXPECT_EQ(Refused([&] { FileCrc32(path); }, std::strerror(ENXIO)), "");
  EXPECT_EQ(Refused([&] { FileStream stream(path, FileStream::Mode::OpenRead); }, path), "");
}

// A device (endless on POSIX) has no content to checksum.
TEST(NonRegularFiles, DeviceIsNotChecksummed) {
  EXPECT_EQ(Refused([] { FileCrc32(DevicePath()); }, DevicePath()), "");
}

} // namespace
} // namespace vornel::test
