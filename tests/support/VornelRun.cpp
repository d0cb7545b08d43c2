#include "tests/support/VornelRun.h"

#include <filesystem>

namespace vornel::test {

std::string VornelPath() {
#ifdef VORNEL_EXE
  return VORNEL_EXE;
#else
  return "";
#endif
}

bool HaveVornel() {
  return !VornelPath().empty();
}

ProcessResult RunVornel(const std::string& workDir, const std::vector<std::string>& args,
                        int timeoutSeconds, const Environment& env,
                        const std::vector<std::string>& wrapper) {
  if (!HaveVornel())
    return {.Err = "vornel was not built"};
  std::vector<std::string> command = wrapper;
  command.push_back(VornelPath());
  command.insert(command.end(), args.begin(), args.end());
  return RunProcess(command, {.WorkDir = workDir, .Env = env, .TimeoutSeconds = timeoutSeconds});
}

ProcessResult RunVornel(const TempDir& dir, const std::vector<std::string>& args) {
  std::filesystem::create_directories(dir / "tmp");
  return RunVornel(dir.Str(), args, kVornelTimeoutSeconds, TempFolderEnv(dir / "tmp"));
}

} // namespace vornel::test
