#include "app/StagedUpload.h"

#include "app/BuildPaths.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/FolderSwap.h"
#include "platform/NoFollow.h"
#include "platform/Stream.h"

#include <stdexcept>

namespace vornel {

namespace {

// Everything below the staging folder moves into the live one, folders first, each file by a
// rename over what lies at its name; the manifest is left for last.
void RenameTree(const std::string& from, const std::string& to, const std::string& relative) {
  const std::string source = relative.empty() ? from : JoinPath(from, relative);
  for (const FoundFile& item : ListDirectory(source, LinkedFolders::List)) {
    const std::string child = relative.empty() ? item.Name : relative + "/" + item.Name;
    if (relative.empty() && item.Name == ManifestFileName)
      continue;
    if ((item.Attributes & attr::Directory) != 0 && !item.Link) {
      MakeFolder(JoinPath(to, child));
      RenameTree(from, to, child);
    } else {
      RenameFile(JoinPath(from, child), JoinPath(to, child));
    }
  }
}

// True when the two files hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b) {
  FileStream first(a, FileStream::Mode::OpenRead);
  FileStream second(b, FileStream::Mode::OpenRead);
  if (first.Size() != second.Size())
    return false;
  std::string left(IoBlockSize, '\0');
  std::string right(IoBlockSize, '\0');
  for (;;) {
    const std::size_t got = first.Read(left.data(), left.size());
    if (got == 0)
      return second.Read(right.data(), 1) == 0;
    second.ReadBuffer(right.data(), got);
    if (left.compare(0, got, right, 0, got) != 0)
      return false;
  }
}

} // namespace

UploadPlaces LocateUpload(const std::string& uploadDir) {
  UploadPlaces places;
  places.Live = uploadDir;
  switch (KindOfPath(uploadDir)) {
  case PathKind::Link: {
    // A link to the served folder stays; what it names changes as a whole.
    const std::string target = ResolvedPath(uploadDir);
    if (target.empty() || !DirectoryExists(target))
      throw std::runtime_error("\"" + uploadDir +
                               "\" is a symbolic link to no folder; make it name the folder "
                               "clients read, or remove it");
    places.Live = target;
    break;
  }
  case PathKind::File:
  case PathKind::Other:
    throw std::runtime_error("\"" + uploadDir +
                             "\" is not a folder; move it away so the build can make the folder");
  case PathKind::Missing:
  case PathKind::Folder:
    break;
  }
  places.Inside = DirectoryExists(places.Live) && IsMountPoint(places.Live);
  places.Staging =
      places.Inside ? JoinPath(places.Live, InnerStagingName) : places.Live + StagingSuffix;
  const PathKind staging = KindOfPath(places.Staging);
  if (staging != PathKind::Missing && staging != PathKind::Folder)
    throw std::runtime_error("\"" + places.Staging +
                             "\" is in the way: the build keeps its unfinished work there, and it "
                             "is a file or a link; move it away");
  return places;
}

StagedUpload::StagedUpload(UploadPlaces places) : places_(std::move(places)) {}

StagedUpload::~StagedUpload() = default;

void StagedUpload::Begin(bool keepEarlierWork) {
  const std::string parent = ParentFolder(places_.Staging);
  if (!DirectoryExists(parent))
    MakeFolders(parent); // raises naming the level that cannot be made, with the system's reason
  lock_ = TryLockUploadFolder(parent, BareName(places_.Live));
  if (!lock_)
    throw std::runtime_error("Another build is writing to \"" + places_.Live +
                             "\"; wait until it has ended");
  if (!keepEarlierWork)
    RemoveTree(places_.Staging);
  MakeFolder(places_.Staging);
}

PublishResult StagedUpload::Publish(const UploadContents& live,
                                    const std::vector<std::string>& keptFromLive,
                                    const StaleSet& stale, bool prune) {
  PublishResult result;
  // Every archive kept from the live folder and the same manifest: the live set stays as it is.
  if (LiveAlreadyTheSame(live, stale, prune)) {
    RemoveLeftover(result);
    return result;
  }
  // The renames below must never name data that a power cut could still take away.
  FlushFileSystemOf(places_.Staging);
  if (!places_.Inside && !DirectoryExists(places_.Live)) {
    RenameFile(places_.Staging, places_.Live); // a first build: no client reads anything yet
    return result;
  }
  if (!SystemCanExchangeFolders()) {
    result.Reason = "this system cannot swap two folders at once";
  } else if (!places_.Inside && CompleteWithLinks(live, keptFromLive, stale, prune, result)) {
    if (ExchangeFolders(places_.Staging, places_.Live)) {
      // Clients read the new set already; the old one goes.
      RemoveLeftover(result);
      return result;
    }
    result.Reason = "this system cannot swap two folders at once";
  } else if (result.Reason.empty()) {
    result.Reason = places_.Inside ? "the upload folder is a mount point"
                                   : "the file system refuses hard links";
  }
  result.AtOnce = false;
  result.PrunedArchives = 0;
  result.PrunedFolders = 0;
  RenameInto(stale, prune, result);
  return result;
}

