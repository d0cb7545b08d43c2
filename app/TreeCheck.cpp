#include "app/TreeCheck.h"

#include "app/BuildPaths.h"
#include "app/Exclusions.h"
#include "app/NameRules.h"
#include "app/ReuseRecord.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/FolderSwap.h"
#include "platform/TextCompare.h"
#include "zip/Pellum.h"

#include <map>
#include <memory>
#include <optional>

namespace vornel {

namespace {

constexpr const char* ChooseCodePage =
    "choose the client's code page with --codepage or \"CodePage\" in settings.ini";

// base joined with what follows, exactly one "/" between them (as JoinPath does).
void AppendBase(std::string_view base, std::string& out) {
  if (base.empty())
    return;
  std::size_t end = base.size();
  while (end > 0 && IsPathSeparator(base[end - 1]))
    --end;
  out.append(base.substr(0, end));
  out += '/';
}

} // namespace

class TreeWalker {
public:
  TreeWalker(const WalkScope& scope, CleanTree& tree) : scope_(scope), tree_(tree) {
    if (scope.Target.IsSet())
      names_ = std::make_unique<NameConverter>(scope.Target);
  }

  // dir is the folder as the walk reached it, real the same folder with every link resolved;
  // node is the folder in the tree's names.
  void Walk(const std::string& dir, const std::string& real, const std::string& relative,
            const std::string& client, std::uint32_t node) {
    std::vector<FoundFile> items;
    try {
      items = ListDirectory(dir, LinkedFolders::List);
    } catch (const std::exception& error) {
      Problem(relative, std::string("the folder cannot be listed (") + error.what() + ")");
      return;
    }
    if (relative.empty() && items.empty())
      tree_.RootEmpty = true;
    ancestors_.push_back(real);
    // Names already met in this folder, by their letters without regard to case.
    std::map<std::u32string, std::string> seen;
    std::map<std::u32string, std::string> folders;
    std::vector<std::string> files;
    for (const FoundFile& item : items) {
      const std::string itemRelative = Join(relative, item.Name, '/');
      // Every system marks folders by their attribute; the kind tells the rest apart.
      const EntryKind kind =
          (item.Attributes & attr::Directory) != 0 ? EntryKind::Folder : item.Kind;
      const bool folder = kind == EntryKind::Folder;
      // What the operator leaves out is neither packed nor checked.
      if (scope_.Exclude != nullptr && scope_.Exclude->Match(itemRelative, folder)) {
        ++(folder ? tree_.ExcludedFolders : tree_.ExcludedFiles);
        if (folder && !item.Link && scope_.CountExcluded)
          CountExcludedBelow(JoinPath(dir, item.Name));
        continue;
      }
      const bool resolvable = item.Link && (folder || kind == EntryKind::File);
      const std::string itemReal =
          resolvable ? CanonicalPath(JoinPath(dir, item.Name)) : JoinPath(real, item.Name);
      if (!item.Link && IsOwnOutput(itemReal))
        continue;
      if (!item.Link && IsOwnRecord(itemReal))
        continue;
      const std::string clientName = ClientName(item.Name, itemRelative);
      const std::string itemClient = Join(client, clientName, '\\');
      const std::u32string key = CaseFoldKey(item.Name);
      if (const auto [other, fresh] = seen.emplace(key, item.Name); !fresh)
        Problem(itemRelative, "differs from \"" + Join(relative, other->second, '/') +
                                  "\" only in letter case; Windows holds only one of them");
      if (resolvable && !AcceptLink(item, itemReal, itemRelative)) {
        if (folder)
          folders.emplace(key, item.Name);
        continue;
      }
      if (folder || kind == EntryKind::File) {
        CheckPathLength(itemRelative, client.size(), itemClient.size(), folder);
        NoteLeftover(item.Name, itemRelative, itemReal, folder);
      }
      switch (kind) {
      case EntryKind::Folder:
        folders.emplace(key, item.Name);
        CheckFolder(JoinPath(dir, item.Name), itemReal, itemRelative, itemClient,
                    Keep(node, item.Name, clientName, resolvable ? &itemReal : nullptr));
        break;
      case EntryKind::File:
        files.push_back(item.Name);
        CheckFile(dir, item, itemReal, itemRelative, itemClient, clientName, node, resolvable);
        break;
      case EntryKind::DanglingLink:
        Problem(itemRelative, "a symbolic link whose target does not exist");
        break;
      case EntryKind::LinkLoop:
        Problem(itemRelative, "a symbolic link that leads back to itself");
        break;
      case EntryKind::Other:
        Problem(itemRelative, "neither a file nor a folder (a pipe, socket or device)");
        break;
      }
    }
    // "foo" is packed into "foo.zip", which must not be a folder's place in Upload/ too.
    for (const std::string& file : files) {
      const auto folder = folders.find(CaseFoldKey(file + ".zip"));
      if (folder != folders.end())
        Problem(Join(relative, file, '/'), "its archive would take the place of the folder \"" +
                                               Join(relative, folder->second, '/') +
                                               "\" in Upload");
    }
    if (relative.empty()) {
      const auto folder = folders.find(CaseFoldKey(ManifestFileName));
      if (folder != folders.end())
        Problem(folder->second, std::string("the folder would take the place of ") +
                                    ManifestFileName + " in Upload");
    }
    ancestors_.pop_back();
  }

private:
  static std::string Join(const std::string& parent, const std::string& name, char separator) {
    return parent.empty() ? name : parent + separator + name;
  }

