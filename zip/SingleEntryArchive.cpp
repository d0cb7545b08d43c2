#include "zip/SingleEntryArchive.h"

#include "zip/AddParts.h"
#include "zip/Pellum.h"
#include "zip/Records.h"
#include "zip/WholeDeflate.h"

#include <cstring>
#include <stdexcept>

namespace vornel {

namespace {

// Passes writes on to the target and digests those from `from` on, which must come in order:
// the head before it is written twice (its values are known only after the data), so its digest
// is taken apart and put in front.
class TailDigestingStream final : public Stream {
public:
  TailDigestingStream(Stream& target, std::int64_t from)
      : target_(target), from_(from), position_(target.Position()) {}

  std::size_t Read(void*, std::size_t) override { throw std::logic_error("write-only stream"); }
  void Write(const void* buffer, std::size_t count) override {
    const std::int64_t end = position_ + static_cast<std::int64_t>(count);
    if (end > from_ && position_ != from_ + digester_.Digest().Size)
      throw std::logic_error("the archive's tail is written out of order");
    target_.Write(buffer, count);
    if (end > from_)
      digester_.Update(buffer, count);
    position_ = end;
  }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    position_ = target_.Seek(offset, origin);
    return position_;
  }
  std::int64_t Size() override { return target_.Size(); }
  void SetSize(std::int64_t newSize) override { target_.SetSize(newSize); }
  void Flush() override { target_.Flush(); }

  ArchiveDigest Digest() const { return digester_.Digest(); }

private:
  Stream& target_;
  const std::int64_t from_;
  std::int64_t position_;
  ArchiveDigester digester_;
};

NewEntryRecords NewRecords(const TPellum& pellum, const std::string& entryName,
                           std::uint16_t attributes, TDateTime time) {
  const std::string stored = StoredEntryName(entryName, pellum.GetStoreRelativePath());
  NewEntryRecords records = DescribeNewEntry(stored, attributes, time);
  SetEntryFlags(records, NewEntryFlags(stored, pellum.GetMarkUtf8Names()));
  return records;
}

} // namespace

StreamedArchive WriteSingleEntryArchive(TPellum& pellum, Stream& target,
                                        const std::string& entryName, std::uint16_t attributes,
                                        TDateTime time, Stream& source, std::int64_t length) {
  CheckDataLength(entryName, length);
  StreamedArchive archive{NewRecords(pellum, entryName, attributes, time), 0, {}};
  const std::size_t headSize = DescribeSingleEntryArchive(archive.Records).Head.size();
  TailDigestingStream written(target, static_cast<std::int64_t>(headSize));
  pellum.CurrentDataSize = static_cast<std::int32_t>(length);
  const auto progress = [&pellum](CompressStream& sender) {
    pellum.CompressProgress(sender.Position());
  };
  WriteNewLocalRecord(written, archive.Records, source, length, EntryCompressor(pellum), progress,
                      entryName);
  const SingleEntryLayout layout = DescribeSingleEntryArchive(archive.Records);
  written.WriteString(layout.Tail);
  archive.Digest = Concatenated(DigestOfBytes(layout.Head), written.Digest());
  archive.Size = archive.Digest.Size;
  return archive;
}

ArchiveImage MakeSingleEntryArchive(const TPellum& pellum, const std::string& entryName,
                                    std::uint16_t attributes, TDateTime time,
                                    std::string_view content) {
  if (content.size() > InMemoryPackLimit)
    throw std::logic_error("a source of more than InMemoryPackLimit bytes is packed streaming");
  ArchiveImage image{{}, NewRecords(pellum, entryName, attributes, time)};
  NewEntryRecords& records = image.Records;

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
