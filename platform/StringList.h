#pragma once

#include <string>
#include <vector>

namespace vornel {

// An ordered list of 8-bit strings. Its text form is its lines, each followed by CR LF.
using TStringList = std::vector<std::string>;

std::string StringListText(const TStringList& lines);
// Splits text into lines at CR LF, a lone CR or a lone LF; a zero byte ends the text.
TStringList SplitLines(const std::string& text);

} // namespace vornel
