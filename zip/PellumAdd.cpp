#include "zip/Pellum.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "zip/AddParts.h"
#include "zip/CompressStream.h"
#include "zip/FreshEntry.h"
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

namespace {

// What either save method settles before it writes: the archive stream, the name as stored,
// the data's length and the entry of that name it replaces (-1: none). Everything an add is
// refused for is checked here, before the archive is touched.
struct AddPlan {
  Stream& Archive;
  std::string Stored;
  std::int64_t Length;
  std::int32_t Replaced;
};

AddPlan PlanAdd(const TPellumEntries& entries, Stream* archiveStream, bool storeRelativePath,
                const std::string& given, Stream& data) {
  Stream& archive = OpenArchiveStream(archiveStream);
  entries.Archive().RefuseUndescribable();
  AddPlan plan{archive, StoredEntryName(given, storeRelativePath), DataLength(data), -1};
  plan.Replaced = entries.IndexOfName(plan.Stored);
  CheckDataLength(given, plan.Length);
  if (entries.Count() + (plan.Replaced >= 0 ? 0 : 1) > MaxEntries)
    throw EPellumRefused("The archive already holds 65535 entries; " + Quoted(given) +
                         " cannot be added");
  const auto name = static_cast<std::int64_t>(plan.Stored.size());
  const auto deflated = static_cast<std::int64_t>(compressBound(static_cast<uLong>(plan.Length)));
  const std::int64_t projected = archive.Size() + std::int64_t{TLocalFile::FixedSize} + name +
                                 deflated + std::int64_t{TCentralDirectoryFile::FixedSize} + name;
  if (projected > MaxArchiveSize)
    throw EPellumRefused("Adding " + Quoted(given) + " would make the archive 2 GiB or larger");
  return plan;
}

} // namespace

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

namespace {

// The bytes from a position to the end of the stream, kept so that a failed add can put the
// archive back as it was.
class TailBackup {
public:
  TailBackup(Stream& stream, std::int64_t from)
      : stream_(stream), from_(from), size_(stream.Size()) {
    if (from_ < size_) {
      stream_.SetPosition(from_);
      bytes_ = stream_.ReadString(static_cast<std::size_t>(size_ - from_));
    }
  }

  // Best effort: the failure that made the add fail is the one to report.
  void Restore() noexcept {
    try {
      stream_.SetPosition(from_);
      stream_.WriteString(bytes_);
      stream_.SetSize(size_);
    } catch (...) {
    }
  }

private:
  Stream& stream_;
  std::int64_t from_;
  std::int64_t size_;
  std::string bytes_;
};

// The target of a rebuilt image: memory, or a temporary file that is removed on every way out
// unless it had to be kept.
class ImageTarget {
public:
  static ImageTarget InMemory(std::size_t room) {
    ImageTarget target;
    auto memory = std::make_unique<MemoryStream>();
    memory->Reserve(room);
    target.memory_ = std::move(memory);
    return target;
  }
  static ImageTarget InTempFile(std::unique_ptr<TempFile> file) {
    ImageTarget target;
    target.file_ = std::move(file);
    return target;
  }

  Stream& Get() { return file_ ? static_cast<Stream&>(file_->Stream()) : *memory_; }
  TempFile* File() { return file_.get(); }

private:
  ImageTarget() = default;
  std::unique_ptr<MemoryStream> memory_;
  std::unique_ptr<TempFile> file_;
};

// Sets the values that every entry carries beside its central header. FastSave keeps the given
// time; a rebuilt entry shows the time that was written, as it reads back after a reload.
void DeriveNewEntryValues(TPellumEntriesEntry& entry, std::optional<TDateTime> exactTime) {
  DeriveEntryValues(entry, entry.CentralHeader);
  if (exactTime)
    entry.Timestamp = *exactTime;
}

// While set, an entry of the same name is removed without a change notification; the flag
// gets its former value back however the removal ends.
class SuppressChanges {
public:
  explicit SuppressChanges(TPellum& zip) : zip_(zip), former_(zip.GetSuppressChangeEvents()) {
    zip_.SetSuppressChangeEvents(true);
  }
  ~SuppressChanges() { zip_.SetSuppressChangeEvents(former_); }
  SuppressChanges(const SuppressChanges&) = delete;
  SuppressChanges& operator=(const SuppressChanges&) = delete;

private:
  TPellum& zip_;
  bool former_;
};

} // namespace

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
  // What cannot be stored is refused before folder entries are written for it.
  if (zip.ArchiveStream)
    zip.RefuseUndescribable();
  StoredEntryName(entryName, zip.StoreRelativePath);
  CheckDataLength(entryName, DataLength(data));
  if (zip.StoreFolders && zip.StoreRelativePath)
    AddParentFolders(entryName);
  TPellumEntriesEntry* entry = nullptr;
  switch (zip.SaveMethod) {
  case TZipSaveMethod::FastSave:
    entry = AddEntryFast(entryName, attributes, data, time);
    break;
  case TZipSaveMethod::RebuildAll:
    entry = AddEntryRebuild(entryName, attributes, data, time);
    break;
  default:
    return nullptr;
  }
  if (zip.OnAddItem)
    zip.OnAddItem(zip, entryName);
  return entry;
}

