#include "platform/FileSystem.h"
#include "platform/FolderSwap.h"

#include <vector>

namespace vornel {

void MakeFolders(const std::string& path) {
  std::vector<std::string> made;
  try {
    const std::size_t root = PathRootLength(path);
    for (std::size_t i = root; i <= path.size(); ++i) {
      if (i < path.size() && !IsPathSeparator(path[i]))
        continue;
      if (i == root || IsPathSeparator(path[i - 1]))
        continue; // the root itself, or a doubled separator
      const std::string level = path.substr(0, i);
      if (DirectoryExists(level))
        continue;
      MakeFolder(level);
      made.push_back(level);
    }
  } catch (...) {
    for (auto level = made.rbegin(); level != made.rend(); ++level)
      RemoveEmptyDirectory(*level);
    throw;
  }
}

} // namespace vornel