  // Notes a file or folder in the tree's names, with the client's spelling and the resolved
  // link only where they differ from what the name alone gives.
  std::uint32_t Keep(std::uint32_t parent, const std::string& name, const std::string& clientName,
                     const std::string* linkTarget) {
    const std::uint32_t item = tree_.names_.Add(parent, name);
    if (clientName != name)
      tree_.clientNames_.Set(item, clientName);
    if (linkTarget != nullptr)
      tree_.realPaths_.Set(item, *linkTarget);
    return item;
  }

  void Problem(const std::string& relative, std::string what) {
    tree_.Problems.push_back({relative, std::move(what)});
  }

  // Everything below a folder left out, links not followed; what cannot be listed is not
  // counted, as it is not published either.
  void CountExcludedBelow(const std::string& dir) {
    std::vector<FoundFile> items;
    try {
      items = ListDirectory(dir);
    } catch (const std::exception&) {
      return;
    }
    for (const FoundFile& item : items) {
      if ((item.Attributes & attr::Directory) != 0) {
        ++tree_.ExcludedFolders;
        CountExcludedBelow(JoinPath(dir, item.Name));
      } else
        ++tree_.ExcludedFiles;
    }
  }

  // One problem for the outermost item too long: what lies below it is no news.
  void CheckPathLength(const std::string& relative, std::size_t parentLength, std::size_t length,
                       bool folder) {
    if (parentLength > 0 && InstallFolderRoom(parentLength, true) < ShortestInstallFolder)
      return;
    const int room = InstallFolderRoom(length, folder);
    if (room < ShortestInstallFolder)
      Problem(relative, "the path is " + std::to_string(length) +
                            " characters long; the client cannot create it under any install "
                            "folder (Windows " +
                            (folder ? "folder paths hold at most 247" : "paths hold at most 259") +
                            " characters)");
    else if (room < tree_.TightestRoom) {
      tree_.TightestRoom = room;
      tree_.TightestPath = relative;
    }
  }

  // A build's output or records, or the working folder's settings, met in the tree (the build's
  // own output was passed over before).
  void NoteLeftover(const std::string& name, const std::string& relative, const std::string& real,
                    bool folder) {
    const std::string upload = UploadFolderName;
    const bool leftover = folder
                              ? name == upload || name == upload + StagingSuffix
                              : name == ReuseRecordFileName || name == upload + BuildRecordSuffix ||
                                    (!scope_.OwnSettings.empty() && real == scope_.OwnSettings);
    if (leftover)
      tree_.Leftovers.push_back(relative + (folder ? "/" : ""));
  }

