#include "platform/Glob.h"

#include <fnmatch.h>

namespace vornel {

bool GlobMatchFolded(const std::string& pattern, const std::string& name) {
  // FNM_PERIOD stays off: "*.pdb" must also match ".hidden.pdb", as the client sees no such rule.
  return ::fnmatch(pattern.c_str(), name.c_str(), FNM_NOESCAPE | FNM_CASEFOLD) == 0;
}

} // namespace vornel
