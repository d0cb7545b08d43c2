#include "zip/SingleEntryArchive.h"

#include "zip/AddParts.h"
#include "zip/Pellum.h"
#include "zip/RecordIo.h"
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

// A small source's local record: the source is read whole and deflated with one call, through
// the thread's held zlib state, so the head goes out once with its values known.
void WriteHeldLocalRecord(Stream& target, NewEntryRecords& records, Stream& source,
                          std::size_t length, const CompressorChoice& compressor,
                          const std::string& given) {
  std::string content(length, '\0');
  source.ReadBuffer(content.data(), length);
  CheckSourceEnded(source, given);
  const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
  EntryData data;
  data.Method = StoredOrDeflated(length);
  data.UncompressedSize = static_cast<std::uint32_t>(length);
  std::string deflated;
  if (data.Method != 0) {
    if (compressor.Kind == CompressorKind::Zlib) {
      deflated.reserve(length + length / 8 + 64);
      data.Crc32 = PellumCrc32Update(0xFFFFFFFFu, bytes, length) ^ 0xFFFFFFFFu;
      DeflateHeld(compressor.Level, bytes, length, deflated);
    } else {
      const WholeDeflated whole = DeflateWholeBuffer(compressor, bytes, length);
      data.Crc32 = whole.Crc32;
      deflated.assign(reinterpret_cast<const char*>(whole.Data.get()), whole.Size);
    }
    data.CompressedSize = static_cast<std::uint32_t>(deflated.size());
  }
  SetEntryData(records, data);
  WriteLocalRecord(target, records.Local, false);
  target.WriteString(deflated);
}

} // namespace

StreamedArchive WriteSingleEntryArchive(TPellum& pellum, Stream& target,
                                        const std::string& entryName, std::uint16_t attributes,
                                        TDateTime time, Stream& source, std::int64_t length) {
  CheckDataLength(entryName, length);
  StreamedArchive archive{NewRecords(pellum, entryName, attributes, time), 0, {}};
  const std::size_t headSize = DescribeSingleEntryArchive(archive.Records).Head.size();
  // A small archive is made whole in memory and reaches the target with one write.
  const bool held = length <= static_cast<std::int64_t>(InMemoryPackLimit);
  MemoryStream image;
  Stream& out = held ? static_cast<Stream&>(image) : target;
  TailDigestingStream written(out, static_cast<std::int64_t>(headSize));
  if (held) {
    image.Reserve(2 * headSize + static_cast<std::size_t>(length + length / 8) + 128);
    WriteHeldLocalRecord(written, archive.Records, source, static_cast<std::size_t>(length),
                         EntryCompressor(pellum), entryName);
  } else {
    pellum.CurrentDataSize = static_cast<std::int32_t>(length);
    const auto progress = [&pellum](CompressStream& sender) {
      pellum.CompressProgress(sender.Position());
    };
    WriteNewLocalRecord(written, archive.Records, source, length, EntryCompressor(pellum), progress,
                        entryName);
  }
  const SingleEntryLayout layout = DescribeSingleEntryArchive(archive.Records);
  written.WriteString(layout.Tail);
  if (held)
    target.WriteString(image.Bytes());
  archive.Digest = Concatenated(DigestOfBytes(layout.Head), written.Digest());
  archive.Size = archive.Digest.Size;
  return archive;
}

} // namespace vornel
