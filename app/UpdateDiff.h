#pragma once

// What going from one update set to the next costs the players, and what the operator must
// upload: the archives added, changed and removed between two manifests.

#include "app/ManifestReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

enum class ArchiveChangeKind {
  New,      // listed only by the new manifest: every player downloads it
  Changed,  // another CRC: every player downloads it
  Repacked, // the same content in an archive of another size: players keep their file, but the
            // server needs the new archive, or its size disagrees with the new line
  Removed,  // listed only by the old manifest: stale on the server once the new one is up
};

struct ArchiveChange {
  ArchiveChangeKind Kind = ArchiveChangeKind::New;
  std::string Path;         // the listed path, "/"-separated, without ".zip"
  std::int32_t Size = 0;    // the archive's size as listed (Removed: in the old manifest)
  std::int32_t OldSize = 0; // Changed and Repacked: the size the old manifest lists
  std::uint32_t Crc = 0;    // as listed (Removed: in the old manifest)
  std::uint32_t OldCrc = 0; // Changed: the CRC the old manifest lists
};

struct UpdateDiff {
  // The new manifest's archives in its order, then the removed ones in the old one's order.
  std::vector<ArchiveChange> Changes;
  std::int32_t New = 0;
  std::int32_t Changed = 0;
  std::int32_t Repacked = 0;
  std::int32_t Removed = 0;
  std::int64_t DownloadBytes = 0; // the new and changed archives' sizes

  std::int32_t Downloads() const { return New + Changed; }
};

// Archives are matched by their exact path: the server's file system may tell letter case apart,
// so a path that changed only in case is another archive to upload.
UpdateDiff CompareManifests(const ParsedManifest& before, const ParsedManifest& after);

// "512 bytes", "1.5 KiB", "34.5 MiB", "1.2 GiB".
std::string FormatBytes(std::int64_t bytes);

// "players download 12 archives, 34.5 MiB (3 new, 9 changed, 2 removed)".
std::string DownloadSummary(const UpdateDiff& diff);

// The line a whole build ends with, against the set it replaced (an empty ParsedManifest when
// there was none).
std::string BuildDownloadSummary(const ParsedManifest& before, const ParsedManifest& after);

} // namespace vornel
