#pragma once

// The check of the clean tree that comes before anything is written: one walk that notes every
// folder to mirror and every file to pack, with the names the client will read, and collects
// every reason the tree cannot be built. A tree with any problem is refused as a whole, so a
// refused build leaves no trace.

#include "app/NameTree.h"
#include "platform/CodePage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

class Exclusions;

struct WalkScope {
  std::string Root;          // the normalised clean root
  std::string CanonicalRoot; // the same folder with symbolic links resolved
  // The build's own output folder (canonical) when it lies inside the tree; it is left out of
  // every walk and count. Empty otherwise.
  std::string SkipDir;
  std::string CustomName;
  // The build's record of what it wrote (canonical) when it lies inside the tree; left out
  // like the output folder. Empty otherwise.
  std::string SkipFile = {};
  // The working folder's settings.ini (canonical) when it lies inside the tree. Empty otherwise.
  std::string OwnSettings = {};
  // The build's output folder (canonical) wherever it lies: no link may lead into it.
  std::string OutputDir = {};
  // The code page of the names the client reads; none: only plain ASCII names pass.
  CodePage Target = {};
  // Files and folders the operator leaves out; none when null.
  const Exclusions* Exclude = nullptr;
  // Links whose target lies outside the clean folder publish that target; otherwise such a link
  // is a problem of the tree.
  bool FollowLinks = false;
  // Count what lies below a folder left out too (for a dry run's report); otherwise it is not
  // looked at.
  bool CountExcluded = false;
};

// One reason the tree cannot be built. Path is relative to the clean root ("/"-separated), empty
// for what concerns the tree as a whole.
struct TreeProblem {
  std::string Path;
  std::string What;
};

// What the walk found. Names are kept once each in a tree of names (app/NameTree.h), sizes in
// a plain array, and the paths of a file are composed when they are asked for, so the memory a
// build holds per file stays a few dozen bytes.
class CleanTree {
public:
  explicit CleanTree(std::string canonicalRoot = {});

  std::int32_t FileCount = 0; // every file, the self file and its namesakes included
  bool SelfFound = false;     // a file named like the self file lies somewhere in the tree
  bool RootEmpty = false;     // the clean folder itself holds nothing at all
  // The self file's name as the client reads it, when it lies in the root.
  std::string ClientSelfName;
  // Folders below the root holding a file named like the self file ("/"-separated).
  std::vector<std::string> SelfNamesakeFolders;
  // Files and folders left out by the exclusion patterns; what lies below a folder left out is
  // counted only when the scope asks for it (WalkScope::CountExcluded).
  std::int32_t ExcludedFiles = 0;
  std::int32_t ExcludedFolders = 0;
  // Where the self file in the root really lies (as RealPath below), when it lies there.
  std::string SelfSourcePath;
  std::uint64_t SelfSize = 0;
  // The path that leaves the least room for the client's install folder (app/NameRules.h), and
  // that room.
  std::string TightestPath;
  int TightestRoom = 1 << 30;
  // What looks like a build's output or settings inside the tree ("/"-separated): an Upload
  // folder, its staging folder or records, the working folder's settings.ini. Published like
  // any other file, so the operator is warned.
  std::vector<std::string> Leftovers;
  // Every problem found, in walk order; the tree may be built only when there is none.
  std::vector<TreeProblem> Problems;

  // The files to pack, in packing order (depth-first, each folder's entries in enumeration
  // order); files named like the self file are left out. Below, file is an index into them.
  std::size_t PackCount() const { return files_.size(); }
  // Their sizes as the walk found them: the file packed must still have it.
  const std::vector<std::uint64_t>& Sizes() const { return sizes_; }
  // The path relative to the root, "/"-separated.
  void AppendRelativePath(std::size_t file, std::string& out) const;
  std::string RelativePath(std::size_t file) const;
  // The path as the manifest lists it: "\"-separated, in the client's code page.
  void AppendClientPath(std::size_t file, std::string& out) const;
  // The bare name as the client reads it: the archive entry's name.
  void AppendClientName(std::size_t file, std::string& out) const;
  // Where the file really lies: absolute, every link the walk accepted resolved, so it can be
  // opened without following any link.
  void AppendRealPath(std::size_t file, std::string& out) const;

  // The folders below the root, relative ("/"-separated), each listed after its contents, as
  // they are created.
  std::size_t FolderCount() const { return folders_.size(); }
  void AppendFolderPath(std::size_t folder, std::string& out) const;
  std::vector<std::string> FolderPaths() const;
  std::vector<std::string> RelativePaths() const; // every file's, in packing order

private:
  friend class TreeWalker; // the walk fills it

  std::string canonicalRoot_;
  NameTree names_;
  SparseNames clientNames_; // where the client's spelling differs from the name on disk
  SparseNames realPaths_;   // links the walk accepted, by where they lead
  std::vector<std::uint32_t> files_;
  std::vector<std::uint64_t> sizes_;
  std::vector<std::uint32_t> folders_;
};

// Walks the whole tree below scope.Root. Problems are collected, not raised; an error is raised
// only for what is no fault of the tree (the converter for the code page cannot be made).
CleanTree CheckCleanTree(const WalkScope& scope);

// The bare name at the end of a client path ("\"-separated).
std::string ClientBareName(const std::string& clientPath);

// One line for a problem: the path as the client spells it (with "\"), quoted, then what is
// wrong; a problem of the whole tree is its text alone.
std::string ProblemLine(const TreeProblem& problem);

// The problems one line each; after `shown` lines, one more saying how many are left out.
std::string ProblemListText(const std::vector<TreeProblem>& problems, std::size_t shown);

// Creates uploadDir + "/" + folder, with missing parents, for every folder of the tree, so empty
// folders are mirrored too. Raises when a folder cannot be made.
void MirrorFolders(const CleanTree& tree, const std::string& uploadDir);

} // namespace vornel