  // The name as the client reads it, after the checks that it can be created and written in the
  // client's code page. A name that fails them is kept as it is: the tree is refused anyway.
  std::string ClientName(const std::string& name, const std::string& relative) {
    if (const auto problem = ClientNameProblem(name))
      Problem(relative, *problem);
    if (!names_) {
      if (!IsPlainAscii(name))
        Problem(relative, std::string("the name is not plain ASCII and no code page is chosen "
                                      "for the client; ") +
                              ChooseCodePage);
      return name;
    }
    if (auto converted = names_->ToTarget(name)) {
      // In a double-byte code page a character's second byte may be "\" or "|", which the
      // manifest and the archive would take for a separator.
      if (converted->find_first_of("<>:\"/\\|?*") != std::string::npos && !ClientNameProblem(name))
        Problem(relative, "written in code page " + scope_.Target.Name() +
                              ", the name holds a byte that reads as \"\\\" or \"|\"");
      return std::move(*converted);
    }
    Problem(relative, "the name cannot be written in code page " + scope_.Target.Name() + "; " +
                          ChooseCodePage);
    return name;
  }

  // A link the walk may follow: into the tree, or out of it when asked to; never into the
  // build's own output, never back into a folder being walked.
  bool AcceptLink(const FoundFile& item, const std::string& target, const std::string& relative) {
    if (target.empty()) {
      Problem(relative, "a symbolic link whose target cannot be resolved");
      return false;
    }
    if (IsSameOrInside(target, scope_.OutputDir) || IsSameOrInside(target, scope_.SkipDir) ||
        IsSameOrInside(target, StagingOf(scope_.OutputDir)) || IsOwnRecord(target)) {
      Problem(relative, "a symbolic link into the build's own output (\"" + target + "\")");
      return false;
    }
    if (!IsSameOrInside(target, scope_.CanonicalRoot) && !scope_.FollowLinks) {
      Problem(relative, "a symbolic link to \"" + target +
                            "\", outside the clean folder; --follow-links (FollowLinks=1 in "
                            "settings.ini) publishes what such links name");
      return false;
    }
    if (item.Kind == EntryKind::Folder)
      for (const std::string& ancestor : ancestors_)
        if (IsSameOrInside(ancestor, target)) {
          Problem(relative, "a symbolic link to \"" + target +
                                "\", a folder that holds it: the walk would never end");
          return false;
        }
    return true;
  }

  void CheckFolder(const std::string& path, const std::string& real, const std::string& relative,
                   const std::string& client, std::uint32_t node) {
    // A folder that cannot be listed would look empty and its files would silently go unlisted.
    if (!CanListFolder(path))
      Problem(relative, "the folder cannot be listed (permission denied)");
    else
      Walk(path, real, relative, client, node);
    tree_.folders_.push_back(node);
  }

  void CheckFile(const std::string& dir, const FoundFile& item, const std::string& real,
                 const std::string& relative, const std::string& client,
                 const std::string& clientName, std::uint32_t parent, bool link) {
    ++tree_.FileCount;
    if (!MayReadFile(JoinPath(dir, item.Name)))
      Problem(relative, "the file cannot be read (permission denied)");
    if (!FitsNewArchive(item.Size, clientName.size()))
      Problem(relative, "the file is too large to pack (an archive must stay below 2 GiB)");
    if (item.Name != scope_.CustomName) {
      tree_.files_.push_back(Keep(parent, item.Name, clientName, link ? &real : nullptr));
      tree_.sizes_.push_back(item.Size);
      return;
    }
    // Counted at any depth; only the root's copy is ever packed.
    tree_.SelfFound = true;
    if (relative == item.Name) {
      tree_.ClientSelfName = client;
      tree_.SelfSourcePath = real;
      tree_.SelfSize = item.Size;
    } else
      tree_.SelfNamesakeFolders.push_back(relative.substr(0, relative.size() - item.Name.size()));
  }

  // The output folder and the staging folder beside it, where a build keeps unfinished work.
  bool IsOwnOutput(const std::string& real) const {
    return !scope_.SkipDir.empty() && (real == scope_.SkipDir || real == StagingOf(scope_.SkipDir));
  }
  // Both records a build keeps beside its output.
  bool IsOwnRecord(const std::string& real) const {
    return !scope_.SkipFile.empty() &&
           (real == scope_.SkipFile || real == BuildRecordBeside(scope_.SkipFile));
  }
  static std::string StagingOf(const std::string& output) {
    return output.empty() ? std::string() : output + StagingSuffix;
  }

