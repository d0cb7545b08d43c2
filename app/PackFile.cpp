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

#include <algorithm>
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

void CheckStoredName(const std::string& stored, const std::string& entryName,
                     const std::string& sourcePath) {
  if (stored != entryName)
    throw EPellumError("File \"" + sourcePath + "\" was stored under the name \"" + stored + "\"");
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

} // namespace

// The file is read once, from its start, into its new archive; the checksum is the one taken on
// the way.
PackedFile PackOneFile(TPellum& pellum, SourceFile& source, const std::string& sourcePath,
                       const std::string& zipPath, const std::string& relativePath,
                       const std::string& entryName) {
  const std::uint64_t size = SourceSize(source, sourcePath);
  PackedFile packed{relativePath, 0, 0, std::nullopt};
  WriteFresh(zipPath, [&](const std::string& path) {
    FileStream file(path, FileStream::Mode::CreateNew);
    // What the file holds now: the archive refuses a source that goes on past it.
    const std::int64_t length = std::max<std::int64_t>(source.Size(), 0);
    const FoundFile& info = source.Info();
    const StreamedArchive archive = WriteSingleEntryArchive(
        pellum, file, entryName, static_cast<std::uint16_t>(info.Attributes & 0xFFFF),
        EntryTimeOf(info), source, length);
    CheckStoredName(archive.Records.Central.FileName, entryName, sourcePath);
    // One that is not the size it had when it was opened changed since.
    if (archive.Records.Central.UncompressedSize != size)
      RaiseChanged(sourcePath, size, archive.Records.Central.UncompressedSize);
    CheckUnchanged(source, sourcePath);
    if (static_cast<std::uint64_t>(archive.Size) > LargestListable)
      throw EPellumError("Archive \"" + zipPath + "\" is 2 GiB or larger and cannot be listed");
    packed.Crc = archive.Records.Central.Crc32;
    packed.ArchiveSize = static_cast<std::int32_t>(archive.Size);
    packed.Digest = archive.Digest;
  });
  return packed;
}

} // namespace vornel
