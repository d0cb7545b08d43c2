#include "tests/app/BuildFixture.h"

#include <filesystem>

namespace vornel::test {

void BuildFixture::SetUp() {
  std::filesystem::create_directories(Clean());
  std::filesystem::create_directories(Work());
}

std::string BuildFixture::PeerCheck(const std::string& customName,
                                    const std::string& skipDir) const {
  if (!HaveProgram("python3"))
    return "python3 missing";
  std::vector<std::string> command = {"python3", VORNEL_CHECK_UPLOAD, Clean(), Upload(),
                                      customName};
  if (!skipDir.empty())
    command.push_back(skipDir);
  const ProcessResult checked = RunProcess(command, {.ErrToOut = true});
  return checked.Code == 0 ? "" : checked.Out.empty() ? "checker failed" : checked.Out;
}

} // namespace vornel::test
