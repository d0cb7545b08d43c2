#pragma once

// Packing one file into an archive of its own.

#include "app/ReuseRecord.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace vornel {

class TPellum;
class SourceFile;

// What the manifest records for one packed file.
struct PackedFile {
  std::string RelativePath; // "/"-separated, relative to the clean root
  std::uint32_t Crc = 0;    // CRC-32 of the file's content
  std::int32_t ArchiveSize = 0;
  std::optional<ArchiveDigest> Digest = {}; // of the archive's bytes; none when unreadable
};

// The file's content differed between its checksum and its packing.
class EFileChanged : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Packs the open source (sourcePath names it in messages), from its start, into a new archive at
// zipPath through pellum, whose stored values must be set (ConfigurePellum1), as one entry named
// entryName. The source is read once: the checksum is the entry's own, and the content must end
// at exactly the size the source had when it was opened (EFileChanged otherwise). zipPath lies in
// the build's staging folder, which no client reads: the archive is written there directly, in a
// new file (whatever lay at that name is removed, never written into). On any failure nothing is
// left at zipPath and the error passes on, so a failed file is never listed.
PackedFile PackOneFile(TPellum& pellum, SourceFile& source, const std::string& sourcePath,
                       const std::string& zipPath, const std::string& relativePath,
                       const std::string& entryName);

} // namespace vornel
