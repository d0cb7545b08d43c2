#include "platform/Console.h"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vornel {

namespace {

std::atomic<bool>* stopFlag = nullptr;
std::atomic<int>* stopSignal = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void RequestStop(int signal) {
  if (stopSignal != nullptr)
    stopSignal->store(signal);
  if (stopFlag != nullptr)
    stopFlag->store(true);
}

struct sigaction oldInt {};
struct sigaction oldTerm {};

} // namespace

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

std::size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return 80;
}

void WriteToTerminal(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (wrote <= 0)
      return;
    done += static_cast<std::size_t>(wrote);
  }
}

StopRequestHandler::StopRequestHandler(std::atomic<bool>& flag, std::atomic<int>& signalNumber) {
  stopFlag = &flag;
  stopSignal = &signalNumber;
  struct sigaction action {};
  action.sa_handler = RequestStop;
  action.sa_flags = SA_RESETHAND; // the second one ends the process
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &oldInt);
  ::sigaction(SIGTERM, &action, &oldTerm);
}

StopRequestHandler::~StopRequestHandler() {
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGTERM, &oldTerm, nullptr);
  stopFlag = nullptr;
  stopSignal = nullptr;
}

struct WideConsoleStreams::Streams {};

WideConsoleStreams::WideConsoleStreams() = default;

WideConsoleStreams::~WideConsoleStreams() = default;

} // namespace vornel
