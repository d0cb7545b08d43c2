#include "app/TreeWalk.h"

#include "app/BuildPaths.h"
#include "app/Exclusions.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"

namespace vornel {

namespace {

// Shows control characters of a refused name so the message stays on one line.
std::string Printable(const std::string& name) {
  std::string shown;
  for (char c : name) {
    if (c == '\r')
      shown += "\\r";
    else if (c == '\n')
      shown += "\\n";
    else
      shown += c;
  }
  return shown;
}

void CheckName(const std::string& dir, const std::string& name) {
  // CR and LF would split the manifest line, "\" is its path separator, and the archive keeps
  // only what follows the last "\" or ":" of a name.
  if (name.find_first_of("\r\n\\:") == std::string::npos)
    return;
  throw EBadFileName("The name \"" + Printable(name) + "\" in \"" + dir +
                     "\" contains a line break, \"\\\" or \":\" and cannot be packed");
}

class Walker {
public:
  Walker(const WalkScope& scope, CleanTree& tree) : scope_(scope), tree_(tree) {}

  void Walk(const std::string& dir, const std::string& relative) {
    for (const FoundFile& item : ListDirectory(dir)) {
      const std::string path = JoinPath(dir, item.Name);
      const std::string itemRelative = relative.empty() ? item.Name : relative + "/" + item.Name;
      if (scope_.Exclude != nullptr &&
          scope_.Exclude->Match(itemRelative, (item.Attributes & attr::Directory) != 0)) {
        ++tree_.Excluded;
        continue;
      }
      CheckName(dir, item.Name);
      if ((item.Attributes & attr::Directory) != 0) {
        if (IsOwnOutput(itemRelative))
          continue;
        // A folder that cannot be listed would look empty and its files would silently go
        // unlisted.
        if (!CanListFolder(path))
          throw std::runtime_error("Cannot read the folder \"" + path + "\"");
        Walk(path, itemRelative);
        tree_.Folders.push_back(itemRelative);
        continue;
      }
      if (!scope_.SkipFile.empty() &&
          SamePath(JoinPath(scope_.CanonicalRoot, itemRelative), scope_.SkipFile))
        continue;
      ++tree_.FileCount;
      if (item.Name == scope_.CustomName)
        tree_.SelfFound = true; // at any depth; only the root's copy is ever packed
      else {
        tree_.Files.push_back(itemRelative);
        tree_.FileSizes.push_back(item.Size);
      }
    }
  }

private:
  // Folders reached by the walk are real folders (listings leave out links to folders), so the
  // canonical path of one is the canonical root followed by its relative path.
  bool IsOwnOutput(const std::string& relative) const {
    return !scope_.SkipDir.empty() &&
           SamePath(JoinPath(scope_.CanonicalRoot, relative), scope_.SkipDir);
  }

  const WalkScope& scope_;
  CleanTree& tree_;
};

} // namespace

CleanTree WalkCleanTree(const WalkScope& scope) {
  CleanTree tree;
  Walker(scope, tree).Walk(scope.Root, "");
  return tree;
}

void MirrorFolders(const CleanTree& tree, const std::string& uploadDir) {
  for (const std::string& folder : tree.Folders) {
    const std::string target = JoinPath(uploadDir, folder);
    if (!ForceDirectories(target))
      throw std::runtime_error("Cannot create the folder \"" + target + "\"");
  }
}

} // namespace vornel
