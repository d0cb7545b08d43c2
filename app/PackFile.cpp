#include "app/PackFile.h"

#include "app/SourceOpen.h"
#include "app/UploadScan.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"
#include "zip/FreshEntry.h"
#include "zip/Pellum.h"

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

std::int32_t ArchiveSize(const std::string& writtenPath, const std::string& zipPath) {
  const auto found = FindFile(writtenPath);
  if (!found || (found->Attributes & attr::Directory) != 0)
    throw std::runtime_error("Archive \"" + zipPath + "\" is missing after it was written");
  if (found->Size > LargestListable)
    throw EPellumError("Archive \"" + zipPath + "\" is 2 GiB or larger and cannot be listed");
  return static_cast<std::int32_t>(found->Size);
}

// Creates a new empty archive at zipPath, adds the file to it and returns the entry's CRC-32
// and size, with the archive closed again. The file is made with exclusive creation and written
// through the handle that made it, never opened again by name, so nothing already at that name
// (a link someone planted) is followed.
void AddToNewArchive(TPellum& pellum, SourceFile& source, const std::string& sourcePath,
                     const std::string& zipPath, const std::string& entryName,
                     std::uint32_t& entryCrc, std::uint64_t& entrySize) {
  auto created = std::make_unique<FileStream>(zipPath, FileStream::Mode::CreateNew);
  pellum.WriteEmptyArchive(*created);
  pellum.CloseArchive();
  pellum.OpenFromStream(std::move(created));
  pellum.SetFileName(zipPath);
  if (!pellum.GetIsZipFile())
    throw EPellumError("Archive \"" + zipPath + "\" was not recognised after it was created");
  source.SetPosition(0);
  const FoundFile& info = source.Info();
  const TPellumEntriesEntry* entry = pellum.Entries().AddEntry(
      entryName, static_cast<std::uint16_t>(info.Attributes & 0xFFFF), source, EntryTimeOf(info));
  if (entry == nullptr)
    // The file went away after its checksum.
    RaiseIoError(io_error::FileNotFound, sourcePath, IoOperation::Open);
  if (entry->CentralHeader.FileName != entryName)
    throw EPellumError("File \"" + sourcePath + "\" was stored under the name \"" +
                       entry->CentralHeader.FileName + "\"");
  entryCrc = entry->CentralHeader.Crc32;
  entrySize = entry->CentralHeader.UncompressedSize;
  pellum.CloseArchive();
}

} // namespace

PackedFile PackOneFile(TPellum& pellum, SourceFile& source, const std::string& sourcePath,
                       const std::string& zipPath, const std::string& relativePath,
                       const std::string& entryName) {
  const std::uint64_t size = SourceSize(source, sourcePath);
  PackedFile packed{relativePath, StreamCrc32(source), 0};
  // Written under a name of its own and renamed over the final name only when whole and closed,
  // so a crash, a kill or a power cut leaves the earlier archive or the new one, never a part.
  const std::string temporary = TemporaryArchivePath(zipPath);
  try {
    std::uint32_t entryCrc = 0;
    std::uint64_t entrySize = 0;
    AddToNewArchive(pellum, source, sourcePath, temporary, entryName, entryCrc, entrySize);
    // The checksum and the archive come from two reads of the file; a write in between would
    // list a CRC that the archive's content does not have.
    if (entryCrc != packed.Crc || entrySize != size)
      throw EFileChanged("\"" + sourcePath + "\" changed while it was packed");
    packed.ArchiveSize = ArchiveSize(temporary, zipPath);
    RenameFile(temporary, zipPath);
    return packed;
  } catch (...) {
    try {
      pellum.CloseArchive();
    } catch (...) {
      // The first error is the one to report.
    }
    DeleteFileAt(temporary);
    throw;
  }
}

} // namespace vornel
