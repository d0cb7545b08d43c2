#include "tests/cli_archive/CliHarness.h"

namespace vornel::test {

ProcessResult RunPython(const TempDir& dir, const std::string& script,
                        const std::vector<std::string>& args) {
  const std::string scriptPath = dir / "script.py";
  WriteFile(scriptPath, script);
  std::vector<std::string> command = {"python3", scriptPath};
  command.insert(command.end(), args.begin(), args.end());
  return RunProcess(command, {.WorkDir = dir.Str()});
}

::testing::AssertionResult UnzipTestPasses(const std::string& archive) {
  // unzip judges the same bytes the same way every time; a second try only rules out the
  // bridge that runs it for a Windows test under wine, which has dropped a request under load.
  ProcessResult tested;
  for (int attempt = 0; attempt < 2; ++attempt) {
    tested = RunProcess({"unzip", "-tq", archive});
    if (tested.Code == 0)
      return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "unzip -tq " << archive << " ended with " << tested.Code
                                       << ": " << tested.Out << tested.Err;
}

} // namespace vornel::test
