#include "app/UploadGuard.h"

#include "app/BuildPaths.h"
#include "platform/FileSystem.h"
#include "platform/NoFollow.h"

namespace vornel {

namespace {

bool IsBelow(const std::string& relative, const std::string& folder) {
  return relative.size() > folder.size() && relative.compare(0, folder.size(), folder) == 0 &&
         relative[folder.size()] == '/';
}

} // namespace

std::vector<TreeProblem> CheckUploadTargets(const std::string& uploadDir, const CleanTree& tree) {
  std::vector<TreeProblem> problems;
  std::vector<std::string> refused;
  const auto check = [&](const std::string& relative) {
    // What lies below a refused folder would be looked up through it: one line says enough.
    for (const std::string& folder : refused)
      if (IsBelow(relative, folder))
        return;
    const std::string path = JoinPath(uploadDir, relative);
    const PathKind kind = KindOfPath(path);
    if (kind == PathKind::Link) {
      refused.push_back(relative);
      problems.push_back(
          {"", "\"" + path + "\" is a symbolic link; the build would write through it"});
    } else if ((kind == PathKind::File || kind == PathKind::Other) &&
               relative != ManifestFileName) {
      // Not the build's own: publishing the mirrored folder in its place would drop it.
      refused.push_back(relative);
      problems.push_back(
          {"", "\"" + path + "\" is a file where the build puts a folder; move it away"});
    }
  };
  // Folders come after their contents in the tree's list; backwards, parents come first.
  std::string folder;
  for (std::size_t i = tree.FolderCount(); i-- > 0;) {
    folder.clear();
    tree.AppendFolderPath(i, folder);
    check(folder);
  }
  check(ManifestFileName);
  return problems;
}

} // namespace vornel