TPellumEntriesEntry* TPellumEntries::AddEntryFast(const std::string& entryName,
                                                  std::uint16_t attributes, Stream& data,
                                                  TDateTime time) {
  TPellum& zip = Archive();
  const AddPlan plan =
      PlanAdd(*this, zip.ArchiveStream.get(), zip.StoreRelativePath, entryName, data);
  Stream& archive = plan.Archive;
  const std::string& stored = plan.Stored;
  const std::int64_t length = plan.Length;
  if (plan.Replaced >= 0) {
    SuppressChanges quiet(zip);
    RemoveEntry(plan.Replaced);
  }

  // The stored comment bytes go back exactly as they were, so that its length field stays true.
  const std::string comment = zip.RawComment();
  // The new record goes where the directory began, but never over a local record that reaches
  // further (an archive whose directory offset lies).
  std::int64_t localOffset = zip.EndRecord.OffsetOfStartOfCentralDirectory;
  for (const auto& item : items_)
    localOffset =
        std::max(localOffset,
                 std::int64_t{item->CentralHeader.RelativeOffsetOfLocalHeader} + item->LocalSpan());
  // Records that claim to reach past the end would have the new one written far behind it.
  if (localOffset > archive.Size())
    throw EPellumRefused("The archive's records reach past its end; " + Quoted(entryName) +
                         " cannot be added");

  NewEntryRecords records = DescribeNewEntry(stored, attributes, time);
  SetEntryFlags(records, NewEntryFlags(stored, zip.MarkUtf8Names));
  records.Central.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(localOffset);
  zip.CurrentDataSize = static_cast<std::int32_t>(length);
  const auto progress = [&zip](CompressStream& sender) { zip.CompressProgress(sender.Position()); };

  TailBackup backup(archive, localOffset);
  TEndOfDirectory end = zip.EndRecord;
  std::int64_t endPosition = 0;
  std::int64_t commentPosition = 0;
  TPellumEntriesEntry* entry = nullptr;
  try {
    archive.SetPosition(localOffset);
    WriteNewLocalRecord(archive, records, data, length, EntryCompressor(zip), progress, entryName);
    const std::int64_t directory = archive.Position();
    std::string central;
    for (const auto& item : items_)
      AppendCentralRecord(central, item->CentralHeader);
    AppendCentralRecord(central, records.Central);
    archive.WriteString(central);
    endPosition = archive.Position();
    end.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(directory);
    end.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(endPosition - directory);
    ++end.TotalEntriesOnThisDisk;
    ++end.TotalEntries;
    WriteEndRecord(archive, end);
    commentPosition = archive.Position();
    archive.WriteString(comment);
    archive.SetSize(archive.Position());
    entry = &Add();
  } catch (...) {
    backup.Restore();
    throw;
  }
  entry->LocalHeader = records.Local;
  entry->CentralHeader = records.Central;
  zip.EndRecord = end;
  zip.EndRecordPosition = endPosition;
  zip.CommentPosition = commentPosition;

  DeriveNewEntryValues(*entry, time);
  zip.NamesDirty = true;
  if (!zip.SuppressChangeEvents)
    zip.NotifyChange(zip_change::EntryAdded);
  return entry;
}

