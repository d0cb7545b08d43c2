#pragma once

// For messages that suggest what the operator may have meant.

#include <string>
#include <vector>

namespace vornel {

// The candidate that takes the fewest letters changed, added or dropped to become word (letter
// case aside); the first such one on a tie. candidates must not be empty.
std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates);

} // namespace vornel
