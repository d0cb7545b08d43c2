#include "app/BuildPaths.h"

#include "platform/FileSystem.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace vornel {

std::string NormaliseCleanRoot(const std::string& folder) {
  if (folder.empty())
    return {};
  const std::string absolute =
      folder.front() == '/' ? folder : JoinPath(CurrentDirectory(), folder);
  // Drop empty and "." components; ".." stays, since undoing it by text would be wrong across a
  // symbolic link.
  std::string path;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t end = absolute.find('/', start);
    if (end == std::string::npos)
      end = absolute.size();
    const std::string_view part(absolute.data() + start, end - start);
    if (!part.empty() && part != ".") {
      path += '/';
      path += part;
    }
    start = end + 1;
  }
  return path.empty() ? "/" : path;
}

std::string CanonicalPath(const std::string& path) {
  if (path.empty())
    return {};
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string CanonicalUploadDir(const std::string& workDir) {
  const std::string upload = JoinPath(workDir, UploadFolderName);
  std::string canonical = CanonicalPath(upload);
  if (!canonical.empty())
    return canonical;
  const std::string parent = CanonicalPath(workDir);
  return parent.empty() ? std::string() : JoinPath(parent, UploadFolderName);
}

bool IsSameOrInside(const std::string& inner, const std::string& outer) {
  if (inner.empty() || outer.empty())
    return false;
  if (outer == "/")
    return inner.front() == '/';
  return inner == outer ||
         (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
          inner[outer.size()] == '/');
}

std::string ManifestPath(const std::string& relativePath) {
  std::string result = relativePath;
  for (char& c : result) {
    if (c == '/')
      c = '\\';
  }
  return result;
}

} // namespace vornel
