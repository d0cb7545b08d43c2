#pragma once

// Deciding whether an archive of an earlier build may stay instead of being packed again.

#include "app/PackFile.h"
#include "app/ReuseRecord.h"

#include <optional>
#include <string>

namespace vornel {

struct KeptArchive {
  PackedFile File;      // what the manifest lists, as a fresh pack would give it
  ArchiveDigest Digest; // the archive's bytes, for the next record
};

// The archive at zipPath is kept only when all of this holds:
// - the record vouches for its bytes (same size and checksums as when this program wrote them
//   at the current level with the current zlib);
// - it opens with the archive component as one entry under the source's bare name, without a
//   comment;
// - its header, directory and end records are byte for byte those a fresh pack of the source
//   writes now (method, CRC-32, sizes, DOS date and time, attributes, offsets), and its size is
//   98 + 2n + c for an n-byte name and c bytes of data;
// - its data unpack to exactly the source's length and CRC-32 (FileCrc32 of the source).
// Deflate is deterministic, so an archive that once was a fresh pack of content with this
// CRC-32 and length is byte for byte what packing that content again writes.
// Nothing (and no error) when any of it fails: the caller packs the file afresh, and that
// reports whatever is wrong with the source.
std::optional<KeptArchive> CheckReusable(const std::string& sourcePath, const std::string& zipPath,
                                         const std::string& relativePath,
                                         const ArchiveDigest* recorded);

} // namespace vornel
