#pragma once

// Checks a whole upload set (updates.lst and every archive it lists) as the client updater would
// use it, and optionally against the clean tree it was built from. Core code shared by the front
// ends.

#include "platform/CodePage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornel {

struct VerifyProgress {
  std::function<void(std::int32_t archives)> SetMax; // once, before the first archive
  std::function<void(const std::string& archive)>
      Step; // after each archive, in the manifest's order
};

struct VerifyOptions {
  // The clean folder to compare the manifest with; empty: no comparison.
  std::string Against{};
  // The self file's name as the settings give it, for the comparison: files of that name in
  // subfolders are counted but never listed.
  std::string CustomName{};
  // Patterns of files and folders the build left out (app/Exclusions.h), for the comparison.
  std::vector<std::string> Exclude{};
  // The code page the manifest and the entry names are written in (as the build was given);
  // none: the manifest's bytes are the file system's names.
  CodePage Names{};
  // Archives checked at once; 0: one per hardware thread. The report keeps the manifest's order.
  int Jobs = 0;
};

struct VerifyResult {
  std::int32_t ArchivesListed = 0;
  std::int32_t ArchivesWithProblems = 0;
  std::int32_t ManifestProblems = 0;
  std::int32_t TreeProblems = 0; // files of the clean folder that the set does not match
  // One line per problem, each naming its file ("updates.lst line 3: ...",
  // "data/config.ini.zip: ...", "data/config.ini: changed since the build").
  std::vector<std::string> Problems;
  // Archives in the folder that no line lists: stale, or finished by a build that stopped. A
  // finding of their own that fails verification only when asked to (strict).
  std::vector<std::string> Unlisted;
  // What may be a problem or not, which the set alone cannot tell ("updates.lst line 7: ...");
  // fails verification only when asked to (strict).
  std::vector<std::string> Warnings;

  bool AllGood(bool strict = false) const {
    return Problems.empty() && (!strict || (Unlisted.empty() && Warnings.empty()));
  }
  // "verified 12 archives: all good", or how many problems were found and where.
  std::string Summary() const;
};

VerifyResult VerifyUploadSet(const std::string& uploadDir, const VerifyProgress& progress = {},
                             const VerifyOptions& options = {});

} // namespace vornel
