#include "app/TreeCompare.h"

#include "app/BuildPaths.h"
#include "app/Exclusions.h"
#include "app/ReuseRecord.h"
#include "app/TreeCheck.h"
#include "crc/Crc32.h"
#include "platform/FileSystem.h"

#include <map>
#include <stdexcept>

namespace vornel {

namespace {

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

WalkScope ScopeFor(const std::string& cleanDir, const std::string& uploadDir,
                   const std::string& selfName) {
  const std::string root = NormaliseCleanRoot(cleanDir);
  if (root.empty() || !DirectoryExists(root))
    throw std::invalid_argument("The clean folder \"" + (root.empty() ? cleanDir : root) +
                                "\" does not exist");
  WalkScope scope{root, CanonicalPath(root), "", selfName, ""};
  const std::string canonicalUpload = CanonicalPath(uploadDir);
  if (IsSameOrInside(canonicalUpload, scope.CanonicalRoot)) {
    scope.SkipDir = canonicalUpload;
    scope.SkipFile = JoinPath(ParentOf(canonicalUpload), ReuseRecordFileName);
  }
  return scope;
}

} // namespace

TreeComparison CompareWithTree(const ParsedManifest& parsed, const std::string& cleanDir,
                               const std::string& uploadDir, const std::string& selfName,
                               const std::vector<std::string>& exclude) {
  std::string self = selfName;
  for (const ListedArchive& listed : parsed.Archives) {
    if (listed.IsSelf)
      self = listed.RelativePath;
  }
  const Exclusions exclusions(exclude);
  WalkScope scope = ScopeFor(cleanDir, uploadDir, self);
  scope.Exclude = &exclusions;
  const CleanTree tree = CheckCleanTree(scope);

  TreeComparison comparison;
  const bool rootSelf = FileExists(JoinPath(scope.Root, self));
  comparison.Namesakes =
      tree.FileCount - static_cast<std::int32_t>(tree.PackCount()) - (rootSelf ? 1 : 0);

  std::map<std::string, bool> inTree; // relative path -> listed
  for (std::size_t i = 0; i < tree.PackCount(); ++i)
    inTree.emplace(tree.RelativePath(i), false);
  if (rootSelf)
    inTree.emplace(self, false);
  for (const ListedArchive& listed : parsed.Archives) {
    const auto found = inTree.find(listed.RelativePath);
    if (found == inTree.end()) {
      comparison.Problems.push_back(listed.RelativePath +
                                    ": listed, but no longer in the clean folder");
      continue;
    }
    found->second = true;
    if (FileCrc32(JoinPath(scope.Root, listed.RelativePath)) != listed.Crc)
      comparison.Problems.push_back(listed.RelativePath + ": changed since the build");
  }
  for (const auto& [file, listed] : inTree) {
    if (!listed)
      comparison.Problems.push_back(file + ": in the clean folder, but not listed");
  }
  return comparison;
}

} // namespace vornel
