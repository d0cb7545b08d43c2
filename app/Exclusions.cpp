#include "app/Exclusions.h"

#include "platform/Glob.h"

#include <algorithm>

namespace vornel {

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos)
      return parts;
    start = end + 1;
  }
}

// Pattern parts against path parts; "**" takes any number of path parts, and at the end of a
// pattern at least one ("logs/**" is what lies below logs, not logs itself).
bool MatchParts(const std::vector<std::string>& pattern, std::size_t p,
                const std::vector<std::string>& path, std::size_t q) {
  if (p == pattern.size())
    return q == path.size();
  if (pattern[p] == "**") {
    if (p + 1 == pattern.size())
      return q < path.size();
    for (std::size_t skip = q; skip <= path.size(); ++skip) {
      if (MatchParts(pattern, p + 1, path, skip))
        return true;
    }
    return false;
  }
  return q < path.size() && GlobMatchFolded(pattern[p], path[q]) &&
         MatchParts(pattern, p + 1, path, q + 1);
}

} // namespace

Exclusions::Exclusions(const std::vector<std::string>& patterns) {
  for (const std::string& written : patterns) {
    std::string text = Trim(written);
    std::replace(text.begin(), text.end(), '\\', '/');
    Pattern pattern;
    pattern.Text = Trim(written);
    while (!text.empty() && text.back() == '/') {
      pattern.FoldersOnly = true;
      text.pop_back();
    }
    if (!text.empty() && text.front() == '/') {
      pattern.Anchored = true;
      text.erase(0, text.find_first_not_of('/'));
    }
    if (text.empty())
      continue;
    for (std::string& part : SplitOn(text, '/')) {
      if (!part.empty())
        pattern.Parts.push_back(std::move(part));
    }
    pattern.Anchored = pattern.Anchored || pattern.Parts.size() > 1;
    patterns_.push_back(std::move(pattern));
  }
}

std::vector<std::string> Exclusions::SplitSetting(const std::string& value) {
  return SplitOn(value, ';');
}

std::optional<std::string> Exclusions::Match(const std::string& relativePath, bool folder) const {
  if (patterns_.empty())
    return std::nullopt;
  const std::vector<std::string> path = SplitOn(relativePath, '/');
  for (const Pattern& pattern : patterns_) {
    if (pattern.FoldersOnly && !folder)
      continue;
    const bool matched = pattern.Anchored ? MatchParts(pattern.Parts, 0, path, 0)
                                          : MatchParts(pattern.Parts, 0, {path.back()}, 0);
    if (matched)
      return pattern.Text;
  }
  return std::nullopt;
}

} // namespace vornel
