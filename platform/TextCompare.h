#pragma once

#include <string>
#include <string_view>

namespace vornel {

// Compares two names without regard to letter case: folded under the user's locale when both
// are valid UTF-8, with ASCII folding otherwise. True when they are equal.
bool SameTextIgnoreCase(const std::string& a, const std::string& b);

// A key that two names share exactly when SameTextIgnoreCase holds for them under simple
// upper-case folding: each character of valid UTF-8 folded by the user's locale, other bytes
// folded as ASCII. For finding names that only letter case tells apart.
std::u32string CaseFoldKey(const std::string& name);

// Equal when the bytes match with the ASCII letters a-z and A-Z taken as the same.
bool SameAsciiText(std::string_view a, std::string_view b);

} // namespace vornel
