#include "app/ClosestWord.h"

#include <algorithm>
#include <cctype>

namespace vornel {

namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

} // namespace

std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates) {
  return *std::min_element(candidates.begin(), candidates.end(),
                           [&word](const std::string& a, const std::string& b) {
                             return EditDistance(word, a) < EditDistance(word, b);
                           });
}

} // namespace vornel
