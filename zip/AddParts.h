#pragma once

// The pieces that adding one entry and adding a batch of files share: limits, stored names and
// the packing of a new local record.

#include "platform/Stream.h"
#include "zip/CompressStream.h"
#include "zip/Compressor.h"
#include "zip/FreshEntry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

class TPellum;

// Offsets are taken as signed 32-bit values when an archive is read, so neither the data nor
// the archive may reach 2 GiB.
inline constexpr std::int64_t MaxArchiveSize = 0x7FFFFFFF;
inline constexpr std::int32_t MaxEntries = 0xFFFF;
inline constexpr std::size_t MaxNameLength = 0xFFFF;
inline constexpr std::uint16_t FolderAttributes = 0x10;

std::string Quoted(const std::string& text);
// The open archive's stream; raises when none is open.
Stream& OpenArchiveStream(Stream* stream);
// ToZipName without a leading "/"; a name that climbs out with ".." is refused.
std::string SafeZipName(const std::string& given, const std::string& path);
// The name an entry given as `given` is stored under; refused when empty or too long.
std::string StoredEntryName(const std::string& given, bool storeRelativePath);
// The folder levels of an entry's path in disk form ("a\\", "a\\b\\"), outermost first.
std::vector<std::string> FolderLevels(const std::string& entryName);
// The data are the bytes from the stream's position to its end.
std::int64_t DataLength(Stream& data);
// Refuses data of 2 GiB or more.
void CheckDataLength(const std::string& given, std::int64_t length);
// Raises when the source holds more bytes than were packed (it changed while it was read).
void CheckSourceEnded(Stream& source, const std::string& given);
// The compressor new entries are packed with: the component's own choice, else zlib at the
// level of its compression type.
CompressorChoice EntryCompressor(const TPellum& zip);
// Writes the local record and packed data of a new entry at target's position and fills the
// records' data values; the position is left behind the data.
EntryData WriteNewLocalRecord(Stream& target, NewEntryRecords& records, Stream& data,
                              std::int64_t length, const CompressorChoice& compressor,
                              const CompressStream::ProgressHook& progress,
                              const std::string& given);

} // namespace vornel
