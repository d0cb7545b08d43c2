#include "app/PackFile.h"

#include "app/UploadScan.h"
#include "crc/Crc32.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/NoFollow.h"
#include "platform/Stream.h"
#include "zip/FreshEntry.h"
#include "zip/Pellum.h"
#include "zip/SingleEntryArchive.h"

#include <zlib.h>

#include <cstdint>
#include <limits>
#include <memory>

namespace vornel {

namespace {

// The manifest writes archive sizes as signed 32-bit values, and an entry's sizes are 32-bit.
constexpr std::uint64_t LargestListable = std::numeric_limits<std::int32_t>::max();

std::uint64_t SourceSize(SourceFile& source, const std::string& sourcePath) {
  if (source.Info().Size > LargestListable)
    throw EPellumError("File \"" + sourcePath + "\" is 2 GiB or larger and cannot be packed");
  return source.Info().Size;
}

[[noreturn]] void RaiseChanged(const std::string& sourcePath, std::uint64_t size,
                               std::uint64_t found) {
  const std::string now = found > size ? "more" : std::to_string(found);
  throw EFileChanged("\"" + sourcePath + "\" changed while it was packed (" + std::to_string(size) +
                     " bytes when it was opened, " + now + " now)");
}

std::int32_t ArchiveSize(const std::string& writtenPath, const std::string& zipPath) {
  const auto found = FindFile(writtenPath);
  if (!found || (found->Attributes & attr::Directory) != 0)
    throw std::runtime_error("Archive \"" + zipPath + "\" is missing after it was written");
  if (found->Size > LargestListable)
    throw EPellumError("Archive \"" + zipPath + "\" is 2 GiB or larger and cannot be listed");
  return static_cast<std::int32_t>(found->Size);
}

void CheckStoredName(const std::string& stored, const std::string& entryName,
                     const std::string& sourcePath) {
  if (stored != entryName)
    throw EPellumError("File \"" + sourcePath + "\" was stored under the name \"" + stored + "\"");
}

// The whole content, which must end after exactly size bytes: asking for one byte more shows a
// file that grew, a short read one that shrank.
std::string ReadWhole(SourceFile& source, std::uint64_t size, const std::string& sourcePath) {
  std::string content(static_cast<std::size_t>(size) + 1, '\0');
  const std::size_t got = source.Read(content.data(), content.size());
  if (got != size)
    RaiseChanged(sourcePath, size, got);
  content.resize(got);
  return content;
}

// What DigestFile reads from the archive once it is written, taken from the bytes at hand.
ArchiveDigest DigestOf(const std::string& bytes) {
  const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
  return ArchiveDigest{
      static_cast<std::int64_t>(bytes.size()), ~Crc32Update(0xFFFFFFFFu, data, bytes.size()),
      static_cast<std::uint32_t>(adler32(1L, data, static_cast<uInt>(bytes.size())))};
}

// Writes the archive under a name of its own and renames it over the final name only when whole
// and closed, so a crash, a kill or a power cut leaves the earlier archive or the new one, never
// a part. The file is made with exclusive creation and written through the handle that made it,
// so nothing already at that name (a link someone planted) is followed.
template <typename Write> void Publish(const std::string& zipPath, Write write) {
  const std::string temporary = TemporaryArchivePath(zipPath);
  try {
    write(temporary);
    RenameFile(temporary, zipPath);
  } catch (...) {
    DeleteFileAt(temporary);
    throw;
  }
}

// A small file: read once, packed in memory and written with one call; the checksum is the one
// taken while it was packed.
PackedFile PackInMemory(const TPellum& pellum, SourceFile& source, std::uint64_t size,
                        const std::string& sourcePath, const std::string& zipPath,
                        const std::string& relativePath, const std::string& entryName) {
  const std::string content = ReadWhole(source, size, sourcePath);
  const FoundFile& info = source.Info();
  const ArchiveImage image = MakeSingleEntryArchive(
      pellum, entryName, static_cast<std::uint16_t>(info.Attributes & 0xFFFF), EntryTimeOf(info),
      content);
  CheckStoredName(image.Records.Central.FileName, entryName, sourcePath);
  Publish(zipPath, [&image](const std::string& temporary) {
    FileStream(temporary, FileStream::Mode::CreateNew).WriteString(image.Bytes);
  });
  return PackedFile{relativePath, image.Records.Central.Crc32,
                    static_cast<std::int32_t>(image.Bytes.size()), DigestOf(image.Bytes)};
}

// A larger file: streamed through the component into a new archive, read once; the checksum is
// the one the component took on the way.
PackedFile PackStreaming(TPellum& pellum, SourceFile& source, std::uint64_t size,
                         const std::string& sourcePath, const std::string& zipPath,
                         const std::string& relativePath, const std::string& entryName) {
  PackedFile packed{relativePath, 0, 0, std::nullopt};
  Publish(zipPath, [&](const std::string& temporary) {
    try {
      auto created = std::make_unique<FileStream>(temporary, FileStream::Mode::CreateNew);
      pellum.WriteEmptyArchive(*created);
      pellum.CloseArchive();
      pellum.OpenFromStream(std::move(created));
      pellum.SetFileName(temporary);
      if (!pellum.GetIsZipFile())
        throw EPellumError("Archive \"" + temporary + "\" was not recognised after it was created");
      source.SetPosition(0);
      const FoundFile& info = source.Info();
      const TPellumEntriesEntry* entry =
          pellum.Entries().AddEntry(entryName, static_cast<std::uint16_t>(info.Attributes & 0xFFFF),
                                    source, EntryTimeOf(info));
      if (entry == nullptr)
        RaiseIoError(io_error::FileNotFound, sourcePath, IoOperation::Open);
      CheckStoredName(entry->CentralHeader.FileName, entryName, sourcePath);
      // The component reads to the end of the source and refuses one that grew; one that is
      // not the size it had when it was opened changed since.
      if (entry->CentralHeader.UncompressedSize != size)
        RaiseChanged(sourcePath, size, entry->CentralHeader.UncompressedSize);
      packed.Crc = entry->CentralHeader.Crc32;
      pellum.CloseArchive();
      packed.ArchiveSize = ArchiveSize(temporary, zipPath);
    } catch (...) {
      try {
        pellum.CloseArchive();
      } catch (...) {
        // The first error is the one to report.
      }
      throw;
    }
  });
  packed.Digest = DigestFile(zipPath);
  return packed;
}

} // namespace

PackedFile PackOneFile(TPellum& pellum, SourceFile& source, const std::string& sourcePath,
                       const std::string& zipPath, const std::string& relativePath,
                       const std::string& entryName) {
  const std::uint64_t size = SourceSize(source, sourcePath);
  if (size <= InMemoryPackLimit)
    return PackInMemory(pellum, source, size, sourcePath, zipPath, relativePath, entryName);
  return PackStreaming(pellum, source, size, sourcePath, zipPath, relativePath, entryName);
}

} // namespace vornel
