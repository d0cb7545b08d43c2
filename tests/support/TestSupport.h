#pragma once

#include <filesystem>
#include <string>

namespace vornel::test {

// A fresh folder under the temporary folder, removed (with everything in it) on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }
  // path_ / relative as a string.
  std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

private:
  std::filesystem::path path_;
};

// Writes bytes to path, creating parent folders.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// Runs a shell command; returns its exit status and, when output is given, its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// True when a program is on the PATH.
bool HaveProgram(const std::string& name);

// Deterministic pseudo-random bytes.
std::string RandomBytes(std::size_t count, unsigned seed);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);

} // namespace vornel::test
