#include "tests/cli_archive/CliHarness.h"

#include <filesystem>

namespace vornel::test {

namespace {

RunResult RunCaptured(const TempDir& dir, const std::string& command) {
  const std::string errPath = dir / "stderr.txt";
  RunResult result;
  result.Code = RunCommand(command + " 2>" + ShellQuote(errPath), &result.Out);
  result.Err = ReadFile(errPath);
  std::filesystem::remove(errPath);
  return result;
}

} // namespace

RunResult RunVornel(const TempDir& dir, const std::string& args) {
  std::filesystem::create_directories(dir / "tmp");
  return RunCaptured(dir, "cd " + ShellQuote(dir.Str()) + " && TMPDIR=" + ShellQuote(dir / "tmp") +
                              " " + ShellQuote(VORNEL_BIN) + " " + args);
}

RunResult RunPython(const TempDir& dir, const std::string& script, const std::string& args) {
  const std::string scriptPath = dir / "script.py";
  WriteFile(scriptPath, script);
  return RunCaptured(dir, "cd " + ShellQuote(dir.Str()) + " && python3 " + ShellQuote(scriptPath) +
                              " " + args);
}

std::string Args(std::initializer_list<std::string> args) {
  std::string joined;
  for (const auto& arg : args)
    joined += (joined.empty() ? "" : " ") + ShellQuote(arg);
  return joined;
}

bool UnzipTestPasses(const std::string& archive) {
  return RunCommand("unzip -tq " + ShellQuote(archive) + " >/dev/null 2>&1") == 0;
}

} // namespace vornel::test
