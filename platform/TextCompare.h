#pragma once

#include <string>

namespace vornel {

// Compares two names without regard to letter case: folded under the user's locale when both
// are valid UTF-8, with ASCII folding otherwise. True when they are equal.
bool SameTextIgnoreCase(const std::string& a, const std::string& b);

} // namespace vornel
