#include "tests/support/Process.h"

namespace vornel::test {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t start = 0;
  const char* const blanks = " \t\r\n";
  while ((start = line.find_first_not_of(blanks, start)) != std::string::npos) {
    const std::size_t end = line.find_first_of(blanks, start);
    words.push_back(line.substr(start, end - start));
    start = end;
  }
  return words;
}

std::vector<std::string> Command(const std::string& words, const std::vector<std::string>& more) {
  std::vector<std::string> command = Words(words);
  command.insert(command.end(), more.begin(), more.end());
  return command;
}

std::string MissingPrograms(const std::vector<std::string>& names) {
  std::vector<std::string> missing;
  for (const std::string& name : names) {
    if (!HaveProgram(name))
      missing.push_back(name);
  }
  if (missing.empty())
    return "";
  std::string text;
  for (std::size_t i = 0; i < missing.size(); ++i)
    text += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
  text += missing.size() == 1 ? " is" : " are";
  // Under wine the peers are Linux programs, run through tools/wine-run.sh's bridge.
  return text + (OnWindows() ? " not on the PATH (nor, under wine, run by tools/wine-run.sh)"
                             : " not installed");
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), former_(GetEnv(name_)) {
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() {
  SetEnv(name_, former_);
}

ScopedTempFolder::ScopedTempFolder(const std::string& folder) {
  for (const auto& [name, value] : TempFolderEnv(folder))
    vars_.push_back(std::make_unique<ScopedEnv>(name, value));
}

} // namespace vornel::test
