#pragma once

// The first walk over the clean tree: counts the files, looks for the self file, notes every
// folder to mirror and every file to pack, and refuses names the manifest cannot carry. It
// writes nothing, so a refused tree leaves no trace.

#include <cstdint>
#include <stdexcept>
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
  // Files and folders the operator leaves out; none when null.
  const Exclusions* Exclude = nullptr;
};

struct CleanTree {
  std::int32_t FileCount = 0; // every file, the self file and its namesakes included
  bool SelfFound = false;
  // Relative paths ("/"-separated) in walk order: depth-first, each folder's entries in
  // enumeration order. Folders are listed after their contents, as they are created.
  std::vector<std::string> Folders;
  // The files to pack, in packing order; files named like the self file are left out.
  std::vector<std::string> Files;
  // Their sizes as the walk found them, for scheduling the largest first.
  std::vector<std::uint64_t> FileSizes;
  // Files and folders left out by the exclusion patterns (what lies below a folder left out is
  // not looked at).
  std::int32_t Excluded = 0;
};

// A name the manifest or an archive entry cannot carry (a line break, "\" or ":").
class EBadFileName : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Walks the tree below scope.Root. Raises EBadFileName naming the first unusable name.
CleanTree WalkCleanTree(const WalkScope& scope);

// Creates uploadDir + "/" + folder, with missing parents, for every folder of the tree, so empty
// folders are mirrored too. Raises when a folder cannot be made.
void MirrorFolders(const CleanTree& tree, const std::string& uploadDir);

} // namespace vornel
