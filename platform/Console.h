#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace vornel {

// True when standard error is an interactive terminal or console.
bool StandardErrorIsTerminal();
// The width of the terminal behind standard error in columns; 80 when it cannot be told.
std::size_t TerminalColumns();
// Best effort: a terminal that cannot take the text must not end the program.
void WriteToTerminal(const std::string& text);

// While it lives, text sent to std::cout and std::cerr reaches a console through the wide call on
// Windows, so UTF-8 names show as they are (the byte calls would read them in the console's code
// page); output that goes to a file or a pipe stays UTF-8 bytes. Nothing changes elsewhere.
class WideConsoleStreams {
public:
  WideConsoleStreams();
  ~WideConsoleStreams();
  WideConsoleStreams(const WideConsoleStreams&) = delete;
  WideConsoleStreams& operator=(const WideConsoleStreams&) = delete;

private:
  struct Streams;
  std::unique_ptr<Streams> streams_;
};

// While it lives, the first interruption (Ctrl-C, a termination request, a console close) sets
// the flag and stores its signal number (2 for Ctrl-C, 15 for a termination request) instead
// of ending the process; a second one ends it at once. The previous handling comes back when it
// goes.
class StopRequestHandler {
public:
  StopRequestHandler(std::atomic<bool>& flag, std::atomic<int>& signalNumber);
  ~StopRequestHandler();
  StopRequestHandler(const StopRequestHandler&) = delete;
  StopRequestHandler& operator=(const StopRequestHandler&) = delete;
};

} // namespace vornel
