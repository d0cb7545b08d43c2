// What the component can describe. Its records hold 16-bit counts and 32-bit sizes and offsets,
// and it rewrites the directory from the entries it read: an archive that needs the 64-bit
// extensions, or whose directory is not the one its end record describes, would lose entries
// or be corrupted by any rewrite, so changes to it are refused while it stays readable.

#include "zip/Pellum.h"

namespace vornel {

namespace {

constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint16_t Zip64ExtraTag = 0x0001;
constexpr std::uint32_t AllOnes32 = 0xFFFFFFFF;
constexpr std::int64_t Zip64LocatorSize = 20;

const char* const Zip64Reason = "zip64 archive";

// True when the extra field holds a block with the tag; a malformed field is read as far as
// its blocks are whole.
bool HasExtraBlock(const std::string& extra, std::uint16_t tag) {
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(extra[at + i]); };
    const auto id = static_cast<std::uint16_t>(byte(0) | byte(1) << 8);
    const std::size_t length = byte(2) | byte(3) << 8;
    if (id == tag)
      return true;
    at += 4 + length;
  }
  return false;
}

bool NeedsZip64(const TPellumEntriesEntry& entry) {
  const TCentralDirectoryFile& central = entry.CentralHeader;
  const TLocalFile& local = entry.LocalHeader;
  return central.CompressedSize == AllOnes32 || central.UncompressedSize == AllOnes32 ||
         central.RelativeOffsetOfLocalHeader == AllOnes32 || local.CompressedSize == AllOnes32 ||
         local.UncompressedSize == AllOnes32 || HasExtraBlock(central.ExtraField, Zip64ExtraTag) ||
         HasExtraBlock(local.ExtraField, Zip64ExtraTag);
}

bool HasZip64Locator(Stream& stream, std::int64_t endPosition) {
  if (endPosition < Zip64LocatorSize)
    return false;
  unsigned char bytes[4];
  stream.SetPosition(endPosition - Zip64LocatorSize);
  stream.ReadBuffer(bytes, sizeof bytes);
  const std::uint32_t signature =
      static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
      static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return signature == Zip64LocatorSignature;
}

} // namespace

void TPellumEntries::CheckDescribable(Stream& stream) {
  TPellum& zip = Archive();
  const TEndOfDirectory& end = zip.EndRecord;
  std::string& reason = zip.Refusal;
  reason.clear();
  if (end.SizeOfTheCentralDirectory == AllOnes32 ||
      end.OffsetOfStartOfCentralDirectory == AllOnes32 ||
      HasZip64Locator(stream, zip.EndRecordPosition)) {
    reason = Zip64Reason;
    return;
  }
  for (const auto& item : items_) {
    if (NeedsZip64(*item)) {
      reason = Zip64Reason;
      return;
    }
  }
  const std::int64_t directoryEnd =
      std::int64_t{end.OffsetOfStartOfCentralDirectory} + end.SizeOfTheCentralDirectory;
  if (directoryEnd != zip.EndRecordPosition)
    reason = "the directory does not end where its end record begins";
  else if (directoryEnd_ < directoryEnd)
    reason = "the directory holds more than the entries its end record counts";
  else if (directoryEnd_ > directoryEnd)
    reason = "the directory's records run into its end record";
}

void TPellum::RefuseUndescribable() const {
  if (!Refusal.empty())
    throw EPellumRefused(Refusal + ": changes are not supported");
}

} // namespace vornel
