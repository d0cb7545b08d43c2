#include "app/ReuseCheck.h"

#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"
#include "zip/EntryReader.h"
#include "zip/FreshEntry.h"
#include "zip/Pellum.h"

#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace vornel {

namespace {

constexpr std::int64_t LargestListable = std::numeric_limits<std::int32_t>::max();

// Reads the archive front to back exactly once, digesting every byte on the way; it only reads
// forward, so the digest covers the whole file once the last record has been read.
class DigestingStream final : public Stream {
public:
  explicit DigestingStream(Stream& inner) : inner_(inner) { inner_.SetPosition(0); }

  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t got = inner_.Read(buffer, count);
    digester_.Update(buffer, got);
    return got;
  }
  void Write(const void*, std::size_t) override { throw std::logic_error("read-only stream"); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    if (offset != 0 || origin != SeekOrigin::Current)
      throw std::logic_error("a digesting stream only reads forward");
    return digester_.Digest().Size;
  }
  std::int64_t Size() override { return inner_.Size(); }
  void SetSize(std::int64_t) override { throw std::logic_error("read-only stream"); }

  ArchiveDigest Digest() const { return digester_.Digest(); }

private:
  Stream& inner_;
  ArchiveDigester digester_;
};

// True when the entry's data at the archive's position unpack to exactly the source's bytes,
// with the CRC-32 its records claim.
bool SameContent(Stream& archive, Stream& source, const TLocalFile& local) {
  EntryReader entry(archive, local.CompressionMethod, local.CompressedSize, local.UncompressedSize);
  const auto fromSource = std::make_unique_for_overwrite<unsigned char[]>(IoBlockSize);
  const auto fromEntry = std::make_unique_for_overwrite<unsigned char[]>(IoBlockSize);
  for (;;) {
    const std::size_t got = source.Read(fromSource.get(), IoBlockSize);
    // At the source's end the entry must end too; asking for a byte makes it say so.
    if (entry.Read(fromEntry.get(), got == 0 ? 1 : got) != got ||
        std::memcmp(fromSource.get(), fromEntry.get(), got) != 0)
      return false;
    if (got == 0)
      break;
  }
  return entry.Produced() == local.UncompressedSize && entry.Crc32() == local.Crc32;
}

} // namespace

std::optional<KeptArchive> CheckReusable(const PackTask& task, SourceFile& sourceFile,
                                         std::uint16_t flags, const ArchiveDigest* recorded) {
  const std::string& zipPath = task.ZipPath;
  if (recorded == nullptr)
    return std::nullopt;
  try {
    const FoundFile* source = &sourceFile.Info();
    // A link planted at the archive's name is never kept: packing afresh replaces it.
    const auto archive = FindFile(zipPath);
    if (!archive || KindOfPath(zipPath) != PathKind::File ||
        (archive->Attributes & attr::Directory) != 0)
      return std::nullopt;
    const std::string& name = task.EntryName;
    const auto archiveSize = static_cast<std::int64_t>(archive->Size);
    if (archiveSize != recorded->Size || archiveSize > LargestListable ||
        source->Size > static_cast<std::uint64_t>(LargestListable))
      return std::nullopt;

    TPellum pellum;
    pellum.OpenFromStream(std::make_unique<FileStream>(zipPath, FileStream::Mode::OpenRead));
    if (!pellum.GetIsZipFile() || pellum.Entries().Count() != 1 ||
        pellum.Entries()[0].CentralHeader.FileName != name)
      return std::nullopt;

    // What a fresh pack writes around data of this size; the CRC-32 is the one the archive
    // claims, which the content comparison then has to bear out.
    const TCentralDirectoryFile& central = pellum.Entries()[0].CentralHeader;
    EntryData data;
    data.Method = StoredOrDeflated(source->Size);
    data.Crc32 = central.Crc32;
    data.CompressedSize = central.CompressedSize;
    data.UncompressedSize = static_cast<std::uint32_t>(source->Size);
    NewEntryRecords fresh = DescribeNewEntry(
        name, static_cast<std::uint16_t>(source->Attributes & 0xFFFF), EntryTimeOf(*source), data);
    SetEntryFlags(fresh, flags);
    const SingleEntryLayout layout = DescribeSingleEntryArchive(fresh);
    if (static_cast<std::int64_t>(layout.Head.size() + layout.Tail.size()) +
            std::int64_t{central.CompressedSize} !=
        archiveSize)
      return std::nullopt;

    DigestingStream reader(*pellum.GetArchiveStream());
    if (reader.ReadString(layout.Head.size()) != layout.Head)
      return std::nullopt;
    sourceFile.SetPosition(0);
    // Compared while someone wrote to it, the file proves nothing: packing afresh finds out.
    if (!SameContent(reader, sourceFile, fresh.Local) || sourceFile.ChangedSinceOpened())
      return std::nullopt;
    if (reader.ReadString(layout.Tail.size()) != layout.Tail)
      return std::nullopt;
    const ArchiveDigest digest = reader.Digest();
    if (digest != *recorded)
      return std::nullopt;
    return KeptArchive{
        PackedFile{task.RelativePath, central.Crc32, static_cast<std::int32_t>(archiveSize)},
        digest};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

} // namespace vornel
