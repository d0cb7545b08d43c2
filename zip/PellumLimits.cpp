// What the component can describe. Its records hold 16-bit counts and 32-bit sizes and offsets,
// and it rewrites the directory from the entries it read: an archive that needs the 64-bit
// extensions, or whose directory is not the one its end record describes, would lose entries
// or be corrupted by any rewrite, so changes to it are refused while it stays readable.

#include "zip/Pellum.h"

#include <algorithm>

namespace vornel {

namespace {

constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint16_t Zip64ExtraTag = 0x0001;
constexpr std::uint32_t AllOnes32 = 0xFFFFFFFF;
constexpr std::int64_t Zip64LocatorSize = 20;

const char* const Zip64Reason =
    "zip64 archive (its sizes, offsets or entry count need the 64-bit extensions; this "
    "component writes the 32-bit format only, with at most 65,535 entries below 2 GiB)";
const char* const SplitReason = "split archive (its directory names other disks of a set; this "
                                "component reads and writes single-file archives only)";

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
  if (end.NumberOfThisDisk != 0 || end.NumberOfTheDiskWithStartOfCentralDirectory != 0) {
    reason = SplitReason;
    return;
  }
  for (const auto& item : items_) {
    if (NeedsZip64(*item)) {
      reason = Zip64Reason;
      return;
    }
    if (item->Encrypted) {
      reason = "encrypted entry \"" + item->CentralHeader.FileName +
               "\" (this component neither decrypts nor encrypts: it leaves such archives as they "
               "are)";
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

std::string UnopenableReason(Stream& stream) {
  const std::int64_t size = stream.Size();
  const std::int64_t from = std::max<std::int64_t>(size - 65557, 0);
  stream.SetPosition(from);
  const std::string tail = stream.ReadString(static_cast<std::size_t>(size - from));
  const std::size_t at = tail.rfind(std::string("PK\x05\x06", 4));
  if (at == std::string::npos || tail.size() - at < TEndOfDirectory::FixedSize)
    return {};
  TEndOfDirectory end;
  end.DecodeFixed(reinterpret_cast<const unsigned char*>(tail.data() + at));
  if (end.NumberOfThisDisk != 0 || end.NumberOfTheDiskWithStartOfCentralDirectory != 0)
    return SplitReason;
  if (end.TotalEntries == 0xFFFF || end.TotalEntriesOnThisDisk == 0xFFFF ||
      end.SizeOfTheCentralDirectory == AllOnes32 ||
      end.OffsetOfStartOfCentralDirectory == AllOnes32 ||
      HasZip64Locator(stream, from + static_cast<std::int64_t>(at)))
    return Zip64Reason;
  return {};
}

void TPellum::RefuseUndescribable() const {
  if (!Refusal.empty())
    throw EPellumRefused(Refusal + ": changes are not supported");
}

} // namespace vornel
