#include "platform/StringList.h"

#include <algorithm>

namespace vornel {

std::string StringListText(const TStringList& lines) {
  std::size_t total = 0;
  for (const auto& line : lines)
    total += line.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

TStringList SplitLines(const std::string& text) {
  TStringList lines;
  const std::size_t end = std::min(text.find('\0'), text.size());
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < end) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    lines.emplace_back(text, start, i - start);
    ++i;
    if (c == '\r' && i < end && text[i] == '\n')
      ++i;
    start = i;
  }
  if (start < end)
    lines.emplace_back(text, start, end - start);
  return lines;
}

} // namespace vornel
