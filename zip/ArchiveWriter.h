#pragma once

// The component's one writer. Every change to an open archive (entries added, entries taken
// out, the comment replaced, the whole archive laid out anew) is described first and then
// written so that, at every instant, the archive reads as it was or as it is meant to be: no
// byte that the archive as it was still needs is overwritten before the archive as it will be
// is whole, and one step that cannot be half done switches from one to the other.
//
// - In place (entries added, the comment replaced): a copy of the directory as it stands goes
//   beyond everything the change writes, so that it is the archive's last end record; the new
//   records, the new directory and end record are written behind the last live record (over
//   the old directory and whatever an interrupted change left there); cutting the file behind
//   the new end record switches.
// - Laid out anew (entries taken out, replaced, or a rebuild): the new image is made in memory
//   or in a temporary file beside the archive and renamed over it. A stream that is no file
//   cannot be renamed: the image is copied over it, and put back when that fails.

#include "platform/DateTime.h"
#include "platform/Stream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornel {

class TPellum;
class TPellumEntriesEntry;

// An entry to add and where its data come from.
struct PendingEntry {
  std::string Given;  // as the caller named it (for messages and OnAddItem)
  std::string Stored; // the name it is stored under
  std::uint16_t Attributes = 0;
  TDateTime Time = 0;
  std::string Path;         // a file on disk; empty: Source, or no data
  Stream* Source = nullptr; // the data from its position to its end
  std::int64_t Length = 0;
};

// An entry without data (a folder).
inline PendingEntry EmptyEntry(std::string given, std::string stored, std::uint16_t attributes,
                               TDateTime time) {
  PendingEntry entry;
  entry.Given = std::move(given);
  entry.Stored = std::move(stored);
  entry.Attributes = attributes;
  entry.Time = time;
  return entry;
}

struct ArchiveEdit {
  std::vector<std::int32_t> Dropped;  // entries taken out, by index, ascending
  std::vector<PendingEntry> Added;    // appended to the collection in this order
  std::optional<std::string> Comment; // the new comment bytes; none keeps the stored ones
  bool Rebuild = false;               // lay the archive out anew even when in place would do
};

// Writes the change and brings the collection and the end record in step with the archive.
// Returns the entries added. Everything the change is refused for raises EPellumRefused before
// anything is written; any other failure leaves the archive as it was, and the component
// describing it.
std::vector<TPellumEntriesEntry*> CommitChange(TPellum& zip, const ArchiveEdit& change);

} // namespace vornel
