#pragma once

// Starting peers (vornel itself, zip, unzip, python3) the way both operating systems can: a
// program and its arguments as a list, never a shell line, so no quoting rules differ.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornel::test {

// Variables to set, or with no value to remove.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct ProcessOptions {
  // Empty: the test's current folder.
  std::string WorkDir{};
  // Variables set (or, with no value, removed) for the child only.
  Environment Env{};
  // What the child reads from its standard input.
  std::string Input{};
  // Standard error written into Out, in order with standard output.
  bool ErrToOut = false;
  // 0: wait as long as it takes; otherwise the child is killed after that many seconds.
  int TimeoutSeconds = 0;
};

// On Windows, programs end the lines of their standard streams with CR LF: Out and Err hold them
// as LF, so tests compare the same text on both systems.
struct ProcessResult {
  int Code = -1; // -1: it could not be started or was killed
  bool TimedOut = false;
  std::string Out{};
  std::string Err{};
};

// Runs args[0] (found on the PATH when it has no folder) with the remaining arguments.
ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessOptions& options = {});

// A child that runs while the test goes on (a build to be killed or interrupted half-way):
// standard input empty, standard output discarded, standard error captured. One still running
// when the object goes is killed and waited for.
class StartedProcess {
public:
  // Runs args[0] (found on the PATH when it has no folder) in workDir (empty: the test's own).
  // Only an interruptible child takes Interrupt(): on Windows it gets a console of its own for
  // the Ctrl-C, and wine leaves that console's host running forever when the child is killed
  // while it starts up, holding the test's output open.
  explicit StartedProcess(const std::vector<std::string>& args, const std::string& workDir = {},
                          bool interruptible = false);
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  bool Started() const;
  // Ends it at once, with no chance to tidy up (SIGKILL; TerminateProcess on Windows).
  void Kill();
  // Presses Ctrl-C for it (SIGINT; on Windows a Ctrl-C in its own console). False when that
  // could not be delivered, or the child is not interruptible.
  bool Interrupt();
  // Waits for the end: the exit code, or 128 + the signal's number when a signal ended it (the
  // code a shell reports); a killed Windows child reports the same as a killed Linux one. -1 when
  // it never started.
  int Wait();
  // Standard error with LF line ends, complete once Wait has returned.
  const std::string& Err() const { return err_; }

private:
  struct Child;
  std::unique_ptr<Child> child_;
  std::string err_;
  int code_ = -1;
  bool waited_ = false;
};

// True when a program is on the PATH; under wine also a Linux program that the bridge of
// tools/wine-run.sh runs for the tests.
bool HaveProgram(const std::string& name);

// "" when every one of the programs is on the PATH; otherwise which are not, and why, for a skip.
std::string MissingPrograms(const std::vector<std::string>& names);
#define SKIP_WITHOUT_PROGRAMS(...)                                                                 \
  if (const std::string missing = ::vornel::test::MissingPrograms({__VA_ARGS__});                  \
      !missing.empty())                                                                            \
  GTEST_SKIP() << missing

// True in the Windows build of the tests, for tests of what only one system has.
bool OnWindows();

// Splits on blanks and line ends: fixed command lines in tables ("remove a.zip one.txt") and
// listings a peer prints one name a line. No quoting.
std::vector<std::string> Words(const std::string& line);

// The words of a fixed line ("remove --rebuild") followed by more arguments (paths, names).
std::vector<std::string> Command(const std::string& words,
                                 const std::vector<std::string>& more = {});

// The variables that point a program's temporary files at folder (TMPDIR on Linux; TMP and TEMP
// on Windows), for ProcessOptions::Env.
Environment TempFolderEnv(const std::string& folder);

// A variable of this process; nullopt when it is not set.
std::optional<std::string> GetEnv(const std::string& name);
// Sets (or, with no value, removes) a variable of this process.
void SetEnv(const std::string& name, const std::optional<std::string>& value);

// Sets (or, with no value, removes) a variable of this process until the end of the scope.
class ScopedEnv {
public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  std::string name_;
  std::optional<std::string> former_;
};

// Points this process's temporary folder at folder until the end of the scope.
class ScopedTempFolder {
public:
  explicit ScopedTempFolder(const std::string& folder);

private:
  std::vector<std::unique_ptr<ScopedEnv>> vars_;
};

} // namespace vornel::test
