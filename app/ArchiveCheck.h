#pragma once

// Checks one archive of the upload set as the client would use it: it must open, hold exactly
// the one listed file, and unpack to content with the listed checksum.

#include "platform/CodePage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

struct ArchiveExpectation {
  std::string EntryName; // the file's bare name
  std::uint32_t Crc = 0; // from the manifest
  std::int32_t Size = 0; // the archive's size, from the manifest
  // The code page of the entry's name, when known: a name beyond ASCII must then be marked as
  // UTF-8 exactly when the code page is UTF-8, or readers decode it as another code page.
  CodePage Names = {};
};

// Every problem found, one short sentence each (without the archive's name); empty when sound.
// Reads the entry's data in blocks, so memory stays bounded whatever the archive's size.
std::vector<std::string> CheckArchive(const std::string& zipPath,
                                      const ArchiveExpectation& expected);

// The same checks for an archive held in memory (as a server sent it).
std::vector<std::string> CheckArchiveBytes(std::string bytes, const ArchiveExpectation& expected);

} // namespace vornel
