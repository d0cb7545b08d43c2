#include "zip/SingleEntryArchive.h"

#include "zip/AddParts.h"
#include "zip/Pellum.h"
#include "zip/Records.h"
#include "zip/WholeDeflate.h"

#include <cstring>
#include <stdexcept>

namespace vornel {

ArchiveImage MakeSingleEntryArchive(const TPellum& pellum, const std::string& entryName,
                                    std::uint16_t attributes, TDateTime time,
                                    std::string_view content) {
  if (content.size() > InMemoryPackLimit)
    throw std::logic_error("a source of more than InMemoryPackLimit bytes is packed streaming");
  const std::string stored = StoredEntryName(entryName, pellum.GetStoreRelativePath());
  ArchiveImage image{{}, DescribeNewEntry(stored, attributes, time)};
  NewEntryRecords& records = image.Records;
  SetEntryFlags(records, NewEntryFlags(stored, pellum.GetMarkUtf8Names()));

  const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
  const std::size_t size = content.size();
  EntryData data;
  data.Method = StoredOrDeflated(size);
  data.UncompressedSize = static_cast<std::uint32_t>(size);
  // The local header's length does not depend on the values still open, so the data go right
  // behind a provisional one, which is overwritten once they are known.
  std::string& archive = image.Bytes;
  archive = DescribeSingleEntryArchive(records).Head;
  const std::size_t headSize = archive.size();
  if (data.Method != 0) {
    const CompressorChoice compressor = EntryCompressor(pellum);
    if (compressor.Kind == CompressorKind::Zlib) {
      archive.reserve(headSize + size + size / 8 + 256);
      data.Crc32 = PellumCrc32Update(0xFFFFFFFFu, bytes, size) ^ 0xFFFFFFFFu;
      DeflateHeld(compressor.Level, bytes, size, archive);
    } else {
      const WholeDeflated whole = DeflateWholeBuffer(compressor, bytes, size);
      data.Crc32 = whole.Crc32;
      archive.append(reinterpret_cast<const char*>(whole.Data.get()), whole.Size);
    }
    data.CompressedSize = static_cast<std::uint32_t>(archive.size() - headSize);
  }
  SetEntryData(records, data);
  const SingleEntryLayout layout = DescribeSingleEntryArchive(records);
  std::memcpy(archive.data(), layout.Head.data(), headSize);
  archive += layout.Tail;
  return image;
}

} // namespace vornel
