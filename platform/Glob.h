#pragma once

#include <string>

namespace vornel {

// True when name (one path component) matches pattern ("*", "?" and "[...]" as in a shell),
// letter case ignored as on the client's file system.
bool GlobMatchFolded(const std::string& pattern, const std::string& name);

} // namespace vornel
