#include "zip/FreshEntry.h"

#include "platform/Stream.h"
#include "zip/RecordIo.h"

namespace vornel {

NewEntryRecords DescribeNewEntry(const std::string& name, std::uint16_t attributes, TDateTime time,
                                 const EntryData& data) {
  const std::uint32_t dos = DateTimeToDosDateTime(time);
  NewEntryRecords records;
  TLocalFile& local = records.Local;
  local.LocalFileHeaderSignature = LocalFileHeaderSignature;
  local.VersionNeededToExtract = VersionWritten;
  local.LastModFileTime = static_cast<std::uint16_t>(dos & 0xFFFF);
  local.LastModFileDate = static_cast<std::uint16_t>(dos >> 16);
  local.FilenameLength = static_cast<std::uint16_t>(name.size());
  local.FileName = name;

  TCentralDirectoryFile& central = records.Central;
  central.CentralFileHeaderSignature = CentralFileHeaderSignature;
  central.VersionMadeBy = VersionWritten;
  central.VersionNeededToExtract = VersionWritten;
  central.LastModFileTime = local.LastModFileTime;
  central.LastModFileDate = local.LastModFileDate;
  central.FilenameLength = local.FilenameLength;
  central.ExternalFileAttributes = attributes;
  central.FileName = name;
  SetEntryData(records, data);
  return records;
}

void SetEntryData(NewEntryRecords& records, const EntryData& data) {
  records.Local.CompressionMethod = records.Central.CompressionMethod = data.Method;
  records.Local.Crc32 = records.Central.Crc32 = data.Crc32;
  records.Local.CompressedSize = records.Central.CompressedSize = data.CompressedSize;
  records.Local.UncompressedSize = records.Central.UncompressedSize = data.UncompressedSize;
}

void SetEntryFlags(NewEntryRecords& records, std::uint16_t flags) {
  records.Local.GeneralPurposeBitFlag = records.Central.GeneralPurposeBitFlag = flags;
}

TDateTime EntryTimeOf(const FoundFile& file) {
  return file.DosTime != 0 ? DosDateTimeToDateTime(file.DosTime) : file.LastWriteTime;
}

SingleEntryLayout DescribeSingleEntryArchive(const NewEntryRecords& records) {
  MemoryStream head;
  WriteLocalRecord(head, records.Local, false);
  MemoryStream tail;
  TCentralDirectoryFile central = records.Central;
  central.RelativeOffsetOfLocalHeader = 0;
  WriteCentralRecord(tail, central);
  TEndOfDirectory end;
  end.EndOfCentralDirSignature = EndOfCentralDirSignature;
  end.TotalEntriesOnThisDisk = 1;
  end.TotalEntries = 1;
  end.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(tail.Size());
  end.OffsetOfStartOfCentralDirectory =
      static_cast<std::uint32_t>(head.Size()) + records.Local.CompressedSize;
  WriteEndRecord(tail, end);
  return SingleEntryLayout{head.Bytes(), tail.Bytes()};
}

} // namespace vornel
