#include "zip/Pellum.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "zip/AddParts.h"
#include "zip/ArchiveWriter.h"
#include "zip/CompressStream.h"
#include "zip/FreshEntry.h"
#include "zip/NameIndex.h"
#include "zip/RecordIo.h"
#include "zip/WholeDeflate.h"

#include <algorithm>
#include <optional>
#include <vector>
#include <zlib.h>

namespace vornel {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

Stream& OpenArchiveStream(Stream* stream) {
  if (stream == nullptr)
    throw EPellumError("No archive is open");
  return *stream;
}

// ToZipName, then the POSIX mapping: a leading "/" of an absolute path is dropped, and a name
// that climbs out of the folder it is unpacked into ("..") is refused.
std::string SafeZipName(const std::string& given, const std::string& path) {
  std::string name = TPellumEntries::ToZipName(path);
  name.erase(0, std::min(name.find_first_not_of('/'), name.size()));
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos)
      end = name.size();
    if (name.compare(start, end - start, "..") == 0)
      throw EPellumRefused("The entry name " + Quoted(given) +
                           " climbs out of the archive's folder (\"..\")");
    start = end + 1;
  }
  return name;
}

// The name an entry is stored under. Without relative paths only the bare name is kept; on
// POSIX "/" separates folders as well as "\" and ":" do.
std::string StoredEntryName(const std::string& given, bool storeRelativePath) {
  std::string name = given;
  if (!storeRelativePath) {
    const std::size_t cut = name.find_last_of("\\:/");
    if (cut != std::string::npos)
      name.erase(0, cut + 1);
  }
  name = SafeZipName(given, name);
  if (name.empty())
    throw EPellumRefused("The entry name for " + Quoted(given) + " is empty");
  if (name.size() > MaxNameLength)
    throw EPellumRefused("The entry name for " + Quoted(given) + " is longer than 65535 bytes");
  return name;
}

// The data are the bytes from the stream's position to its end.
std::int64_t DataLength(Stream& data) {
  return std::max<std::int64_t>(data.Size() - data.Position(), 0);
}

void CheckDataLength(const std::string& given, std::int64_t length) {
  if (length > MaxArchiveSize)
    throw EPellumRefused(Quoted(given) + " is too large for a zip archive (2 GiB or more)");
}

// A source that has more bytes than its size announced was changed under us; its CRC-32 and
// sizes would not describe what a later reader finds in the file.
void CheckSourceEnded(Stream& source, const std::string& given) {
  unsigned char probe;
  if (source.Read(&probe, 1) != 0)
    throw EPellumError(Quoted(given) + " changed while it was packed");
}

CompressorChoice EntryCompressor(const TPellum& zip) {
  if (zip.GetCompressor())
    return *zip.GetCompressor();
  return CompressorChoice{CompressorKind::Zlib, ZlibLevel(zip.GetCompressionType())};
}

// Deflates the whole source at once with a compressor that needs all its input in one piece.
void PackWhole(Stream& source, std::int64_t length, Stream& target,
               const CompressorChoice& compressor, EntryData& packed) {
  const WholeDeflated deflated = DeflateWhole(compressor, source, static_cast<std::size_t>(length));
  // Whatever the compressor's bound, no entry may claim 4 GiB or more.
  if (deflated.Size > 0xFFFFFFFFu)
    throw EPellumError("The deflate data do not fit a zip entry");
  target.Write(deflated.Data.get(), deflated.Size);
  packed.Crc32 = deflated.Crc32;
  packed.CompressedSize = static_cast<std::uint32_t>(deflated.Size);
}

