#include "tests/support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vornel::test {

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(utf8);
}

bool PermissionsStopReads() {
  return ::geteuid() != 0; // root reads whatever the permissions say
}

bool MakeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0644) == 0;
}

HeldOpen::HeldOpen(const std::string&) {} // reads are never refused by another's open file

HeldOpen::~HeldOpen() = default;

} // namespace vornel::test
