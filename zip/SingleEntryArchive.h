#pragma once

// A new archive of one entry, written straight to its file: the build's way of packing a file.

#include "crc/ArchiveDigest.h"
#include "platform/DateTime.h"
#include "platform/Stream.h"
#include "zip/CompressStream.h"
#include "zip/FreshEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel {

class TPellum;

// Sources up to this size are packed in memory (the content, the archive and one zlib state per
// thread are held at once, about 1.1 MiB at most); larger ones are streamed into the archive,
// whose memory does not grow with the file.
inline constexpr std::size_t InMemoryPackLimit = HeldInputLimit;

struct StreamedArchive {
  NewEntryRecords Records; // its one entry, data values filled in
  std::int64_t Size = 0;   // the archive's length
  ArchiveDigest Digest;    // of the archive's bytes, taken as they were written
};

// The archive that adding length bytes from the source's position under entryName, with these
// attributes and time, to a new empty archive through pellum writes, byte for byte: its name
// rules, UTF-8 marking and compressor; no folder entries. The source is read once and the
// archive written to target (new and empty) with its digest taken on the way: a small one with
// one write, a larger one as it goes, head, data and tail, with the component's progress events.
// Raises as the component's add does for a refused name, or a source that ends early or goes on
// past length.
StreamedArchive WriteSingleEntryArchive(TPellum& pellum, Stream& target,
                                        const std::string& entryName, std::uint16_t attributes,
                                        TDateTime time, Stream& source, std::int64_t length);

} // namespace vornel
