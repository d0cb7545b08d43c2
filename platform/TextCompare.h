#pragma once

#include <optional>
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

// The system's part of CaseFoldKey: each character upper-cased as the user's locale (or the file
// system) folds it; nothing when the name is no valid UTF-8.
std::optional<std::u32string> LocaleUpperCaseKey(const std::string& name);

// Equal when the bytes match with the ASCII letters a-z and A-Z taken as the same.
bool SameAsciiText(std::string_view a, std::string_view b);

// The text with A-Z as a-z; every other byte as it is, whatever the locale.
std::string AsciiLower(std::string_view text);

} // namespace vornel
