#include "tests/publish/PublishFixture.h"
#include "tests/support/VornelRun.h"

#include <filesystem>

namespace vornel::test {

namespace fs = std::filesystem;

void PublishFixture::SetUp() {
  fs::create_directories(dir_.Path() / "work");
  fs::copy(VORNEL_SAMPLE_TREE, dir_.Path() / "clean", fs::copy_options::recursive);
}

std::string PublishFixture::Work(const std::string& relative) const {
  return relative.empty() ? dir_ / "work" : dir_ / ("work/" + relative);
}

std::string PublishFixture::Clean(const std::string& relative) const {
  return relative.empty() ? dir_ / "clean" : dir_ / ("clean/" + relative);
}

std::vector<std::vector<std::string>> PublishFixture::Programs() {
  std::vector<std::vector<std::string>> programs{{VornelPath()}};
  const auto exe = GetEnv("VORNEL_WINDOWS_EXE");
  const auto runner = GetEnv("VORNEL_WINE_RUN");
  const auto prefix = GetEnv("VORNEL_WINE_PREFIX");
  if (exe && runner && prefix)
    programs.push_back({*runner, *prefix, *exe});
  return programs;
}

ProcessResult PublishFixture::Run(const std::vector<std::string>& program,
                                  const std::vector<std::string>& arguments) const {
  std::vector<std::string> line = program;
  line.insert(line.end(), arguments.begin(), arguments.end());
  ProcessResult result = RunProcess(line, {.WorkDir = Work(), .TimeoutSeconds = 120});
  // vornel.exe ends its lines with CR LF.
  for (std::string* text : {&result.Out, &result.Err}) {
    for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;)
      text->erase(at, 1);
  }
  return result;
}

ProcessResult PublishFixture::Vornel(const std::vector<std::string>& arguments) const {
  return Run(Programs().front(), arguments);
}

void PublishFixture::Build() const {
  const ProcessResult run = Vornel(Command("build -q --prune", {Clean()}));
  ASSERT_EQ(run.Code, 0) << run.Err;
}

} // namespace vornel::test
