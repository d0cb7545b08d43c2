#include "platform/Errors.h"
#include "zip/Pellum.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vornel {

namespace {

constexpr unsigned char LocalSignatureBytes[4] = {0x50, 0x4B, 0x03, 0x04};
constexpr std::uint16_t DataDescriptorFlag = 0x0008;

enum class LocalRead { Missing, Truncated, Complete };

// Reads the fixed part, name and extra field of the local header at offset, never past the end
// of the stream. Missing: fewer than 4 bytes or no signature. Truncated: the signature is there
// but the header runs past the end. The record is filled only when Complete.
LocalRead ReadLocalParts(Stream& stream, std::int64_t offset, std::int64_t size,
                         TLocalFile& record) {
  record.Clear();
  if (offset < 0 || offset > size - 4)
    return LocalRead::Missing;
  unsigned char fixed[TLocalFile::FixedSize];
  stream.SetPosition(offset);
  stream.ReadBuffer(fixed, 4);
  if (std::memcmp(fixed, LocalSignatureBytes, 4) != 0)
    return LocalRead::Missing;
  if (offset > size - static_cast<std::int64_t>(TLocalFile::FixedSize))
    return LocalRead::Truncated;
  stream.ReadBuffer(fixed + 4, TLocalFile::FixedSize - 4);
  TLocalFile read;
  read.DecodeFixed(fixed);
  const std::int64_t variableEnd = offset + static_cast<std::int64_t>(TLocalFile::FixedSize) +
                                   read.FilenameLength + read.ExtraFieldLength;
  if (variableEnd > size)
    return LocalRead::Truncated;
  if (read.FilenameLength != 0)
    read.FileName = stream.ReadString(read.FilenameLength);
  if (read.ExtraFieldLength != 0)
    read.ExtraField = stream.ReadString(read.ExtraFieldLength);
  record = std::move(read);
  return LocalRead::Complete;
}

} // namespace

void TPellumEntries::LoadDirectory(Stream& stream) {
  Recognised = false;
  Clear();
  Archive().Refusal.clear();
  if (LocateEndRecord(stream)) {
    if (ReadCentralDirectory(stream)) {
      Recognised = true;
      ReadLocalHeaders(stream);
      MeasureDescriptors(stream);
      CheckDescribable(stream);
    }
  } else if (ScanLocalHeaders(stream)) {
    Recognised = Count() > 0;
  }
}

bool TPellumEntries::LocateEndRecord(Stream& stream) {
  TPellum& zip = Archive();
  const std::int64_t size = stream.Size();
  if (size < static_cast<std::int64_t>(TEndOfDirectory::FixedSize))
    return false;
  std::int64_t window = std::min<std::int64_t>(size, 256);
  std::int64_t left = window;
  std::int64_t p = size - 22;
  for (;;) {
    unsigned char bytes[4];
    stream.SetPosition(p);
    stream.ReadBuffer(bytes, 4);
    if (bytes[0] != 0x50) {
      p -= 1;
      left -= 1;
    } else if (bytes[1] == 0x4B && bytes[2] == 0x05 && bytes[3] == 0x06) {
      zip.EndRecordPosition = p;
      unsigned char fixed[TEndOfDirectory::FixedSize];
      stream.SetPosition(p);
      stream.ReadBuffer(fixed, sizeof fixed);
      zip.EndRecord.DecodeFixed(fixed);
      zip.CommentPosition = p + 22;
      zip.CommentLines.clear();
      return true;
    } else {
      // A signature starting one to three bytes below p would need 0x4B, 0x05 or 0x06 where
      // this 0x50 stands, so four positions can be skipped at once.
      p -= 4;
      left -= 4;
    }
    if (left < 0) {
      if (window == 256) {
        window = 1024;
        p = size - 278;
        left = 1024;
      } else if (window == 1024) {
        window = 65536;
        p = size - 1046;
        left = 65536;
      } else if (window == 65536) {
        return false;
      }
      if (left < 0)
        return false;
    }
    if (window > size || p < 0)
      return false;
  }
}

