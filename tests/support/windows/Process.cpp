#include "tests/support/Process.h"

#include "platform/windows/WinSupport.h"
#include "tests/support/windows/LinuxPeers.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <mutex>
#include <thread>

namespace vornel::test {

namespace {

using win::HandleGuard;
using win::Narrow;
using win::Widen;

// One argument as the C run-time splits a command line: quotes around it when it has blanks
// or quotes, backslashes doubled only where a quote follows them.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// A program with a folder as given; otherwise the first NAME.exe on the PATH.
std::wstring ProgramPath(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos)
    return win::WidePath(name);
  wchar_t found[MAX_PATH];
  const DWORD length =
      ::SearchPathW(nullptr, Widen(name).c_str(), L".exe", MAX_PATH, found, nullptr);
  return length > 0 && length < MAX_PATH ? std::wstring(found, length) : std::wstring();
}

struct NoCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
  }
};

// This process's environment, changed as asked, as the sorted block CreateProcessW takes.
std::wstring EnvironmentBlock(const Environment& changes) {
  std::map<std::wstring, std::wstring, NoCaseLess> vars;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      const std::wstring text = entry;
      // Entries such as "=C:=C:\dir" keep their leading "=" as part of the name.
      const std::size_t eq = text.find(L'=', 1);
      if (eq != std::wstring::npos)
        vars[text.substr(0, eq)] = text.substr(eq + 1);
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : changes) {
    if (value)
      vars[Widen(name)] = Widen(*value);
    else
      vars.erase(Widen(name));
  }
  std::wstring result;
  for (const auto& [name, value] : vars)
    result += name + L"=" + value + L'\0';
  return result + L'\0';
}

// A pipe; neither end is inherited but by the start that hands it to a child.
struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  bool Open() { return ::CreatePipe(&read, &write, nullptr, 0) != 0; }
  static void Close(HANDLE& handle) {
    if (handle != nullptr)
      ::CloseHandle(handle);
    handle = nullptr;
  }
  std::string ReadAll() const {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (read != nullptr && ::ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
      text.append(buffer, got);
    return text;
  }
  void WriteAll(const std::string& text) const {
    for (std::size_t done = 0; done < text.size();) {
      DWORD put = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
      if (!::WriteFile(write, text.data() + done, chunk, &put, nullptr) || put == 0)
        break;
      done += put;
    }
  }
  Pipe() = default;
  ~Pipe() {
    Close(read);
    Close(write);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
};

std::string TextLines(std::string text) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      text[kept++] = text[i];
  }
  text.resize(kept);
  return text;
}

// Inheritable handles reach every child started while they are inheritable: children are started
// one at a time, and only their own standard streams are inheritable while they start.
std::mutex startLock;

// Starts args[0] with in, out and err as its standard streams; false when it cannot start.
bool Spawn(const std::vector<std::string>& args, const std::string& workDir, const Environment& env,
           HANDLE in, HANDLE out, HANDLE err, DWORD flags, PROCESS_INFORMATION& child) {
  const std::wstring program = args.empty() ? std::wstring() : ProgramPath(args[0]);
  if (program.empty())
    return false;
  std::wstring commandLine = Quoted(program);
  for (std::size_t i = 1; i < args.size(); ++i)
    commandLine += L" " + Quoted(Widen(args[i]));
  std::wstring environment = EnvironmentBlock(env);
  const std::wstring wideWorkDir = win::WidePath(workDir);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;

  std::lock_guard<std::mutex> lock(startLock);
  const auto inherit = [&](bool on) {
    bool done = true;
    for (HANDLE handle : {in, out, err})
      done =
          ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, on ? HANDLE_FLAG_INHERIT : 0) && done;
    return done;
  };
  const bool started =
      inherit(true) &&
      ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | flags, environment.data(),
                       wideWorkDir.empty() ? nullptr : wideWorkDir.c_str(), &startup, &child);
  inherit(false);
  return started;
}

