#include "zip/ArchiveWriter.h"
#include "zip/Pellum.h"

#include <algorithm>

namespace vornel {

void TPellumEntries::RemoveEntry(std::int32_t index) {
  RemoveEntries({index});
}

void TPellumEntries::RemoveEntries(std::vector<std::int32_t> indices) {
  TPellum& zip = Archive();
  if (!zip.ArchiveStream)
    throw EPellumError("No archive is open");
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  for (std::int32_t index : indices)
    (void)(*this)[index]; // an index out of range raises before anything is written
  // Taken out of the archive means laid out anew: in place, the records behind them would have
  // to move over bytes the archive as it was still needs.
  ArchiveEdit change;
  change.Dropped = indices;
  CommitChange(zip, change);
  for (std::size_t i = 0; i < indices.size() && !zip.SuppressChangeEvents; ++i)
    zip.NotifyChange(zip_change::EntryRemoved);
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

} // namespace vornel
