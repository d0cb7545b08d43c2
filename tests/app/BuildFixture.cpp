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
  std::string output;
  const int status =
      RunCommand("python3 " + ShellQuote(VORNEL_CHECK_UPLOAD) + " " + ShellQuote(Clean()) + " " +
                     ShellQuote(Upload()) + " " + ShellQuote(customName) +
                     (skipDir.empty() ? "" : " " + ShellQuote(skipDir)) + " 2>&1",
                 &output);
  return status == 0 ? "" : output.empty() ? "checker failed" : output;
}

} // namespace vornel::test