bool TPellumEntries::ReadCentralDirectory(Stream& stream) {
  TPellum& zip = Archive();
  const std::uint32_t total = zip.EndRecord.TotalEntriesOnThisDisk;
  try {
    const std::int64_t size = stream.Size();
    std::int64_t position = zip.EndRecord.OffsetOfStartOfCentralDirectory;
    // A count that cannot fit in the bytes left is refused before anything is read.
    if (position > size ||
        std::int64_t{total} * static_cast<std::int64_t>(TCentralDirectoryFile::FixedSize) >
            size - position)
      return false;
    stream.SetPosition(position);
    directoryEnd_ = position;
    for (std::uint32_t i = 0; i < total; ++i) {
      unsigned char fixed[TCentralDirectoryFile::FixedSize];
      stream.ReadBuffer(fixed, sizeof fixed);
      position += static_cast<std::int64_t>(sizeof fixed);
      TCentralDirectoryFile header;
      header.DecodeFixed(fixed);
      TPellumEntriesEntry& entry = Add();
      const std::int64_t variable =
          std::int64_t{header.FilenameLength} + header.ExtraFieldLength + header.FileCommentLength;
      if (variable > size - position)
        return false;
      if (header.FilenameLength != 0)
        header.FileName = stream.ReadString(header.FilenameLength);
      if (header.ExtraFieldLength != 0)
        header.ExtraField = stream.ReadString(header.ExtraFieldLength);
      if (header.FileCommentLength != 0)
        header.FileComment = stream.ReadString(header.FileCommentLength);
      position += variable;
      directoryEnd_ = position;
      DeriveEntryValues(entry, header);
      entry.CentralHeader = std::move(header);
      if (zip.OnZipOpen)
        zip.OnZipOpen(zip, static_cast<std::int32_t>(i), static_cast<std::int32_t>(total));
    }
  } catch (...) {
    // Any failure, a handler's included, means the directory is not usable.
    return false;
  }
  return Count() == static_cast<std::int32_t>(total);
}

void TPellumEntries::ReadLocalRecord(Stream& stream, std::int64_t offset, TLocalFile& record,
                                     bool headersOnly, const TPellumEntriesEntry* entry) {
  const TCentralDirectoryFile* central = entry ? &entry->CentralHeader : nullptr;
  const std::int64_t size = stream.Size();
  const LocalRead state = ReadLocalParts(stream, offset, size, record);
  if (state == LocalRead::Missing)
    return;
  if (state == LocalRead::Truncated) {
    if (!headersOnly)
      RaiseIoError(io_error::ReadBeyondEnd, stream.Name(), IoOperation::Read);
    return;
  }
  const bool descriptor = (record.GeneralPurposeBitFlag & DataDescriptorFlag) != 0;
  if (descriptor && central != nullptr) {
    // The local fields of such an entry are placeholders; the central header has the values.
    record.Crc32 = central->Crc32;
    record.CompressedSize = central->CompressedSize;
    record.UncompressedSize = central->UncompressedSize;
  }
  if (headersOnly)
    return;
  // The descriptor travels with the data so that a rewritten entry stays what it was.
  std::int64_t descriptorLength = 0;
  if (descriptor)
    descriptorLength = entry && entry->DescriptorLength >= 0 ? entry->DescriptorLength : 16;
  const std::int64_t length = std::int64_t{record.CompressedSize} + descriptorLength;
  if (length > size - stream.Position())
    RaiseIoError(io_error::ReadBeyondEnd, stream.Name(), IoOperation::Read);
  if (length > 0)
    record.FileData = stream.ReadString(static_cast<std::size_t>(length));
}

void TPellumEntries::ReadLocalHeader(Stream& stream, std::int64_t offset, TLocalFile& record,
                                     bool headersOnly) {
  const TPellumEntriesEntry* entry = nullptr;
  for (const auto& item : items_) {
    if (item->CentralHeader.RelativeOffsetOfLocalHeader == offset) {
      entry = item.get();
      break;
    }
  }
  ReadLocalRecord(stream, offset, record, headersOnly, entry);
}

void TPellumEntries::ReadEntryLocalHeader(Stream& stream, const TPellumEntriesEntry& entry,
                                          TLocalFile& record, bool headersOnly) {
  ReadLocalRecord(stream, entry.CentralHeader.RelativeOffsetOfLocalHeader, record, headersOnly,
                  &entry);
}

void TPellumEntries::ReadLocalHeaders(Stream& stream) {
  TPellum& zip = Archive();
  const std::int32_t total = zip.EndRecord.TotalEntriesOnThisDisk;
  for (std::int32_t i = 0; i < Count(); ++i) {
    if (zip.OnZipOpen)
      zip.OnZipOpen(zip, i, total);
    TPellumEntriesEntry& entry = *items_[i];
    TLocalFile record;
    ReadEntryLocalHeader(stream, entry, record, true);
    entry.LocalHeader = std::move(record);
  }
}

