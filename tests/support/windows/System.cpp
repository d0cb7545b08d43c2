#include "tests/support/TestSupport.h"

namespace vornel::test {

bool PermissionsStopReads() {
  return false; // permissions only set the read-only attribute, which never stops a read
}

bool MakeFifo(const std::string&) {
  return false; // named pipes of Windows live outside the file system
}

} // namespace vornel::test
