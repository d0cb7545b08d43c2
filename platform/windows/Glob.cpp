#include "platform/Glob.h"

#include "platform/windows/WinSupport.h"

#include <shlwapi.h>

namespace vornel {

bool GlobMatchFolded(const std::string& pattern, const std::string& name) {
  // The shell's own matching: "*" and "?", letter case ignored; it knows no "[...]" sets.
  return ::PathMatchSpecW(win::Widen(name).c_str(), win::Widen(pattern).c_str()) != FALSE;
}

} // namespace vornel
