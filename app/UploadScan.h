#pragma once

// What lies in Upload/ apart from what a build produces: archives of files deleted from the clean
// tree since an earlier build (stale), their folders, and temporary archives that a build killed
// part way through left behind.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel {

// The name an archive is written under until it is whole: in the archive's own folder, so the
// final rename never crosses file systems, and unique per process and per archive, so builds and
// workers never share one.
std::string TemporaryArchivePath(const std::string& zipPath);

// The id of the process that wrote a temporary archive of this bare name; 0 when the name is not
// one of a build's temporaries.
std::uint32_t TemporaryArchiveOwner(const std::string& name);

struct UploadContents {
  std::vector<std::string> Archives;    // relative paths ("/"-separated) of files ending ".zip"
  std::vector<std::string> Folders;     // relative paths, each after its contents
  std::vector<std::string> Temporaries; // relative paths of builds' temporary archives
  // Everything else a build must carry over: other files, and links (to folders too, which are
  // not walked). The manifest at the top is not among them; it is the build's own.
  std::vector<std::string> Others;
};

// The name of a build's staging folder when it has to lie inside the upload folder (an upload
// folder that is a mount point): a trailing dot makes it a name no client file can have, so no
// manifest line can name it. Scans leave it out.
inline constexpr const char* InnerStagingName = "vornel-staging.";

// Lists the upload folder (nothing when it does not exist). Links to folders are not followed.
UploadContents ScanUpload(const std::string& uploadDir);

// Deletes temporary archives whose build has ended (its process is gone); a build still running
// keeps its own. Returns how many were removed.
std::int32_t RemoveLeftoverTemporaries(const std::string& uploadDir,
                                       const UploadContents& contents);

struct StaleSet {
  std::vector<std::string> Archives; // relative paths with ".zip"
  std::vector<std::string> Folders;  // relative paths, each after its contents
  bool Empty() const { return Archives.empty() && Folders.empty(); }
};

// The archives and folders in contents that the build did not produce.
StaleSet FindStale(const UploadContents& contents,
                   const std::function<bool(std::string_view)>& producedArchive,
                   const std::function<bool(std::string_view)>& producedFolder);

struct PruneCount {
  std::int32_t Archives = 0;
  std::int32_t Folders = 0;
};

// Deletes the stale archives (regular files ending ".zip" only), then every stale folder that is
// empty by then. Nothing outside uploadDir and nothing else is touched.
PruneCount PruneStale(const std::string& uploadDir, const StaleSet& stale);

// "2 archives and 1 folder" for messages.
std::string DescribeStale(std::int32_t archives, std::int32_t folders);

} // namespace vornel