bool StagedUpload::LiveAlreadyTheSame(const UploadContents& live, const StaleSet& stale,
                                      bool prune) const {
  if (!live.Temporaries.empty() || (prune && !stale.Empty()) || !DirectoryExists(places_.Live))
    return false;
  try {
    return StagingMatchesLive("");
  } catch (const std::exception&) {
    return false; // what cannot be compared is published
  }
}

// True when the staging folder below relative holds only folders the live one has, and at the
// top a manifest equal to the live one byte for byte: every archive was kept from the live
// folder, and publishing would change nothing a client reads.
bool StagedUpload::StagingMatchesLive(const std::string& relative) const {
  const std::string staging =
      relative.empty() ? places_.Staging : JoinPath(places_.Staging, relative);
  for (const FoundFile& item : ListDirectory(staging, LinkedFolders::List)) {
    const std::string child = relative.empty() ? item.Name : relative + "/" + item.Name;
    const std::string live = JoinPath(places_.Live, child);
    if ((item.Attributes & attr::Directory) != 0 && !item.Link) {
      if (KindOfPath(live) != PathKind::Folder || !StagingMatchesLive(child))
        return false;
    } else if (!relative.empty() || item.Name != ManifestFileName ||
               KindOfPath(live) != PathKind::File ||
               !SameBytes(JoinPath(places_.Staging, child), live)) {
      return false;
    }
  }
  return true;
}

bool StagedUpload::CompleteWithLinks(const UploadContents& live,
                                     const std::vector<std::string>& keptFromLive,
                                     const StaleSet& stale, bool prune,
                                     PublishResult& result) const {
  const std::string& staging = places_.Staging;
  CopyFolderPermissions(places_.Live, staging);
  // Folders come after their contents in the scan; backwards, parents come first.
  for (auto folder = live.Folders.rbegin(); folder != live.Folders.rend(); ++folder) {
    const std::string path = JoinPath(staging, *folder);
    MakeFolder(path);
    CopyFolderPermissions(JoinPath(places_.Live, *folder), path);
  }
  const auto link = [&](const std::vector<std::string>& files) {
    for (const std::string& file : files) {
      if (LinkEntry(JoinPath(places_.Live, file), JoinPath(staging, file)) == LinkResult::Refused)
        return false;
    }
    return true;
  };
  if (!link(keptFromLive) || !link(live.Others) || (!prune && !link(stale.Archives)))
    return false;
  if (prune) {
    result.PrunedArchives = static_cast<std::int32_t>(stale.Archives.size());
    for (const std::string& folder : stale.Folders) {
      if (RemoveEmptyDirectory(JoinPath(staging, folder)))
        ++result.PrunedFolders;
    }
  }
  return true;
}

void StagedUpload::RenameInto(const StaleSet& stale, bool prune, PublishResult& result) const {
  // The manifest goes last. Should a reader keep it from being replaced, the build must fail
  // before the first archive moves: clients would otherwise read the old lines beside new
  // archives until the next build.
  WaitUntilReplaceable(JoinPath(places_.Live, ManifestFileName));
  RenameTree(places_.Staging, places_.Live, "");
  RenameFile(JoinPath(places_.Staging, ManifestFileName), JoinPath(places_.Live, ManifestFileName));
  if (prune) {
    const PruneCount pruned = PruneStale(places_.Live, stale);
    result.PrunedArchives = pruned.Archives;
    result.PrunedFolders = pruned.Folders;
  }
  RemoveLeftover(result);
}

void StagedUpload::RemoveLeftover(PublishResult& result) const {
  try {
    RemoveTree(places_.Staging);
  } catch (const std::exception& error) {
    result.Leftover = error.what();
  }
}

} // namespace vornel
