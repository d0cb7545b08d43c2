#include "app/UploadGuard.h"

#include "app/BuildPaths.h"
#include "platform/FileSystem.h"
#include "platform/NoFollow.h"

namespace vornel {

namespace {

class TargetCheck {
public:
  TargetCheck(const std::string& uploadDir, std::vector<TreeProblem>& problems)
      : uploadDir_(uploadDir), problems_(problems) {}

  void Folder(const std::string& relative) {
    if (BelowRefused(relative))
      return;
    const PathKind kind = KindOfPath(JoinPath(uploadDir_, relative));
    if (kind == PathKind::Link)
      Problem(relative, "is a symbolic link; the build would write through it");
    else if (kind == PathKind::File || kind == PathKind::Other)
      Problem(relative, "is in the place of a folder the build mirrors");
  }

  void File(const std::string& relative) {
    if (BelowRefused(relative))
      return;
    const PathKind kind = KindOfPath(JoinPath(uploadDir_, relative));
    if (kind == PathKind::Link)
      Problem(relative, "is a symbolic link; the build would write through it");
    else if (kind == PathKind::Folder || kind == PathKind::Other)
      Problem(relative, "is in the place of a file the build writes");
  }

private:
  // What lies below a refused folder would be looked up through it: one line says enough.
  bool BelowRefused(const std::string& relative) const {
    for (const std::string& folder : refused_)
      if (relative.size() > folder.size() && relative.compare(0, folder.size(), folder) == 0 &&
          relative[folder.size()] == '/')
        return true;
    return false;
  }

  void Problem(const std::string& relative, const std::string& what) {
    refused_.push_back(relative);
    problems_.push_back({"", "\"" + JoinPath(uploadDir_, relative) + "\" " + what});
  }

  const std::string& uploadDir_;
  std::vector<TreeProblem>& problems_;
  std::vector<std::string> refused_;
};

} // namespace

std::vector<TreeProblem> CheckUploadTargets(const std::string& uploadDir, const CleanTree& tree,
                                            const std::string& selfName) {
  std::vector<TreeProblem> problems;
  TargetCheck check(uploadDir, problems);
  // Folders come after their contents in the tree's list; a parent is reported first.
  for (auto folder = tree.Folders.rbegin(); folder != tree.Folders.rend(); ++folder)
    check.Folder(*folder);
  check.File(ManifestFileName);
  check.File(selfName + ".zip");
  for (const std::string& file : tree.Files)
    check.File(file + ".zip");
  return problems;
}

} // namespace vornel
