#include "platform/Console.h"

#include "platform/windows/WinSupport.h"

#include <iostream>
#include <memory>
#include <streambuf>

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

namespace {

// The length of text's longest prefix that ends at the end of a UTF-8 sequence.
std::size_t WholeUtf8(const std::string& text) {
  std::size_t end = text.size();
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) != 0x80) { // the lead byte of the last sequence
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      if (length > back)
        end = text.size() - back;
      break;
    }
  }
  return end;
}

// A stream buffer that hands whole lines (and whatever a flush asks for) to WriteConsoleW.
class ConsoleBuffer final : public std::streambuf {
public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ~ConsoleBuffer() override { Flush(); }

protected:
  int overflow(int c) override {
    if (c != traits_type::eof()) {
      pending_ += static_cast<char>(c);
      if (c == '\n')
        Flush();
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    if (pending_.find('\n') != std::string::npos)
      Flush();
    return count;
  }
  int sync() override {
    Flush();
    return 0;
  }

private:
  void Flush() {
    const std::size_t end = WholeUtf8(pending_);
    if (end == 0)
      return;
    const std::wstring wide = win::Widen(pending_.substr(0, end));
    DWORD written = 0;
    ::WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    pending_.erase(0, end);
  }

  HANDLE console_;
  std::string pending_;
};

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode);
}

} // namespace

struct WideConsoleStreams::Streams {
  std::unique_ptr<ConsoleBuffer> Out;
  std::unique_ptr<ConsoleBuffer> Err;
  std::streambuf* OldOut = nullptr;
  std::streambuf* OldErr = nullptr;
};

WideConsoleStreams::WideConsoleStreams() : streams_(std::make_unique<Streams>()) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (IsConsole(out)) {
    std::cout.flush();
    streams_->Out = std::make_unique<ConsoleBuffer>(out);
    streams_->OldOut = std::cout.rdbuf(streams_->Out.get());
  }
  if (IsConsole(err)) {
    std::cerr.flush();
    streams_->Err = std::make_unique<ConsoleBuffer>(err);
    streams_->OldErr = std::cerr.rdbuf(streams_->Err.get());
  }
}

WideConsoleStreams::~WideConsoleStreams() {
  std::cout.flush();
  std::cerr.flush();
  if (streams_->OldOut != nullptr)
    std::cout.rdbuf(streams_->OldOut);
  if (streams_->OldErr != nullptr)
    std::cerr.rdbuf(streams_->OldErr);
}

} // namespace vornel
