#include "platform/FileSystem.h"

namespace vornel {

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty())
    return b;
  std::size_t aEnd = a.size();
  while (aEnd > 0 && IsPathSeparator(a[aEnd - 1]))
    --aEnd;
  std::size_t bStart = 0;
  while (bStart < b.size() && IsPathSeparator(b[bStart]))
    ++bStart;
  return a.substr(0, aEnd) + "/" + b.substr(bStart);
}

std::string BareName(const std::string& path) {
  std::size_t start = path.size();
  while (start > 0 && !IsPathSeparator(path[start - 1]))
    --start;
  return path.substr(start);
}

std::string ParentFolder(const std::string& path) {
  std::string parent = path.substr(0, path.size() - BareName(path).size());
  while (parent.size() > PathRootLength(parent) && IsPathSeparator(parent.back()))
    parent.pop_back();
  return parent.empty() ? "." : parent;
}

} // namespace vornel
