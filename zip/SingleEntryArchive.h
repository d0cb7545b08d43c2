#pragma once

// A new archive of one entry made whole in memory, for sources small enough to hold: it reaches
// the disk with one write, and none of its records is written twice.

#include "platform/DateTime.h"
#include "zip/CompressStream.h"
#include "zip/FreshEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornel {

class TPellum;

// Sources up to this size are packed in memory (the content, the archive and one zlib state per
// thread are held at once, about 1.1 MiB at most); larger ones go through the component's
// streaming add, whose memory does not grow with the file.
inline constexpr std::size_t InMemoryPackLimit = HeldInputLimit;

struct ArchiveImage {
  std::string Bytes;       // the whole archive
  NewEntryRecords Records; // its one entry, data values filled in
};

// The archive that adding content under entryName, with these attributes and time, to a new empty
// archive through pellum writes, byte for byte: its name rules, UTF-8 marking and compressor. No
// folder entries are made. Raises EPellumRefused for a name the component refuses.
ArchiveImage MakeSingleEntryArchive(const TPellum& pellum, const std::string& entryName,
                                    std::uint16_t attributes, TDateTime time,
                                    std::string_view content);

} // namespace vornel
