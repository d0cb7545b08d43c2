#pragma once

// What a whole build wrote, kept beside the upload folder ("Upload.build") for verify: the
// manifest's digest, and how many files named like the self file lie in subfolders. Those are
// counted in "fcount=" but never listed, so from the manifest alone they look like a build that
// stopped; the record tells the two apart for as long as the manifest is the one it describes.

#include "app/ReuseRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vornel {

struct BuildRecord {
  ArchiveDigest Manifest;
  std::int32_t Namesakes = 0;
};

// The record of the upload folder at uploadDir (as given: a link named Upload keeps its record
// beside the link).
std::string BuildRecordPathFor(const std::string& uploadDir);

// Written whole under a temporary name, then renamed over the old record.
void SaveBuildRecord(const std::string& path, const BuildRecord& record);

// Nothing when the record is missing, unreadable or not one of ours.
std::optional<BuildRecord> LoadBuildRecord(const std::string& path);

} // namespace vornel
