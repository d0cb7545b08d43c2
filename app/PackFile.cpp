#include "app/PackFile.h"

#include "crc/Crc32.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/NoFollow.h"
#include "platform/Stream.h"
#include "zip/FreshEntry.h"
#include "zip/Pellum.h"
#include "zip/SingleEntryArchive.h"

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

// Written to while it was read, though its size stayed: the archive might hold old bytes here and
// new ones there, a file that never existed.
void CheckUnchanged(const SourceFile& source, const std::string& sourcePath) {
  if (source.ChangedSinceOpened())
    throw EFileChanged("\"" + sourcePath +
                       "\" changed while it was packed (it was written to as it was read)");
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

// The archive is written straight under its name in the staging folder, which no client reads.
// Whatever lies at that name already (a stopped build's archive, or a second name of a live
// archive) is removed first and never written into; exclusive creation makes sure of it. A
// failure leaves nothing at the name.
template <typename Write> void WriteFresh(const std::string& zipPath, Write write) {
  try {
    try {
      write(zipPath);
    } catch (const EFCreateError&) {
      if (KindOfPath(zipPath) == PathKind::Missing || !DeleteFileAt(zipPath))
        throw;
      write(zipPath);
    }
  } catch (...) {
    DeleteFileAt(zipPath);
    throw;
  }
}

// A small file: read once, packed in memory and written with one call; the checksum is the one
// taken while it was packed.
PackedFile PackInMemory(const TPellum& pellum, SourceFile& source, std::uint64_t size,
                        const std::string& sourcePath, const std::string& zipPath,
                        const std::string& relativePath, const std::string& entryName) {
  const std::string content = ReadWhole(source, size, sourcePath);
  CheckUnchanged(source, sourcePath);
  const FoundFile& info = source.Info();
  const ArchiveImage image = MakeSingleEntryArchive(
      pellum, entryName, static_cast<std::uint16_t>(info.Attributes & 0xFFFF), EntryTimeOf(info),
      content);
  CheckStoredName(image.Records.Central.FileName, entryName, sourcePath);
  WriteFresh(zipPath, [&image](const std::string& path) {
    FileStream(path, FileStream::Mode::CreateNew).WriteString(image.Bytes);
  });
  return PackedFile{relativePath, image.Records.Central.Crc32,
                    static_cast<std::int32_t>(image.Bytes.size()), DigestOfBytes(image.Bytes)};
}

// A larger file: streamed through the component into a new archive, read once; the checksum is
// the one the component took on the way.
PackedFile PackStreaming(TPellum& pellum, SourceFile& source, std::uint64_t size,
                         const std::string& sourcePath, const std::string& zipPath,
                         const std::string& relativePath, const std::string& entryName) {
  PackedFile packed{relativePath, 0, 0, std::nullopt};
  WriteFresh(zipPath, [&](const std::string& path) {
    try {
      auto created = std::make_unique<FileStream>(path, FileStream::Mode::CreateNew);
      pellum.WriteEmptyArchive(*created);
      pellum.CloseArchive();
      pellum.OpenFromStream(std::move(created));
      pellum.SetFileName(path);
      if (!pellum.GetIsZipFile())
        throw EPellumError("Archive \"" + path + "\" was not recognised after it was created");
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
      CheckUnchanged(source, sourcePath);
      packed.Crc = entry->CentralHeader.Crc32;
      pellum.CloseArchive();
      packed.ArchiveSize = ArchiveSize(path, zipPath);
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
