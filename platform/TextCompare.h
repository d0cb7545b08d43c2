#pragma once

#include <string>
#include <string_view>

namespace vornel {

// Compares two names without regard to letter case: folded under the user's locale when both
// are valid UTF-8, with ASCII folding otherwise. True when they are equal.
bool SameTextIgnoreCase(const std::string& a, const std::string& b);

// Equal when the bytes match with the ASCII letters a-z and A-Z taken as the same.
bool SameAsciiText(std::string_view a, std::string_view b);

} // namespace vornel