void TPellumEntries::MeasureDescriptors(Stream& stream) {
  TPellum& zip = Archive();
  const bool any = std::any_of(items_.begin(), items_.end(), [](const auto& item) {
    return (item->CentralHeader.GeneralPurposeBitFlag & DataDescriptorFlag) != 0;
  });
  if (!any)
    return;
  // Where the records of the archive begin: the span of an entry whose descriptor cannot be
  // read ends at the next of them.
  std::vector<std::int64_t> starts{zip.EndRecordPosition,
                                   std::int64_t{zip.EndRecord.OffsetOfStartOfCentralDirectory}};
  for (const auto& item : items_)
    starts.push_back(item->CentralHeader.RelativeOffsetOfLocalHeader);
  std::sort(starts.begin(), starts.end());
  const std::int64_t size = stream.Size();
  for (const auto& item : items_) {
    TPellumEntriesEntry& entry = *item;
    const TCentralDirectoryFile& central = entry.CentralHeader;
    const TLocalFile& local = entry.LocalHeader;
    if (!(central.GeneralPurposeBitFlag & DataDescriptorFlag) ||
        local.LocalFileHeaderSignature != LocalFileHeaderSignature)
      continue;
    const std::int64_t dataEnd = std::int64_t{central.RelativeOffsetOfLocalHeader} +
                                 std::int64_t{TLocalFile::FixedSize} + local.FilenameLength +
                                 local.ExtraFieldLength + central.CompressedSize;
    unsigned char bytes[16] = {};
    std::int64_t available = 0;
    if (dataEnd < size) {
      available = std::min<std::int64_t>(size - dataEnd, sizeof bytes);
      stream.SetPosition(dataEnd);
      stream.ReadBuffer(bytes, static_cast<std::size_t>(available));
    }
    // The descriptor repeats the CRC and both sizes, after its signature when it has one.
    const auto repeats = [&](const unsigned char* at) {
      TLocalFile values;
      unsigned char fixed[TLocalFile::FixedSize] = {};
      std::copy(at, at + 12, fixed + 14);
      values.DecodeFixed(fixed);
      return values.Crc32 == central.Crc32 && values.CompressedSize == central.CompressedSize &&
             values.UncompressedSize == central.UncompressedSize;
    };
    constexpr unsigned char Signature[4] = {0x50, 0x4B, 0x07, 0x08};
    if (available >= 16 && std::equal(Signature, Signature + 4, bytes) && repeats(bytes + 4)) {
      entry.DescriptorLength = 16;
    } else if (available >= 12 && repeats(bytes)) {
      entry.DescriptorLength = 12;
    } else {
      const auto next = std::lower_bound(starts.begin(), starts.end(), dataEnd);
      if (next != starts.end() && *next - dataEnd <= 0x7FFFFFFF)
        entry.DescriptorLength = static_cast<std::int32_t>(*next - dataEnd);
    }
  }
}

bool TPellumEntries::ScanLocalHeaders(Stream& stream) {
  TPellum& zip = Archive();
  Clear();
  bool result = false;
  std::uint32_t count = 0;
  std::int64_t centralSize = 0;
  std::int64_t examined = 0; // the position examined last
  std::int64_t size = 0;
  try {
    size = stream.Size();
    std::int64_t p = 0;
    // Every step moves p forward by at least a fixed header, so the scan always ends.
    for (;;) {
      examined = p;
      if (count == 0xFFFF) // the most that the end record can count
        break;
      TLocalFile local;
      const LocalRead state = ReadLocalParts(stream, p, size, local);
      if (state == LocalRead::Missing)
        break;
      result = true;
      // A header cut off by the end, or one whose sizes follow in a data descriptor (its data
      // have no known end without a central header), ends the scan before that entry.
      if (state == LocalRead::Truncated || (local.GeneralPurposeBitFlag & DataDescriptorFlag))
        break;
      const std::int64_t next = stream.Position() + local.CompressedSize;

      TCentralDirectoryFile header;
      header.CentralFileHeaderSignature = CentralFileHeaderSignature;
      header.VersionMadeBy = 20;
      header.VersionNeededToExtract = local.VersionNeededToExtract;
      header.GeneralPurposeBitFlag = local.GeneralPurposeBitFlag;
      header.CompressionMethod = local.CompressionMethod;
      header.LastModFileTime = local.LastModFileTime;
      header.LastModFileDate = local.LastModFileDate;
      header.Crc32 = local.Crc32;
      header.CompressedSize = local.CompressedSize;
      header.UncompressedSize = local.UncompressedSize;
      header.FilenameLength = local.FilenameLength;
      header.ExtraFieldLength = local.ExtraFieldLength;
      const bool folder = !local.FileName.empty() && local.FileName.back() == '/';
      header.ExternalFileAttributes = folder ? 0x10 : 0x20;
      header.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(p);
      header.FileName = local.FileName;
      header.ExtraField = local.ExtraField;

      TPellumEntriesEntry& entry = Add();
      try {
        DeriveEntryValues(entry, header);
      } catch (...) {
        // A date that is no date ends the scan; the half-made entry is not kept.
        Delete(Count() - 1);
        break;
      }
      entry.CentralHeader = std::move(header);
      p = next;
      ++count;
      centralSize += entry.CentralSpan();
    }
  } catch (...) {
    // A failing read ends the scan; what was found so far stands.
  }
  // The rebuilt directory goes just past the last 4 bytes examined, never past the end; the
  // positions are set with it so that a later write uses this archive's, not an earlier one's.
  const std::int64_t directory = std::min(examined + 4, size);
  TEndOfDirectory record;
  record.EndOfCentralDirSignature = EndOfCentralDirSignature;
  record.TotalEntriesOnThisDisk = static_cast<std::uint16_t>(count);
  record.TotalEntries = static_cast<std::uint16_t>(count);
  record.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(centralSize);
  record.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(directory);
  zip.EndRecord = record;
  zip.EndRecordPosition = directory;
  zip.CommentPosition = directory + 22;
  zip.CommentLines.clear();
  return result;
}

} // namespace vornel