  const WalkScope& scope_;
  CleanTree& tree_;
  std::unique_ptr<NameConverter> names_;
  std::vector<std::string> ancestors_; // real paths of the folders being walked
};

CleanTree::CleanTree(std::string canonicalRoot) : canonicalRoot_(std::move(canonicalRoot)) {}

void CleanTree::AppendRelativePath(std::size_t file, std::string& out) const {
  names_.AppendPath(NameTree::Root, files_[file], '/', out);
}

std::string CleanTree::RelativePath(std::size_t file) const {
  std::string path;
  AppendRelativePath(file, path);
  return path;
}

void CleanTree::AppendClientPath(std::size_t file, std::string& out) const {
  if (clientNames_.Empty()) {
    names_.AppendPath(NameTree::Root, files_[file], '\\', out);
    return;
  }
  names_.AppendPath(NameTree::Root, files_[file], '\\', out, [this](std::uint32_t item) {
    std::string_view name;
    return clientNames_.Find(item, name) ? name : names_.Name(item);
  });
}

void CleanTree::AppendClientName(std::size_t file, std::string& out) const {
  std::string_view name;
  out.append(clientNames_.Find(files_[file], name) ? name : names_.Name(files_[file]));
}

void CleanTree::AppendRealPath(std::size_t file, std::string& out) const {
  // From the nearest link the walk resolved on the way up, else from the root.
  const std::uint32_t item = files_[file];
  std::uint32_t top = item;
  std::string_view base = canonicalRoot_;
  if (!realPaths_.Empty()) {
    for (; top != NameTree::Root; top = names_.Parent(top))
      if (realPaths_.Find(top, base))
        break;
    if (top == NameTree::Root)
      base = canonicalRoot_;
    if (top == item) {
      out.append(base);
      return;
    }
  } else
    top = NameTree::Root;
  AppendBase(base, out);
  names_.AppendPath(top, item, '/', out);
}

void CleanTree::AppendFolderPath(std::size_t folder, std::string& out) const {
  names_.AppendPath(NameTree::Root, folders_[folder], '/', out);
}

std::vector<std::string> CleanTree::FolderPaths() const {
  std::vector<std::string> paths(folders_.size());
  for (std::size_t i = 0; i < paths.size(); ++i)
    AppendFolderPath(i, paths[i]);
  return paths;
}

std::vector<std::string> CleanTree::RelativePaths() const {
  std::vector<std::string> paths(files_.size());
  for (std::size_t i = 0; i < paths.size(); ++i)
    AppendRelativePath(i, paths[i]);
  return paths;
}

CleanTree CheckCleanTree(const WalkScope& scope) {
  CleanTree tree(scope.CanonicalRoot);
  TreeWalker(scope, tree).Walk(scope.Root, scope.CanonicalRoot, "", "", NameTree::Root);
  return tree;
}

std::string ClientBareName(const std::string& clientPath) {
  const std::size_t cut = clientPath.rfind('\\');
  return cut == std::string::npos ? clientPath : clientPath.substr(cut + 1);
}

std::string ProblemLine(const TreeProblem& problem) {
  if (problem.Path.empty())
    return problem.What;
  return "\"" + PrintableName(problem.Path) + "\": " + problem.What;
}

std::string ProblemListText(const std::vector<TreeProblem>& problems, std::size_t shown) {
  std::string text;
  for (std::size_t i = 0; i < problems.size() && i < shown; ++i) {
    if (i > 0)
      text += '\n';
    text += ProblemLine(problems[i]);
  }
  if (problems.size() > shown) {
    const std::size_t more = problems.size() - shown;
    text += "\nand " + std::to_string(more) + " more problem" + (more == 1 ? "" : "s");
  }
  return text;
}

void MirrorFolders(const CleanTree& tree, const std::string& uploadDir) {
  std::string target;
  const auto compose = [&](std::size_t folder) {
    target.clear();
    AppendBase(uploadDir, target);
    tree.AppendFolderPath(folder, target);
  };
  // The folders are listed after their contents: backwards, every parent comes first, so each
  // folder is one call, and the one that fails is named with the system's reason.
  std::size_t made = tree.FolderCount();
  try {
    for (; made > 0; --made) {
      compose(made - 1);
      MakeFolder(target);
    }
  } catch (...) {
    // No trail of empty folders: those of the tree that are empty go again, children first.
    for (std::size_t i = 0; i < tree.FolderCount(); ++i) {
      compose(i);
      RemoveEmptyDirectory(target);
    }
    throw;
  }
}

} // namespace vornel
