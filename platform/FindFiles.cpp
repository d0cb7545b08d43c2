#include "platform/FindFiles.h"

#include <algorithm>

namespace vornel {

bool EnumerationOrderLess(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z')
      x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z')
      y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y)
      return x < y;
  }
  if (a.size() != b.size())
    return a.size() < b.size();
  return a.compare(b) < 0; // same letters in another case: the raw bytes decide
}

} // namespace vornel
