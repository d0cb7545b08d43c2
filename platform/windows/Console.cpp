#include "platform/Console.h"

#include "platform/windows/WinSupport.h"

namespace vornel {

namespace {

std::atomic<bool>* stopFlag = nullptr;
std::atomic<int>* stopSignal = nullptr;
std::atomic<int> interruptions{0};

// The signal numbers a POSIX shell would report for the same interruptions.
constexpr int InterruptSignal = 2;
constexpr int TerminateSignal = 15;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  // The first one asks the build to stop; the next falls through to the default handler, which
  // ends the process.
  if (stopFlag == nullptr || interruptions.fetch_add(1) > 0)
    return FALSE;
  if (stopSignal != nullptr)
    stopSignal->store(event == CTRL_CLOSE_EVENT ? TerminateSignal : InterruptSignal);
  stopFlag->store(true);
  return TRUE;
}

HANDLE StandardError() {
  return ::GetStdHandle(STD_ERROR_HANDLE);
}

// Turns on the console's handling of escape sequences once; false where the console has none.
bool EscapesUnderstood() {
  static const bool understood = [] {
    DWORD mode = 0;
    if (!::GetConsoleMode(StandardError(), &mode))
      return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(StandardError(), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }();
  return understood;
}

} // namespace

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(StandardError(), &mode) != 0;
}

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(StandardError(), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0)
      return static_cast<std::size_t>(columns);
  }
  return 80;
}

void WriteToTerminal(const std::string& text) {
  std::string shown = text;
  if (!EscapesUnderstood()) {
    // Without "erase to the end of the line", blanks over the rest of the line do the same.
    const std::string erase = "\033[K";
    for (std::size_t at = shown.find(erase); at != std::string::npos; at = shown.find(erase)) {
      const std::size_t lineStart = shown.rfind('\r', at);
      const std::size_t used = at - (lineStart == std::string::npos ? 0 : lineStart + 1);
      const std::size_t room = TerminalColumns() - 1;
      shown.replace(at, erase.size(), used < room ? std::string(room - used, ' ') : std::string());
    }
  }
  const std::wstring wide = win::Widen(shown);
  DWORD written = 0;
  ::WriteConsoleW(StandardError(), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

StopRequestHandler::StopRequestHandler(std::atomic<bool>& flag, std::atomic<int>& signalNumber) {
  stopFlag = &flag;
  stopSignal = &signalNumber;
  interruptions.store(0);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequestHandler::~StopRequestHandler() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  stopFlag = nullptr;
  stopSignal = nullptr;
}

} // namespace vornel
