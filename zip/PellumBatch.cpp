// Adding many files as one change: every refusal is settled before the first write, and the
// archive is written once, however many files there are.

#include "zip/Pellum.h"

#include "platform/FindFiles.h"
#include "zip/AddParts.h"
#include "zip/ArchiveWriter.h"
#include "zip/NameIndex.h"

#include <algorithm>
#include <vector>

namespace vornel {

void TPellumEntries::AddFiles(const std::vector<TBatchFile>& files) {
  TPellum& zip = Archive();
  OpenArchiveStream(zip.ArchiveStream.get());
  zip.RefuseUndescribable();

  // Plan every entry as adding the files one by one would make them: folder entries first
  // where asked for, a same-named entry replaced (also one of this batch).
  const std::int32_t existing = Count();
  NameIndex names;
  for (std::int32_t i = 0; i < existing; ++i)
    names.Add(items_[i]->CentralHeader.FileName, i);
  std::vector<PendingEntry> planned;
  std::vector<bool> superseded;
  ArchiveEdit change;
  change.Rebuild = zip.SaveMethod == TZipSaveMethod::RebuildAll;
  const auto nameOf = [&](std::int32_t id) -> const std::string& {
    return id < existing ? items_[id]->CentralHeader.FileName : planned[id - existing].Stored;
  };
  const auto plan = [&](PendingEntry entry) {
    const std::int32_t same = names.Find(entry.Stored);
    if (same >= 0) {
      names.Remove(nameOf(same), same);
      if (same < existing)
        change.Dropped.push_back(same);
      else
        superseded[same - existing] = true;
    }
    names.Add(entry.Stored, existing + static_cast<std::int32_t>(planned.size()));
    planned.push_back(std::move(entry));
    superseded.push_back(false);
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
      for (const std::string& level : FolderLevels(file.EntryName)) {
        if (names.Find(level) < 0)
          plan(EmptyEntry(level, StoredEntryName(level, true), FolderAttributes, now));
      }
    }
    plan({file.EntryName, stored, static_cast<std::uint16_t>(found->Attributes & 0xFFFF),
          EntryTimeOf(*found), file.Path, nullptr, length});
  }
  for (std::size_t i = 0; i < planned.size(); ++i) {
    if (!superseded[i])
      change.Added.push_back(std::move(planned[i]));
  }
  if (change.Added.empty() && change.Dropped.empty())
    return;
  std::sort(change.Dropped.begin(), change.Dropped.end());

  const std::vector<TPellumEntriesEntry*> added = CommitChange(zip, change);
  for (std::size_t i = 0; i < added.size(); ++i) {
    if (!zip.SuppressChangeEvents)
      zip.NotifyChange(zip_change::EntryAdded);
    if (zip.OnAddItem && !change.Added[i].Path.empty())
      zip.OnAddItem(zip, change.Added[i].Given);
  }
}

} // namespace vornel
