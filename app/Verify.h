#pragma once

// Checks a whole upload set (updates.lst and every archive it lists) as the client updater would
// use it. Core code shared by the front ends.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornel {

struct VerifyProgress {
  std::function<void(std::int32_t archives)> SetMax;    // once, before the first archive
  std::function<void(const std::string& archive)> Step; // after each archive
};

struct VerifyResult {
  std::int32_t ArchivesListed = 0;
  std::int32_t ArchivesWithProblems = 0;
  std::int32_t ManifestProblems = 0;
  // One line per problem, each naming its file ("updates.lst line 3: ...",
  // "data/config.ini.zip: ...").
  std::vector<std::string> Problems;

  bool AllGood() const { return Problems.empty(); }
  // "verified 12 archives: all good", or how many problems were found and where.
  std::string Summary() const;
};

VerifyResult VerifyUploadSet(const std::string& uploadDir, const VerifyProgress& progress = {});

} // namespace vornel
