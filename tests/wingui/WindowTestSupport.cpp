#include "WindowTestSupport.h"

#include "gui/win32/MessageBoxes.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vornel::test {

namespace {

MessageBoxCatcher* activeCatcher = nullptr;

bool HasVisibleIcon(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    // The box itself is not shown yet, so its controls' own visibility is what counts.
    if ((GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) != 0 &&
        (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0)
      return true;
  return false;
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

LRESULT CALLBACK CatchBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && activeCatcher != nullptr) {
    const auto box = reinterpret_cast<HWND>(wParam);
    wchar_t type[16] = {};
    GetClassNameW(box, type, 16);
    if (std::wstring(type) == L"#32770") {
      // A message box's text is the static control with id 0xFFFF.
      activeCatcher->Boxes.push_back({TextOf(box), TextOf(GetDlgItem(box, 0xFFFF)),
                                      HasVisibleIcon(box),
                                      TextOf(GetDlgItem(box, win32::ListBoxLinesId))});
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

MessageBoxCatcher::MessageBoxCatcher()
    : hook_(SetWindowsHookExW(WH_CBT, CatchBox, nullptr, GetCurrentThreadId())) {
  activeCatcher = this;
}

MessageBoxCatcher::~MessageBoxCatcher() {
  activeCatcher = nullptr;
  UnhookWindowsHookEx(hook_);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs,
               const std::function<void()>& watch) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    MSG message{};
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      continue;
    }
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam)); // leave it for the caller to see
      return done();
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (watch)
      watch();
  }
  return true;
}

bool TakeQuitMessage() {
  MSG message{};
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

WorkingDirectory::WorkingDirectory() : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(Path());
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush())
    throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file())
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().lexically_relative(root).generic_string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

int RunProgram(const std::wstring& program, const std::wstring& arguments,
               const std::filesystem::path& folder) {
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

} // namespace vornel::test
