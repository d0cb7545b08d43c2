#include "tests/support/Process.h"

#include "tests/support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vornel::test {

namespace {

// The child's environment: this process's, changed as asked.
std::vector<std::string> ChildEnvironment(const Environment& changes) {
  std::map<std::string, std::string> vars;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto eq = text.find('=');
    if (eq != std::string::npos)
      vars[text.substr(0, eq)] = text.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value)
      vars[name] = *value;
    else
      vars.erase(name);
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : vars)
    entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Closes the spawn's file actions on every way out.
struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
};

// A pipe whose ends close on every way out; both are closed in children.
struct Pipe {
  int read = -1;
  int write = -1;
  bool Open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
      return false;
    read = ends[0];
    write = ends[1];
    return true;
  }
  void CloseRead() {
    if (read >= 0)
      ::close(read);
    read = -1;
  }
  void CloseWrite() {
    if (write >= 0)
      ::close(write);
    write = -1;
  }
  std::string ReadAll() const {
    std::string text;
    char buffer[4096];
    for (ssize_t got; read >= 0 && (got = ::read(read, buffer, sizeof buffer)) != 0;) {
      if (got > 0)
        text.append(buffer, static_cast<std::size_t>(got));
      else if (errno != EINTR)
        break;
    }
    return text;
  }
  void WriteAll(const std::string& text) const {
    for (std::size_t done = 0; write >= 0 && done < text.size();) {
      const ssize_t put = ::write(write, text.data() + done, text.size() - done);
      if (put > 0)
        done += static_cast<std::size_t>(put);
      else if (errno != EINTR)
        break;
    }
  }
  Pipe() = default;
  ~Pipe() {
    CloseWrite();
    CloseRead();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
};

// Starts the child with the given descriptors as its standard streams; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, const std::string& workDir,
            const Environment& env, int in, int out, int err) {
  FileActions files;
  posix_spawn_file_actions_adddup2(&files.actions, in, 0);
  posix_spawn_file_actions_adddup2(&files.actions, out, 1);
  posix_spawn_file_actions_adddup2(&files.actions, err, 2);
  if (!workDir.empty())
    posix_spawn_file_actions_addchdir_np(&files.actions, workDir.c_str());

  std::vector<std::string> argTexts = args;
  std::vector<std::string> envTexts = ChildEnvironment(env);
  const auto argv = Pointers(argTexts);
  const auto envp = Pointers(envTexts);
  pid_t child = 0;
  const int spawned =
      ::posix_spawnp(&child, args[0].c_str(), &files.actions, nullptr, argv.data(), envp.data());
  return spawned == 0 ? child : -1;
}

// Waits for the child, killing it once the time limit has passed; its wait status, or -1.
int WaitFor(pid_t child, int timeoutSeconds, bool& timedOut) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(child, &status, timeoutSeconds > 0 ? WNOHANG : 0);
    if (done == child)
      break;
    if (done < 0 && errno != EINTR)
      return -1;
    if (timeoutSeconds > 0 && std::chrono::steady_clock::now() >= deadline && !timedOut) {
      timedOut = true;
      ::kill(child, SIGKILL);
      timeoutSeconds = 0; // now wait for it to go
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessOptions& options) {
  ProcessResult result;
  if (args.empty())
    return result;
  // All three standard streams are pipes, as in a shell's pipeline.
  Pipe in, out, err;
  if (!in.Open() || !out.Open() || (!options.ErrToOut && !err.Open()))
    return result;

  const pid_t child = Spawn(args, options.WorkDir, options.Env, in.read, out.write,
                            options.ErrToOut ? out.write : err.write);
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();
  if (child < 0)
    return result;
  std::thread inWriter([&] {
    // A child that does not read all of it must not end the test with SIGPIPE: the signal is
    // blocked on this thread only, so the write just fails.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    in.WriteAll(options.Input);
    in.CloseWrite();
  });
  // Read while waiting, so the time limit holds even for a child that never closes its output.
  std::thread outReader([&] { result.Out = out.ReadAll(); });
  std::thread errReader([&] { result.Err = err.ReadAll(); });
  const int status = WaitFor(child, options.TimeoutSeconds, result.TimedOut);
  result.Code = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  inWriter.join();
  outReader.join();
  errReader.join();
  if (result.TimedOut)
    result.Code = -1;
  return result;
}

struct StartedProcess::Child {
  pid_t Id = -1;
  bool Interruptible = false;
  Pipe Err;
  std::thread ErrReader;
};

StartedProcess::StartedProcess(const std::vector<std::string>& args, const std::string& workDir,
                               bool interruptible)
    : child_(std::make_unique<Child>()) {
  child_->Interruptible = interruptible;
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (!args.empty() && null >= 0 && child_->Err.Open())
    child_->Id = Spawn(args, workDir, {}, null, null, child_->Err.write);
  if (null >= 0)
    ::close(null);
  child_->Err.CloseWrite();
  if (child_->Id >= 0)
    child_->ErrReader = std::thread([this] { err_ = child_->Err.ReadAll(); });
}

StartedProcess::~StartedProcess() {
  if (!waited_) {
    Kill();
    Wait();
  }
}

bool StartedProcess::Started() const {
  return child_->Id >= 0;
}

void StartedProcess::Kill() {
  if (Started() && !waited_)
    ::kill(child_->Id, SIGKILL);
}

bool StartedProcess::Interrupt() {
  return Started() && !waited_ && child_->Interruptible && ::kill(child_->Id, SIGINT) == 0;
}

int StartedProcess::Wait() {
  if (!Started() || waited_)
    return code_;
  bool timedOut = false;
  const int status = WaitFor(child_->Id, 0, timedOut);
  child_->ErrReader.join();
  waited_ = true;
  code_ = status < 0            ? -1
          : WIFEXITED(status)   ? WEXITSTATUS(status)
          : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                : -1;
  return code_;
}

bool HaveProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path == nullptr ? "" : path;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = folders.find(':', start);
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
      return true;
    if (end == std::string::npos)
      return false;
    start = end + 1;
  }
}

bool OnWindows() {
  return false;
}

Environment TempFolderEnv(const std::string& folder) {
  return {{"TMPDIR", folder}};
}

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

} // namespace vornel::test
