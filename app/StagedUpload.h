#pragma once

// A build writes into a staging folder that no client reads, and only a whole build replaces the
// live upload folder with it, in one short last step: where the system can swap two folders at
// once, the staging folder is completed with hard links to whatever of the live folder it keeps
// and the two are exchanged, so a client sees the old set or the new one and never a mix; where
// it cannot, the new archives are renamed into the live folder one by one, updates.lst last.
// A build that stops or fails leaves the live folder as it was and its work in the staging
// folder, for the next build with --reuse.

#include "app/BuildPaths.h"
#include "app/UploadScan.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vornel {

class FolderLock;

// The live folder a build replaces, its staging folder, and how the one becomes the other.
struct UploadPlaces {
  std::string Live;    // the folder clients read: Upload, or the folder a link named Upload names
  std::string Staging; // where the build writes until it is whole
  bool Inside = false; // the staging folder lies inside Live (Live is a mount point)
};

// Where the build of uploadDir (workDir + "/Upload") writes. Raises std::runtime_error with the
// operator's message when the places cannot be used (a link that names nothing, a staging name
// taken by a file or a link).
UploadPlaces LocateUpload(const std::string& uploadDir);

// How a whole build reached the clients.
struct PublishResult {
  bool AtOnce = true; // the folders were exchanged (or the live folder did not exist yet)
  std::string Reason; // why not, for the one note on standard error
  std::int32_t PrunedArchives = 0;
  std::int32_t PrunedFolders = 0;
  // The set is live, but what the staging folder held afterwards could not all be removed (the
  // system's reason); the next build removes it.
  std::string Leftover;
};

class StagedUpload {
public:
  explicit StagedUpload(UploadPlaces places);
  ~StagedUpload();
  StagedUpload(const StagedUpload&) = delete;
  StagedUpload& operator=(const StagedUpload&) = delete;

  const UploadPlaces& Places() const { return places_; }

  // Takes the lock of the upload folder (std::runtime_error when another build holds it) and
  // makes the staging folder: empty, or with keepEarlierWork what a stopped build left there
  // (the caller weeds it). Nothing of the live folder changes.
  void Begin(bool keepEarlierWork);

  // Makes the staging folder live. live is what the live folder held before the build (its scan,
  // archives the build produces left out of Archives unless they are to be kept from the live
  // folder: keptFromLive); stale is what no file of the tree produces, removed when prune.
  PublishResult Publish(const UploadContents& live, const std::vector<std::string>& keptFromLive,
                        const StaleSet& stale, bool prune);

private:
  bool LiveAlreadyTheSame(const UploadContents& live, const StaleSet& stale, bool prune) const;
  bool StagingMatchesLive(const std::string& relative) const;
  bool CompleteWithLinks(const UploadContents& live, const std::vector<std::string>& keptFromLive,
                         const StaleSet& stale, bool prune, PublishResult& result) const;
  void RenameInto(const StaleSet& stale, bool prune, PublishResult& result) const;
  void RemoveLeftover(PublishResult& result) const;

  UploadPlaces places_;
  std::unique_ptr<FolderLock> lock_;
};

} // namespace vornel
