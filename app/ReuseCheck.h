#pragma once

// Deciding whether an archive of an earlier build may stay instead of being packed again.

#include "app/PackEngine.h"
#include "app/PackFile.h"
#include "app/ReuseRecord.h"
#include "platform/NoFollow.h"

#include <optional>
#include <string>

namespace vornel {

struct KeptArchive {
  PackedFile File;      // what the manifest lists, as a fresh pack would give it
  ArchiveDigest Digest; // the archive's bytes, for the next record
};

// The archive at zipPath is kept only when all of this holds:
// - its entry's data unpack to exactly the source's bytes, compared block by block as the two
//   are read (the source is read once, and its CRC-32 for the manifest is taken on the way);
// - its header, directory and end records are byte for byte those a fresh pack of the source
//   writes now (method, CRC-32, sizes, DOS date and time, attributes, offsets, the given general
//   purpose flags), so it opens with the archive component as one entry named task.EntryName,
//   without a comment;
// - the record vouches for its bytes (same size and checksums as when this program wrote them
//   at the current level with the current zlib), so the deflate data are the ones a fresh pack
//   makes. The record only saves packing again: it is no evidence of the content, which the
//   first check alone establishes.
// Nothing (and no error) when any of it fails: the caller packs the file afresh, and that
// reports whatever is wrong with the source. The source is the task's file, opened and checked
// (app/SourceOpen.h); its position is left anywhere.
std::optional<KeptArchive> CheckReusable(const PackTask& task, SourceFile& source,
                                         std::uint16_t flags, const ArchiveDigest* recorded);

} // namespace vornel
