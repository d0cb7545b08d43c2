#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::test {

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(utf8);
}

std::string FolderIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return "";
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

bool PermissionsStopReads() {
  return ::geteuid() != 0; // root reads whatever the permissions say
}

std::string NewFileProblems(const std::string& path, std::intptr_t handle) {
  std::string problems;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return "cannot stat " + path;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if ((info.st_mode & 0777) != (0666 & ~mask))
    problems += "permissions are not 0666 less the umask; ";
  if ((::fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC) == 0)
    problems += "the descriptor is not closed on exec";
  return problems;
}

bool MakeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0644) == 0;
}

HeldOpen::HeldOpen(const std::string&) {} // reads are never refused by another's open file

HeldOpen::~HeldOpen() = default;

} // namespace vornel::test
