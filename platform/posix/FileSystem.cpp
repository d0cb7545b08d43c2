#include "platform/FileSystem.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornel {

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr)
      return buffer.data();
    if (errno != ERANGE)
      RaiseIoErrorFromErrno(errno); // e.g. the folder was removed: no path to build on
    buffer.resize(buffer.size() * 2);
  }
}

bool CreateDir(const std::string& path) {
  return !path.empty() && faults::UnlessFaulted(faults::FaultCall::CreateFolder, -1,
                                                [&] { return ::mkdir(path.c_str(), 0777); }) == 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty() || faults::InjectedFault(faults::FaultCall::CreateFolder) != 0)
    return false;
  std::string clean = path;
  while (clean.size() > 1 && clean.back() == '/')
    clean.pop_back();
  // Make each ancestor in turn; failures on the way are judged by the final check.
  for (std::size_t slash = clean.find('/', 1); slash != std::string::npos;
       slash = clean.find('/', slash + 1)) {
    if (clean[slash - 1] != '/')
      ::mkdir(clean.substr(0, slash).c_str(), 0777);
  }
  ::mkdir(clean.c_str(), 0777);
  return DirectoryExists(clean);
}

bool DeleteFileAt(const std::string& path) {
  return !path.empty() && ::unlink(path.c_str()) == 0;
}

void RenameFile(const std::string& from, const std::string& to) {
  if (faults::UnlessFaulted(faults::FaultCall::Rename, -1,
                            [&] { return ::rename(from.c_str(), to.c_str()); }) != 0)
    RaiseIoErrorFromErrno(errno, to, IoOperation::Rename);
}

void WaitUntilReplaceable(const std::string&) {
  // A rename replaces a file whatever its readers do.
}

bool RemoveEmptyDirectory(const std::string& path) {
  return !path.empty() && ::rmdir(path.c_str()) == 0;
}

bool ChangeDirectory(const std::string& path) {
  return !path.empty() && ::chdir(path.c_str()) == 0;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string TempDirectory() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  std::string dir = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
  while (dir.size() > 1 && dir.back() == '/')
    dir.pop_back();
  return dir;
}

bool MayReadFile(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

bool CanListFolder(const std::string& path) {
  return ::access(path.c_str(), R_OK | X_OK) == 0;
}

std::string ResolvedPath(const std::string& path) {
  if (path.empty())
    return {};
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsPathSeparator(char c) {
  return c == '/';
}

std::size_t PathRootLength(const std::string& path) {
  return !path.empty() && path.front() == '/' ? 1 : 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SamePath(const std::string& a, const std::string& b) {
  return a == b;
}

} // namespace vornel
