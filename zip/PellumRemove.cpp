#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "zip/Pellum.h"
#include "zip/RecordIo.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace vornel {

void TPellumEntries::RemoveEntry(std::int32_t index) {
  TPellum& zip = Archive();
  if (!zip.ArchiveStream)
    throw EPellumError("No archive is open");
  zip.RefuseUndescribable();
  const TPellumEntriesEntry& entry = (*this)[index];
  const std::int64_t offset = entry.CentralHeader.RelativeOffsetOfLocalHeader;
  const std::int64_t span = entry.LocalSpan();
  const std::int64_t size = zip.ArchiveStream->Size();
  Delete(index);
  try {
    if (zip.SaveMethod == TZipSaveMethod::RebuildAll || Count() == 0)
      RebuildArchive();
    else
      RemoveInPlace(offset, span, size);
  } catch (...) {
    RecoverAfterFailedRemoval();
    throw;
  }
  zip.NamesDirty = true;
  if (!zip.SuppressChangeEvents)
    zip.NotifyChange(zip_change::EntryRemoved);
}

void TPellumEntries::RebuildArchive() {
  TPellum& zip = Archive();
  Stream& archive = *zip.ArchiveStream;
  if (zip.UseTempFiles) {
    const std::unique_ptr<TempFile> temp = zip.NewTempFile();
    Stream& image = temp->Stream();
    zip.WriteArchiveImage(image);
    zip.CopyImageOver(image, temp.get());
    ReloadRewritten(archive);
  } else {
    std::int64_t total = 22 + std::int64_t{zip.EndRecord.ZipFileCommentLength};
    for (std::int32_t i = 0; i < Count(); ++i) {
      total += (*this)[i].LocalSpan() + (*this)[i].CentralSpan();
      if (zip.OnRemoveItems)
        zip.OnRemoveItems(zip, i, Count() - 1);
    }
    MemoryStream image;
    // The sizes come from the archive and may lie; the image can only be as large as the data
    // it copies, so the reservation is held to that.
    image.Reserve(static_cast<std::size_t>(std::min(total, archive.Size() + 65536)));
    zip.WriteArchiveImage(image);
    zip.CopyImageOver(image, nullptr);
    ReloadRewritten(archive);
  }
}

void TPellumEntries::ReloadRewritten(Stream& archive) {
  TPellum& zip = Archive();
  // What was just written, in case the reload cannot see it.
  struct Written {
    TCentralDirectoryFile Central;
    TLocalFile Local;
    std::int32_t DescriptorLength;
  };
  std::vector<Written> written;
  written.reserve(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) {
    written.push_back(
        {items_[i]->CentralHeader, items_[i]->LocalHeader, items_[i]->DescriptorLength});
    written.back().Central.RelativeOffsetOfLocalHeader = zip.RebuildOffsets.at(i);
  }
  LoadDirectory(archive);
  if (Recognised && zip.EndRecordPosition == zip.RebuiltEndRecordPosition &&
      Count() == static_cast<std::int32_t>(written.size()))
    return;
  // The end record search only looks so far back: a comment that an archive's shrinking has
  // moved out of its reach (or that holds an end record signature) hides the record. The
  // component keeps describing the archive it wrote, so that the next write keeps the comment
  // and uses the right positions.
  Clear();
  for (auto& [central, local, descriptor] : written) {
    TPellumEntriesEntry& entry = Add();
    DeriveEntryValues(entry, central);
    entry.CentralHeader = std::move(central);
    entry.LocalHeader = std::move(local);
    entry.DescriptorLength = descriptor;
  }
  Recognised = true;
  zip.EndRecord = zip.RebuiltEndRecord;
  zip.EndRecordPosition = zip.RebuiltEndRecordPosition;
  zip.CommentPosition = zip.RebuiltCommentPosition;
}

void TPellumEntries::RemoveInPlace(std::int64_t offset, std::int64_t span, std::int64_t size) {
  TPellum& zip = Archive();
  Stream& archive = *zip.ArchiveStream;
  const std::string comment = zip.RawComment();
  const std::int64_t tailStart = offset + span;
  if (tailStart > size)
    RaiseIoError(io_error::ReadBeyondEnd, archive.Name(), IoOperation::Read);

  // Work out the new offsets and where the directory goes before anything is written, so that
  // an archive whose records do not add up is refused untouched.
  std::vector<std::uint32_t> moved(items_.size());
  // The directory goes behind the last local record, wherever it lies: where the old directory
  // began (moved down with the rest), or further out if a record claims more room.
  std::int64_t directory = offset;
  const std::int64_t oldDirectory = zip.EndRecord.OffsetOfStartOfCentralDirectory;
  if (oldDirectory >= tailStart)
    directory = oldDirectory - span;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    std::uint32_t local = items_[i]->CentralHeader.RelativeOffsetOfLocalHeader;
    if (local > offset)
      local -= static_cast<std::uint32_t>(span);
    moved[i] = local;
    directory = std::max(directory, std::int64_t{local} + items_[i]->LocalSpan());
  }
  if (directory > size - span)
    RaiseIoError(io_error::ReadBeyondEnd, archive.Name(), IoOperation::Read);

  // The removed record is kept with the tail, so that a write failing part way can put the
  // archive back as it was; the caller then reloads it with the entry in place.
  archive.SetPosition(offset);
  const std::string original = archive.ReadString(static_cast<std::size_t>(size - offset));
  const std::string_view tail = std::string_view(original).substr(static_cast<std::size_t>(span));
  TEndOfDirectory end = zip.EndRecord;
  std::int64_t endPosition = 0;
  std::int64_t commentPosition = 0;
  try {
    archive.SetPosition(offset);
    archive.Write(tail.data(), tail.size());
    archive.SetPosition(directory);
    end.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(directory);
    for (std::size_t i = 0; i < items_.size(); ++i) {
      TCentralDirectoryFile header = items_[i]->CentralHeader;
      header.RelativeOffsetOfLocalHeader = moved[i];
      WriteCentralRecord(archive, header);
    }
    endPosition = archive.Position();
    end.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(endPosition - directory);
    --end.TotalEntriesOnThisDisk;
    --end.TotalEntries;
    end.ZipFileCommentLength = static_cast<std::uint16_t>(comment.size());
    WriteEndRecord(archive, end);
    commentPosition = archive.Position();
    archive.WriteString(comment);
    archive.SetSize(archive.Position());
  } catch (...) {
    try {
      archive.SetPosition(offset);
      archive.WriteString(original);
      archive.SetSize(size);
    } catch (...) {
      // The medium keeps failing; the removal's own error is the one to report.
    }
    throw;
  }
  for (std::size_t i = 0; i < items_.size(); ++i)
    items_[i]->CentralHeader.RelativeOffsetOfLocalHeader = moved[i];
  zip.EndRecord = end;
  zip.EndRecordPosition = endPosition;
  zip.CommentPosition = commentPosition;
}

void TPellumEntries::RecoverAfterFailedRemoval() {
  // The collection is made to describe the stream again: reloaded when the stream still holds
  // an archive (the entry is back if nothing was written yet), otherwise the archive is closed.
  TPellum& zip = Archive();
  zip.NamesDirty = true;
  try {
    LoadDirectory(*zip.ArchiveStream);
    if (Recognised)
      return;
  } catch (...) {
  }
  try {
    zip.CloseArchive();
  } catch (...) {
    // Closed already; a handler's failure must not hide the removal's.
  }
}

} // namespace vornel
