#pragma once

// The manifest against the clean tree it was built from: which files changed since the build,
// which are gone and which are new.

#include "app/ManifestReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

struct TreeComparison {
  // "data/config.ini: changed since the build", one line per file that differs.
  std::vector<std::string> Problems;
  // Files named like the self file below the clean root's own copy: counted by a build, never
  // listed.
  std::int32_t Namesakes = 0;
};

// Walks cleanDir as a build would (leaving out the upload folder when it lies inside) and
// compares every file with the manifest's lines; files matching the exclusion patterns are left
// out as a build leaves them out. selfName is used when the manifest names no
// self file. Raises when the folder cannot be walked.
TreeComparison CompareWithTree(const ParsedManifest& parsed, const std::string& cleanDir,
                               const std::string& uploadDir, const std::string& selfName,
                               const std::vector<std::string>& exclude = {});

} // namespace vornel