// The null device, for a child's standard input and output.
HANDLE OpenNull() {
  return ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessOptions& options) {
  ProcessResult result;
  if (args.empty())
    return result;
  if (ProgramPath(args[0]).empty()) {
    if (std::string peer = LinuxProgram(args[0]); !peer.empty()) {
      std::vector<std::string> linuxArgs = args;
      linuxArgs[0] = std::move(peer);
      return RunLinuxProgram(linuxArgs, options);
    }
    result.Err = "cannot find " + args[0] + " as a Windows or a Linux program";
    return result;
  }
  Pipe in, out, err;
  if (!in.Open() || !out.Open() || (!options.ErrToOut && !err.Open())) {
    result.Err = "cannot make pipes for " + args[0] + ": " + win::ErrorText(::GetLastError());
    return result;
  }
  PROCESS_INFORMATION child{};
  const bool started = Spawn(args, options.WorkDir, options.Env, in.read, out.write,
                             options.ErrToOut ? out.write : err.write, 0, child);
  const DWORD spawnError = started ? 0 : ::GetLastError(); // before the closes below reset it
  Pipe::Close(in.read);
  Pipe::Close(out.write);
  Pipe::Close(err.write);
  if (!started) {
    result.Err = "cannot start " + args[0] + ": " + win::ErrorText(spawnError);
    return result;
  }
  HandleGuard process(child.hProcess);
  HandleGuard thread(child.hThread);
  std::thread inWriter([&] {
    in.WriteAll(options.Input);
    Pipe::Close(in.write);
  });
  std::thread outReader([&] { result.Out = out.ReadAll(); });
  std::thread errReader([&] { result.Err = err.ReadAll(); });
  const DWORD limit =
      options.TimeoutSeconds > 0 ? static_cast<DWORD>(options.TimeoutSeconds) * 1000 : INFINITE;
  if (::WaitForSingleObject(process.Get(), limit) == WAIT_TIMEOUT) {
    result.TimedOut = true;
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), INFINITE);
  }
  inWriter.join();
  outReader.join();
  errReader.join();
  result.Out = TextLines(std::move(result.Out));
  result.Err = TextLines(std::move(result.Err));
  DWORD code = 0;
  if (!result.TimedOut && ::GetExitCodeProcess(process.Get(), &code))
    result.Code = static_cast<int>(code);
  return result;
}

// A killed child reports what a shell reports on Linux for one ended by SIGKILL.
constexpr UINT KilledCode = 128 + 9;

struct StartedProcess::Child {
  HANDLE Process = nullptr;
  DWORD Id = 0;
  bool Interruptible = false;
  Pipe Err;
  std::thread ErrReader;
  ~Child() { Pipe::Close(Process); }
};

StartedProcess::StartedProcess(const std::vector<std::string>& args, const std::string& workDir,
                               bool interruptible)
    : child_(std::make_unique<Child>()) {
  child_->Interruptible = interruptible;
  HandleGuard null(OpenNull());
  PROCESS_INFORMATION child{};
  // A console of its own, with no window, so that a Ctrl-C reaches the child alone.
  const DWORD console = interruptible ? CREATE_NO_WINDOW : 0;
  if (null.Get() != INVALID_HANDLE_VALUE && child_->Err.Open() &&
      Spawn(args, workDir, {}, null.Get(), null.Get(), child_->Err.write, console, child)) {
    ::CloseHandle(child.hThread);
    child_->Process = child.hProcess;
    child_->Id = child.dwProcessId;
  }
  Pipe::Close(child_->Err.write);
  if (Started())
    child_->ErrReader = std::thread([this] { err_ = TextLines(child_->Err.ReadAll()); });
}

StartedProcess::~StartedProcess() {
  if (!waited_) {
    Kill();
    Wait();
  }
}

bool StartedProcess::Started() const {
  return child_->Process != nullptr;
}

void StartedProcess::Kill() {
  if (Started() && !waited_)
    ::TerminateProcess(child_->Process, KilledCode);
}

bool StartedProcess::Interrupt() {
  // Console events go only to the sender's own console (under wine the test's may be none with
  // a host), a Ctrl-C to all of that console's processes, and wine sends no Ctrl-Break at all: a
  // helper attaches to the child's own console and presses Ctrl-C there.
  return Started() && !waited_ && child_->Interruptible &&
         RunProcess({VORNEL_SEND_CTRL_C, std::to_string(child_->Id)}).Code == 0;
}

int StartedProcess::Wait() {
  if (!Started() || waited_)
    return code_;
  ::WaitForSingleObject(child_->Process, INFINITE);
  child_->ErrReader.join();
  waited_ = true;
  DWORD code = 0;
  code_ = ::GetExitCodeProcess(child_->Process, &code) ? static_cast<int>(code) : -1;
  return code_;
}

bool HaveProgram(const std::string& name) {
  return !ProgramPath(name).empty() || !LinuxProgram(name).empty();
}

bool OnWindows() {
  return true;
}

Environment TempFolderEnv(const std::string& folder) {
  // GetTempPathW looks at TMP first, then TEMP.
  return {{"TMP", folder}, {"TEMP", folder}};
}

std::optional<std::string> GetEnv(const std::string& name) {
  const wchar_t* value = ::_wgetenv(Widen(name).c_str());
  return value == nullptr ? std::nullopt : std::optional<std::string>(Narrow(value));
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  // The run-time's copy and the system's both change; an empty value removes the variable.
  ::_wputenv_s(Widen(name).c_str(), value ? Widen(*value).c_str() : L"");
}

} // namespace vornel::test