// Reads length bytes of the source, checksums them and deflates them into the target at its
// position: through zlib in 64 KiB blocks, or whole with the other compressors. A source that
// comes up short raises "Read beyond end of file".
EntryData PackData(Stream& source, std::int64_t length, Stream& target,
                   const CompressorChoice& compressor, const CompressStream::ProgressHook& progress,
                   const std::string& given) {
  EntryData packed;
  packed.Method = StoredOrDeflated(static_cast<std::uint64_t>(length));
  packed.UncompressedSize = static_cast<std::uint32_t>(length);
  if (packed.Method == 0) {
    CheckSourceEnded(source, given);
    return packed;
  }
  if (compressor.Kind != CompressorKind::Zlib) {
    PackWhole(source, length, target, compressor, packed);
    CheckSourceEnded(source, given);
    return packed;
  }
  const int level = compressor.Level;
  std::vector<unsigned char> block(
      static_cast<std::size_t>(std::min<std::int64_t>(length, IoBlockSize)));
  std::uint32_t reg = 0xFFFFFFFFu;
  CompressStream deflater(target, level, progress);
  for (std::int64_t left = length; left > 0;) {
    const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, IoBlockSize));
    source.ReadBuffer(block.data(), step);
    reg = PellumCrc32Update(reg, block.data(), step);
    deflater.Write(block.data(), step);
    left -= static_cast<std::int64_t>(step);
  }
  CheckSourceEnded(source, given);
  deflater.Finish();
  packed.Crc32 = reg ^ 0xFFFFFFFFu;
  packed.CompressedSize = static_cast<std::uint32_t>(deflater.OutputSize());
  return packed;
}

// Writes the new entry's local record and data into target at its position and leaves the
// position behind the data. The header goes first with the values still open, so that a
// stream that cannot be written fails before any data are read.
EntryData WriteNewLocalRecord(Stream& target, NewEntryRecords& records, Stream& data,
                              std::int64_t length, const CompressorChoice& compressor,
                              const CompressStream::ProgressHook& progress,
                              const std::string& given) {
  const std::int64_t localOffset = target.Position();
  WriteLocalRecord(target, records.Local, false);
  const EntryData packed = PackData(data, length, target, compressor, progress, given);
  SetEntryData(records, packed);
  const std::int64_t end = target.Position();
  target.SetPosition(localOffset);
  WriteLocalRecord(target, records.Local, false);
  target.SetPosition(end);
  return packed;
}

std::uint16_t NewEntryFlags(const std::string& stored, bool markUtf8) {
  return markUtf8 && !IsPlainAscii(stored) && IsValidUtf8(stored) ? Utf8NameFlag : 0;
}

bool FitsNewArchive(std::uint64_t dataSize, std::size_t nameLength) {
  if (dataSize > static_cast<std::uint64_t>(MaxArchiveSize) || nameLength > MaxNameLength)
    return false;
  const auto name = static_cast<std::int64_t>(nameLength);
  const auto deflated = static_cast<std::int64_t>(compressBound(static_cast<uLong>(dataSize)));
  constexpr std::int64_t records = std::int64_t{TEndOfDirectory::FixedSize} +
                                   std::int64_t{TLocalFile::FixedSize} +
                                   std::int64_t{TCentralDirectoryFile::FixedSize};
  return records + 2 * name + deflated <= MaxArchiveSize;
}

TPellumEntriesEntry* TPellumEntries::AddFile(const std::string& path) {
  return AddFileAs(path, path);
}

TPellumEntriesEntry* TPellumEntries::AddFileAs(const std::string& path,
                                               const std::string& entryName) {
  const std::optional<FoundFile> found = FindFile(path);
  if (!found)
    return nullptr;
  // A folder fails here with the stream's open error, before anything changes.
  FileStream file(path, FileStream::Mode::OpenRead);
  file.SetPosition(0);
  return AddEntry(entryName, static_cast<std::uint16_t>(found->Attributes & 0xFFFF), file,
                  EntryTimeOf(*found));
}

TPellumEntriesEntry* TPellumEntries::AddEntry(const std::string& entryName,
                                              std::uint16_t attributes, Stream& data,
                                              TDateTime time) {
  TPellum& zip = Archive();
  if (zip.SaveMethod != TZipSaveMethod::FastSave && zip.SaveMethod != TZipSaveMethod::RebuildAll)
    return nullptr;
  TPellumEntriesEntry* entry =
      AddOne(entryName, attributes, data, time, zip.SaveMethod == TZipSaveMethod::RebuildAll,
             zip.StoreFolders && zip.StoreRelativePath);
  if (zip.OnAddItem)
    zip.OnAddItem(zip, entryName);
  return entry;
}

