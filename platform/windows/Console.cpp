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
  if (stopFlag == nullptr)
    return FALSE;
  const int signal = event == CTRL_CLOSE_EVENT ? TerminateSignal : InterruptSignal;
  // The first one asks the build to stop; the next ends the process at once, with the code a
  // shell reports for a process that signal ended (Windows' own default would be 0xC000013A).
  if (interruptions.fetch_add(1) > 0)
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(128 + signal));
  if (stopSignal != nullptr)
    stopSignal->store(signal);
  stopFlag->store(true);
  // Windows ends the process as soon as the handler of a close returns (and a few seconds after
  // the close in any case): waiting here lets the build stop and the program exit with its own
  // code first.
  if (event == CTRL_CLOSE_EVENT)
    ::Sleep(INFINITE);
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