TPellumEntriesEntry* TPellumEntries::AddEntryRebuild(const std::string& entryName,
                                                     std::uint16_t attributes, Stream& data,
                                                     TDateTime time) {
  TPellum& zip = Archive();
  const AddPlan plan =
      PlanAdd(*this, zip.ArchiveStream.get(), zip.StoreRelativePath, entryName, data);
  Stream& archive = plan.Archive;
  const std::string& stored = plan.Stored;
  const std::int64_t length = plan.Length;

  std::optional<ImageTarget> image;
  if (zip.UseTempFiles) {
    image = ImageTarget::InTempFile(zip.NewTempFile());
  } else {
    std::int64_t room = 22 + std::int64_t{zip.EndRecord.ZipFileCommentLength};
    for (std::int32_t i = 0; i < Count(); ++i) {
      room += (*this)[i].LocalSpan() + (*this)[i].CentralSpan();
      if (zip.OnRemoveItems)
        zip.OnRemoveItems(zip, i, Count() - 1);
    }
    // The sizes come from the archive and may lie; the room is held to what the archive holds.
    image = ImageTarget::InMemory(static_cast<std::size_t>(std::min(room, archive.Size() + 65536)));
  }
  Stream& target = image->Get();

  if (plan.Replaced >= 0) {
    SuppressChanges quiet(zip);
    RemoveEntry(plan.Replaced);
  }
  zip.WriteLocalImage(target);

  const std::int64_t localOffset = target.Position();
  if (localOffset > MaxArchiveSize)
    throw EPellumError("Adding " + Quoted(entryName) + " would make the archive 2 GiB or larger");
  NewEntryRecords records = DescribeNewEntry(stored, attributes, time);
  SetEntryFlags(records, NewEntryFlags(stored, zip.MarkUtf8Names));
  records.Central.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(localOffset);
  zip.CurrentDataSize = static_cast<std::int32_t>(length);
  const auto progress = [&zip](CompressStream& sender) { zip.CompressProgress(sender.Position()); };
  WriteNewLocalRecord(target, records, data, length, EntryCompressor(zip), progress, entryName);

  TPellumEntriesEntry& entry = Add();
  entry.LocalHeader = records.Local;
  entry.CentralHeader = records.Central;
  const auto index = static_cast<std::size_t>(Count() - 1);
  try {
    if (zip.RebuildOffsets.size() <= index)
      zip.RebuildOffsets.resize(index + 1);
    zip.RebuildOffsets[index] = records.Central.RelativeOffsetOfLocalHeader;
    zip.WriteCentralImage(target);
    zip.WriteEndImage(target);
    zip.CopyImageOver(target, image->File());
  } catch (...) {
    Delete(Count() - 1);
    throw;
  }
  zip.EndRecord = zip.RebuiltEndRecord;
  zip.EndRecordPosition = zip.RebuiltEndRecordPosition;
  zip.CommentPosition = zip.RebuiltCommentPosition;
  // The image laid the local records out anew; the entries follow it, so that a later in-place
  // add or removal does not work from offsets of the archive as it was.
  for (std::size_t i = 0; i < items_.size(); ++i)
    items_[i]->CentralHeader.RelativeOffsetOfLocalHeader = zip.RebuildOffsets[i];
  image.reset();

  DeriveNewEntryValues(entry, std::nullopt);
  zip.NamesDirty = true;
  if (!zip.SuppressChangeEvents)
    zip.NotifyChange(zip_change::EntryAdded);
  return &entry;
}

bool TPellumEntries::AddParentFolders(const std::string& entryName) {
  return AddFolderPath(entryName, FolderAttributes, Now());
}

bool TPellumEntries::AddFolderPath(const std::string& entryName, std::uint16_t attributes,
                                   TDateTime time) {
  TPellum& zip = Archive();
  // The whole path is checked first, so that no folder of a refused name is written.
  std::string path = ToDiskName(SafeZipName(entryName, entryName));
  const std::size_t last = path.rfind('\\');
  if (last == std::string::npos)
    return true;
  path.resize(last + 1);
  std::string accumulated;
  MemoryStream empty;
  for (std::size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\')) {
    accumulated += path.substr(0, cut + 1);
    path.erase(0, cut + 1);
    empty.Clear();
    if (IndexOfName(accumulated) != -1)
      continue;
    if (zip.SaveMethod == TZipSaveMethod::FastSave)
      AddEntryFast(accumulated, attributes, empty, time);
    else if (zip.SaveMethod == TZipSaveMethod::RebuildAll)
      AddEntryRebuild(accumulated, attributes, empty, time);
  }
  return true;
}

} // namespace vornel
