#include "app/BuildPaths.h"

#include "platform/FileSystem.h"

#include <string_view>

namespace vornel {

std::string NormaliseCleanRoot(const std::string& folder) {
  if (folder.empty())
    return {};
  const std::string absolute =
      PathRootLength(folder) > 0 ? folder : JoinPath(CurrentDirectory(), folder);
  // The root keeps its form ("/", "C:/"); after it, empty and "." components go. ".." stays,
  // since undoing it by text would be wrong across a symbolic link.
  const std::size_t rootLength = PathRootLength(absolute);
  std::string path = absolute.substr(0, rootLength);
  for (char& c : path) {
    if (IsPathSeparator(c))
      c = '/';
  }
  std::size_t start = rootLength;
  while (start <= absolute.size()) {
    std::size_t end = start;
    while (end < absolute.size() && !IsPathSeparator(absolute[end]))
      ++end;
    const std::string_view part(absolute.data() + start, end - start);
    if (!part.empty() && part != ".") {
      if (!path.empty() && path.back() != '/')
        path += '/';
      path += part;
    }
    start = end + 1;
  }
  return path;
}

bool NamesShellItem(const std::string& path) {
  return path.starts_with("::");
}

std::string CanonicalPath(const std::string& path) {
  return ResolvedPath(path);
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
  if (inner.empty() || outer.empty() || inner.size() < outer.size() ||
      !SamePath(inner.substr(0, outer.size()), outer))
    return false;
  // A root such as "/" ends in its separator; any other folder must be followed by one.
  return inner.size() == outer.size() || IsPathSeparator(outer.back()) ||
         IsPathSeparator(inner[outer.size()]);
}

std::string BuildRecordBeside(const std::string& siblingPath) {
  const std::string name = BareName(siblingPath);
  return siblingPath.substr(0, siblingPath.size() - name.size()) + UploadFolderName +
         BuildRecordSuffix;
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
