// Adding many files at once in place: every refusal is settled before the first write, the new
// records are written one call each, and the directory once, at the end.

#include "zip/Pellum.h"

#include "platform/FindFiles.h"
#include "zip/AddParts.h"
#include "zip/NameIndex.h"
#include "zip/RecordIo.h"

#include <algorithm>
#include <memory>
#include <vector>
#include <zlib.h>

namespace vornel {

namespace {

// Sources up to this size are packed in memory and written with their header in one call;
// larger ones are packed straight into the archive.
constexpr std::int64_t PackInMemoryUpTo = 1 << 20;

struct PlannedEntry {
  std::string Given; // as the caller named it (folder entries: the folder path)
  std::string Path;  // the file on disk; empty for a folder entry
  std::string Stored;
  std::uint16_t Attributes = 0;
  TDateTime Time = 0;
  std::int64_t Length = 0;
  bool Dropped = false; // replaced by a later file of the same batch
};

// The bytes that describe the entries: their central records, the end record and the comment.
std::string DirectoryBytes(const std::vector<const TCentralDirectoryFile*>& headers,
                           TEndOfDirectory end, std::int64_t offset, const std::string& comment) {
  std::string bytes;
  for (const TCentralDirectoryFile* header : headers)
    AppendCentralRecord(bytes, *header);
  end.TotalEntriesOnThisDisk = static_cast<std::uint16_t>(headers.size());
  end.TotalEntries = end.TotalEntriesOnThisDisk;
  end.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(bytes.size());
  end.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(offset);
  AppendEndRecord(bytes, end);
  return bytes + comment;
}

} // namespace

void TPellumEntries::AddFiles(const std::vector<TBatchFile>& files) {
  TPellum& zip = Archive();
  if (zip.SaveMethod != TZipSaveMethod::FastSave) {
    for (const TBatchFile& file : files) {
      if (AddFileAs(file.Path, file.EntryName) == nullptr)
        throw EPellumRefused("File " + Quoted(file.Path) + " not found!");
    }
    return;
  }
  Stream& archive = OpenArchiveStream(zip.ArchiveStream.get());
  zip.RefuseUndescribable();

  // Plan every entry, as adding the files one by one would make them: folder entries first where
  // asked for, a same-named entry replaced (also one of this batch).
  const std::int32_t existing = Count();
  NameIndex names;
  for (std::int32_t i = 0; i < existing; ++i)
    names.Add(items_[i]->CentralHeader.FileName, i);
  std::vector<PlannedEntry> planned;
  std::vector<std::int32_t> replaced;
  const auto nameOf = [&](std::int32_t id) -> const std::string& {
    return id < existing ? items_[id]->CentralHeader.FileName : planned[id - existing].Stored;
  };
  const auto plan = [&](PlannedEntry entry) {
    const std::int32_t same = names.Find(entry.Stored);
    if (same >= 0) {
      names.Remove(nameOf(same), same);
      if (same < existing)
        replaced.push_back(same);
      else
        planned[same - existing].Dropped = true;
    }
    names.Add(entry.Stored, existing + static_cast<std::int32_t>(planned.size()));
    planned.push_back(std::move(entry));
  };
  const bool folders = zip.StoreFolders && zip.StoreRelativePath;
  const TDateTime now = Now();
  for (const TBatchFile& file : files) {
    const auto found = FindFile(file.Path);
    if (!found)
      throw EPellumRefused("File " + Quoted(file.Path) + " not found!");
    if (found->Attributes & attr::Directory)
      throw EPellumRefused(Quoted(file.Path) + " is a folder");
    const std::string stored = StoredEntryName(file.EntryName, zip.StoreRelativePath);
    const auto length = static_cast<std::int64_t>(found->Size);
    CheckDataLength(file.EntryName, length);
    if (folders) {
      std::string path = ToDiskName(SafeZipName(file.EntryName, file.EntryName));
      path.resize(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\') + 1);
      std::string accumulated;
      for (std::size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\')) {
        accumulated += path.substr(0, cut + 1);
        path.erase(0, cut + 1);
        if (names.Find(accumulated) < 0)
          plan({accumulated, "", StoredEntryName(accumulated, true), FolderAttributes, now, 0});
      }
    }
    plan({file.EntryName, file.Path, stored, static_cast<std::uint16_t>(found->Attributes & 0xFFFF),
          EntryTimeOf(*found), length});
  }
  std::erase_if(planned, [](const PlannedEntry& entry) { return entry.Dropped; });
  if (planned.empty() && replaced.empty())
    return;
  std::sort(replaced.begin(), replaced.end());
  const std::int64_t total = existing - static_cast<std::int64_t>(replaced.size()) +
                             static_cast<std::int64_t>(planned.size());
  if (total > MaxEntries)
    throw EPellumRefused("The archive would hold " + std::to_string(total) +
                         " entries; it can hold 65535");

  // Where the new records go: behind the local part, never over a record that reaches further
  // than the directory's offset says.
  const std::int64_t size = archive.Size();
  std::int64_t localEnd = zip.EndRecord.OffsetOfStartOfCentralDirectory;
  std::int64_t removedBytes = 0;
  std::int64_t directoryMax = 0;
  for (std::int32_t i = 0; i < existing; ++i) {
    const TPellumEntriesEntry& entry = *items_[i];
    localEnd = std::max(localEnd, std::int64_t{entry.CentralHeader.RelativeOffsetOfLocalHeader} +
                                      entry.LocalSpan());
    if (std::binary_search(replaced.begin(), replaced.end(), i))
      removedBytes += entry.LocalSpan();
    else
      directoryMax += entry.CentralSpan();
  }
  if (localEnd > size)
    throw EPellumRefused("The archive's records reach past its end; nothing was added");
  std::int64_t packedMax = 0;
  for (const PlannedEntry& entry : planned) {
    const auto name = static_cast<std::int64_t>(entry.Stored.size());
    packedMax += std::int64_t{TLocalFile::FixedSize} + name +
                 static_cast<std::int64_t>(compressBound(static_cast<uLong>(entry.Length)));
    directoryMax += std::int64_t{TCentralDirectoryFile::FixedSize} + name;
  }
  const std::string comment = zip.RawComment();
  const std::int64_t finalMax = localEnd - removedBytes + packedMax + directoryMax +
                                std::int64_t{TEndOfDirectory::FixedSize} +
                                static_cast<std::int64_t>(comment.size());
  if (finalMax > MaxArchiveSize)
    throw EPellumRefused("Adding these files would make the archive 2 GiB or larger");

  // Nothing has been written so far. Replaced entries go first, in one pass.
  std::string original; // what the new records overwrite, while nothing has moved
  std::int64_t local = localEnd;
  if (replaced.empty()) {
    archive.SetPosition(localEnd);
    original = archive.ReadString(static_cast<std::size_t>(size - localEnd));
  } else {
    local = CompactWithout(replaced, localEnd);
  }
  std::vector<const TCentralDirectoryFile*> headers;
  for (const auto& item : items_)
    headers.push_back(&item->CentralHeader);

  // The directory as it stands goes to the end of the file first, beyond anything this add can
  // write: until the new one is complete, it is the last end record and describes the archive.
  const std::int64_t standingAt = std::max(size, finalMax);
  const std::string standing = DirectoryBytes(headers, zip.EndRecord, standingAt, comment);
  const bool guarded = standingAt + static_cast<std::int64_t>(standing.size()) <= MaxArchiveSize;
  const auto restore = [&]() noexcept {
    try {
      if (replaced.empty()) {
        archive.SetPosition(localEnd);
        archive.WriteString(original);
        archive.SetSize(size);
      } else {
        // The replaced entries are gone; the rest is described where the local part ends.
        const std::string bytes = DirectoryBytes(headers, zip.EndRecord, local, comment);
        archive.SetPosition(local);
        archive.WriteString(bytes);
        archive.SetSize(local + static_cast<std::int64_t>(bytes.size()));
        zip.EndRecord.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(local);
        zip.EndRecord.SizeOfTheCentralDirectory =
            static_cast<std::uint32_t>(bytes.size() - comment.size() - TEndOfDirectory::FixedSize);
        zip.EndRecord.TotalEntriesOnThisDisk = zip.EndRecord.TotalEntries =
            static_cast<std::uint16_t>(headers.size());
        zip.EndRecordPosition = local + zip.EndRecord.SizeOfTheCentralDirectory;
        zip.CommentPosition = zip.EndRecordPosition + 22;
      }
    } catch (...) {
      // The failure that ended the add is the one to report.
    }
  };

  std::vector<NewEntryRecords> added;
  added.reserve(planned.size());
  TEndOfDirectory end = zip.EndRecord;
  std::int64_t directory = 0;
  try {
    if (guarded) {
      archive.SetPosition(standingAt);
      archive.WriteString(standing);
    }
    archive.SetPosition(local);
    const CompressorChoice level = EntryCompressor(zip);
    const auto progress = [&zip](CompressStream& sender) {
      zip.CompressProgress(sender.Position());
    };
    for (const PlannedEntry& entry : planned) {
      NewEntryRecords records = DescribeNewEntry(entry.Stored, entry.Attributes, entry.Time);
      SetEntryFlags(records, NewEntryFlags(entry.Stored, zip.MarkUtf8Names));
      const std::int64_t at = archive.Position();
      records.Central.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(at);
      records.Local.FileData.clear();
      zip.CurrentDataSize = static_cast<std::int32_t>(entry.Length);
      MemoryStream none;
      std::unique_ptr<FileStream> file;
      if (!entry.Path.empty())
        file = std::make_unique<FileStream>(entry.Path, FileStream::Mode::OpenRead);
      Stream& source = file ? static_cast<Stream&>(*file) : none;
      if (entry.Length <= PackInMemoryUpTo) {
        MemoryStream record;
        WriteNewLocalRecord(record, records, source, entry.Length, level, progress, entry.Given);
        archive.WriteString(record.Bytes());
      } else {
        WriteNewLocalRecord(archive, records, source, entry.Length, level, progress, entry.Given);
      }
      if (guarded && archive.Position() > standingAt)
        throw EPellumError("The packed data outgrew the room set aside for them");
      added.push_back(std::move(records));
    }
    directory = archive.Position();
    for (const NewEntryRecords& records : added)
      headers.push_back(&records.Central);
    const std::string tail = DirectoryBytes(headers, end, directory, comment);
    archive.WriteString(tail);
    // Cutting the file here makes the new end record the last one.
    archive.SetSize(archive.Position());
  } catch (...) {
    headers.resize(static_cast<std::size_t>(Count()));
    restore();
    throw;
  }

  std::int64_t directorySize = 0;
  for (const TCentralDirectoryFile* header : headers)
    directorySize += std::int64_t{TCentralDirectoryFile::FixedSize} + header->FilenameLength +
                     header->ExtraFieldLength + header->FileCommentLength;
  end.TotalEntriesOnThisDisk = end.TotalEntries = static_cast<std::uint16_t>(headers.size());
  end.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(directorySize);
  end.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(directory);
  zip.EndRecord = end;
  zip.EndRecordPosition = directory + directorySize;
  zip.CommentPosition = zip.EndRecordPosition + 22;
  for (std::size_t i = 0; i < added.size(); ++i) {
    TPellumEntriesEntry& entry = Add();
    entry.LocalHeader = added[i].Local;
    entry.CentralHeader = added[i].Central;
    DeriveEntryValues(entry, entry.CentralHeader);
    entry.Timestamp = planned[i].Time;
  }
  zip.NamesDirty = true;
  for (std::size_t i = 0; i < added.size(); ++i) {
    if (!zip.SuppressChangeEvents)
      zip.NotifyChange(zip_change::EntryAdded);
    if (zip.OnAddItem && !planned[i].Path.empty())
      zip.OnAddItem(zip, planned[i].Given);
  }
}

std::int64_t TPellumEntries::CompactWithout(const std::vector<std::int32_t>& indices,
                                            std::int64_t localEnd) {
  Stream& archive = *Archive().ArchiveStream;
  struct Span {
    std::int64_t Start;
    std::int64_t End;
  };
  std::vector<Span> removed;
  for (std::int32_t index : indices) {
    const TPellumEntriesEntry& entry = *items_[index];
    const std::int64_t start = entry.CentralHeader.RelativeOffsetOfLocalHeader;
    removed.push_back({start, start + entry.LocalSpan()});
  }
  std::sort(removed.begin(), removed.end(),
            [](const Span& a, const Span& b) { return a.Start < b.Start; });
  // The bytes removed below an offset, or -1 when the offset lies inside a removed record.
  const auto removedBelow = [&](std::int64_t offset) -> std::int64_t {
    std::int64_t bytes = 0;
    for (const Span& span : removed) {
      if (span.Start > offset)
        break;
      if (offset < span.End)
        return -1;
      bytes += span.End - span.Start;
    }
    return bytes;
  };
  for (std::size_t i = 1; i < removed.size(); ++i) {
    if (removed[i].Start < removed[i - 1].End)
      throw EPellumRefused("Records of the archive overlap; nothing was added");
  }
  std::vector<std::uint32_t> moved(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (std::binary_search(indices.begin(), indices.end(), static_cast<std::int32_t>(i)))
      continue;
    const std::int64_t offset = items_[i]->CentralHeader.RelativeOffsetOfLocalHeader;
    const std::int64_t below = removedBelow(offset);
    if (below < 0)
      throw EPellumRefused("Records of the archive overlap; nothing was added");
    moved[i] = static_cast<std::uint32_t>(offset - below);
  }

  std::vector<char> block(IoBlockSize);
  std::int64_t write = removed.front().Start;
  for (std::size_t i = 0; i < removed.size(); ++i) {
    const std::int64_t to = i + 1 < removed.size() ? removed[i + 1].Start : localEnd;
    for (std::int64_t from = removed[i].End; from < to;) {
      const auto step = static_cast<std::size_t>(std::min<std::int64_t>(to - from, IoBlockSize));
      archive.SetPosition(from);
      archive.ReadBuffer(block.data(), step);
      archive.SetPosition(write);
      archive.Write(block.data(), step);
      from += static_cast<std::int64_t>(step);
      write += static_cast<std::int64_t>(step);
    }
  }
  for (std::size_t i = 0; i < items_.size(); ++i)
    items_[i]->CentralHeader.RelativeOffsetOfLocalHeader = moved[i];
  for (auto index = indices.rbegin(); index != indices.rend(); ++index)
    Delete(*index);
  return write;
}

} // namespace vornel
