#include "app/UpdateDiff.h"

#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace vornel {

namespace {

std::string Plural(std::int64_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// -1 marks an archive the build found missing: it costs nothing to download.
std::int64_t Downloadable(std::int32_t size) {
  return size > 0 ? size : 0;
}

} // namespace

UpdateDiff CompareManifests(const ParsedManifest& before, const ParsedManifest& after) {
  UpdateDiff diff;
  std::unordered_map<std::string, const ListedArchive*> old;
  for (const ListedArchive& listed : before.Archives)
    old.emplace(listed.RelativePath, &listed);
  for (const ListedArchive& listed : after.Archives) {
    const auto found = old.find(listed.RelativePath);
    ArchiveChange change{
        ArchiveChangeKind::New, listed.RelativePath, listed.Size, 0, listed.Crc, 0};
    if (found != old.end()) {
      const ListedArchive& was = *found->second;
      old.erase(found);
      if (was.Crc == listed.Crc && was.Size == listed.Size)
        continue;
      change.Kind =
          was.Crc != listed.Crc ? ArchiveChangeKind::Changed : ArchiveChangeKind::Repacked;
      change.OldSize = was.Size;
      change.OldCrc = was.Crc;
    }
    switch (change.Kind) {
    case ArchiveChangeKind::New:
      ++diff.New;
      break;
    case ArchiveChangeKind::Changed:
      ++diff.Changed;
      break;
    default:
      ++diff.Repacked;
      break;
    }
    if (change.Kind != ArchiveChangeKind::Repacked)
      diff.DownloadBytes += Downloadable(listed.Size);
    diff.Changes.push_back(std::move(change));
  }
  for (const ListedArchive& listed : before.Archives) {
    if (old.count(listed.RelativePath) == 0)
      continue;
    diff.Changes.push_back(
        {ArchiveChangeKind::Removed, listed.RelativePath, listed.Size, 0, listed.Crc, 0});
    ++diff.Removed;
  }
  return diff;
}

std::string FormatBytes(std::int64_t bytes) {
  if (bytes < 1024)
    return Plural(bytes, "byte");
  static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // Rounded to a tenth first, so 1023.96 KiB shows as 1.0 MiB.
  while (std::round(value * 10) / 10 >= 1024 && unit + 1 < std::size(units)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string DownloadSummary(const UpdateDiff& diff) {
  return "players download " + Plural(diff.Downloads(), "archive") + ", " +
         FormatBytes(diff.DownloadBytes) + " (" + std::to_string(diff.New) + " new, " +
         std::to_string(diff.Changed) + " changed, " + std::to_string(diff.Removed) + " removed)";
}

std::string BuildDownloadSummary(const ParsedManifest& before, const ParsedManifest& after) {
  return DownloadSummary(CompareManifests(before, after));
}

} // namespace vornel