TPellumEntriesEntry* TPellumEntries::AddEntryFast(const std::string& entryName,
                                                  std::uint16_t attributes, Stream& data,
                                                  TDateTime time) {
  return AddOne(entryName, attributes, data, time, false, false);
}

TPellumEntriesEntry* TPellumEntries::AddEntryRebuild(const std::string& entryName,
                                                     std::uint16_t attributes, Stream& data,
                                                     TDateTime time) {
  return AddOne(entryName, attributes, data, time, true, false);
}

std::vector<std::string> FolderLevels(const std::string& entryName) {
  std::string path = TPellumEntries::ToDiskName(SafeZipName(entryName, entryName));
  const std::size_t last = path.rfind('\\');
  std::vector<std::string> levels;
  for (std::size_t cut = path.find('\\'); last != std::string::npos && cut <= last;
       cut = path.find('\\', cut + 1))
    levels.push_back(path.substr(0, cut + 1));
  return levels;
}

namespace {

void NotifyAdded(TPellum& zip, std::size_t count) {
  for (std::size_t i = 0; i < count && !zip.GetSuppressChangeEvents(); ++i)
    zip.NotifyChange(zip_change::EntryAdded);
}

} // namespace

TPellumEntriesEntry* TPellumEntries::AddOne(const std::string& entryName, std::uint16_t attributes,
                                            Stream& data, TDateTime time, bool rebuild,
                                            bool folders) {
  TPellum& zip = Archive();
  OpenArchiveStream(zip.ArchiveStream.get());
  zip.RefuseUndescribable();
  ArchiveEdit change;
  change.Rebuild = rebuild;
  PendingEntry entry{entryName,
                     StoredEntryName(entryName, zip.StoreRelativePath),
                     attributes,
                     time,
                     "",
                     &data,
                     DataLength(data)};
  CheckDataLength(entryName, entry.Length);
  if (folders) {
    const TDateTime now = Now();
    NameIndex planned;
    for (const std::string& level : FolderLevels(entryName)) {
      if (IndexOfName(level) == -1) {
        planned.Add(StoredEntryName(level, true), static_cast<std::int32_t>(change.Added.size()));
        change.Added.push_back(
            EmptyEntry(level, StoredEntryName(level, true), FolderAttributes, now));
      }
    }
    // A name that ends in a separator is its own last folder level: the entry replaces it.
    if (const std::int32_t same = planned.Find(entry.Stored); same >= 0)
      change.Added.erase(change.Added.begin() + same);
  }
  // A same-named entry is replaced: it stays in the archive, readable, until the new one is.
  const std::int32_t replaced = IndexOfName(entry.Stored);
  if (replaced >= 0)
    change.Dropped.push_back(replaced);
  change.Added.push_back(entry);
  const std::vector<TPellumEntriesEntry*> added = CommitChange(zip, change);
  NotifyAdded(zip, added.size());
  return added.back();
}

bool TPellumEntries::AddParentFolders(const std::string& entryName) {
  return AddFolderPath(entryName, FolderAttributes, Now());
}

bool TPellumEntries::AddFolderPath(const std::string& entryName, std::uint16_t attributes,
                                   TDateTime time) {
  TPellum& zip = Archive();
  ArchiveEdit change;
  change.Rebuild = zip.SaveMethod == TZipSaveMethod::RebuildAll;
  for (const std::string& level : FolderLevels(entryName)) {
    if (IndexOfName(level) == -1)
      change.Added.push_back(
          EmptyEntry(level, StoredEntryName(level, zip.StoreRelativePath), attributes, time));
  }
  if (!change.Added.empty())
    NotifyAdded(zip, CommitChange(zip, change).size());
  return true;
}

} // namespace vornel
