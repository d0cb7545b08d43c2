#pragma once

// Helpers for driving the Windows window from its own thread: message boxes caught by a hook as
// they open, the thread's messages pumped until something happens, scratch folders and files.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "tests/support/TestSupport.h"

namespace vornel::test {

struct CaughtBox {
  std::wstring Caption;
  std::wstring Text;
  bool HasIcon = false;
  std::wstring Lines; // the list box's lines (CR LF between them)
};

// While it lives, every message box this thread opens is read and closed with OK at once.
class MessageBoxCatcher {
public:
  MessageBoxCatcher();
  ~MessageBoxCatcher();
  MessageBoxCatcher(const MessageBoxCatcher&) = delete;
  MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

  std::vector<CaughtBox> Boxes;

private:
  HHOOK hook_;
};

// Dispatches this thread's messages until done() holds or timeoutMs pass; after each message
// seen calls watch (when given). True when done() held.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 60000,
               const std::function<void()>& watch = {});
// Takes a WM_QUIT left in the queue; true when there was one.
bool TakeQuitMessage();

// Makes a scratch folder the current directory for its lifetime.
class WorkingDirectory : public TempDir {
public:
  WorkingDirectory();
  ~WorkingDirectory();

private:
  std::filesystem::path previous_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::vector<std::string> ReadLines(const std::filesystem::path& path);
// Every file below root by relative path ("/"-separated), with its bytes.
std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root);
// Runs a program with arguments in a folder and returns its exit code (-1 when it did not run).
int RunProgram(const std::wstring& program, const std::wstring& arguments,
               const std::filesystem::path& folder);

} // namespace vornel::test
