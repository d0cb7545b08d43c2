// Fuzz target: opens arbitrary bytes as an archive held in memory, reads everything the
// component offers and removes entries until none is left.
//
// Input: one control byte, then the archive bytes. Control bit 0 picks the save method
// (0 in place, 1 rebuilding in memory), bit 1 writes a comment first, bits 2-7 pick which
// entry goes first.
//
// Only the component's exceptions (std::exception) are expected; anything else, a crash, a
// sanitizer report, a refused change that wrote anything or a broken invariant is a finding.

#include "platform/Stream.h"
#include "zip/Pellum.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using vornel::TPellum;

std::string ArchiveBytes(TPellum& zip) {
  vornel::Stream& stream = *zip.GetArchiveStream();
  stream.SetPosition(0);
  return stream.ReadString(static_cast<std::size_t>(stream.Size()));
}

// What a successful change leaves must load again with exactly the entries that are left,
// whenever the end record search can reach the record (a long comment in a short archive, or one
// that holds an end record signature, hides it by design).
void CheckReloads(TPellum& zip) {
  const std::string bytes = ArchiveBytes(zip);
  TPellum probe;
  vornel::MemoryStream stream(bytes);
  if (!probe.Entries().LocateEndRecord(stream) ||
      probe.GetEndRecordPosition() != zip.GetEndRecordPosition())
    return;
  TPellum again;
  again.OpenFromStream(std::make_unique<vornel::MemoryStream>(bytes));
  if (!again.GetIsZipFile() || again.Entries().Count() != zip.Entries().Count())
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::uint8_t control = data[0];
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  TPellum zip;
  zip.SetSaveMethod((control & 1) ? vornel::TZipSaveMethod::RebuildAll
                                  : vornel::TZipSaveMethod::FastSave);
  std::string before; // the archive as it was before the change under way
  try {
    zip.OpenFromStream(std::make_unique<vornel::MemoryStream>(std::move(bytes)));
    if (!zip.GetIsZipFile())
      return 0;
    vornel::TPellumEntries& entries = zip.Entries();
    for (std::int32_t i = 0; i < entries.Count(); ++i) {
      const vornel::TPellumEntriesEntry& entry = entries[i];
      (void)entry.LocalSpan();
      (void)entry.CentralSpan();
      (void)entries.IndexOfName(entry.CentralHeader.FileName);
    }
    zip.GetComment();
    zip.GetFileNames();
    if (control & 2) {
      before = ArchiveBytes(zip);
      zip.SetComment({"fuzz", "comment"});
      CheckReloads(zip);
    }
    std::int32_t first = control >> 2;
    while (zip.GetIsZipFile() && entries.Count() > 0) {
      before = ArchiveBytes(zip);
      entries.RemoveEntry(first % entries.Count());
      first = 0;
      CheckReloads(zip);
      zip.GetFileNames();
    }
  } catch (const vornel::EPellumRefused&) {
    // Refusals come before any write: nothing of the archive may have changed.
    if (zip.GetArchiveStream() == nullptr || ArchiveBytes(zip) != before)
      std::abort();
  } catch (const std::exception&) {
    // Damaged archives end in the component's own errors.
  }
  return 0;
}
