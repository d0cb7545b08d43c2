#include "app/ArchiveCheck.h"

#include "crc/Crc32.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"
#include "zip/EntryReader.h"
#include "zip/Pellum.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace vornel {

namespace {

// Archives up to this size are read whole; memory per job stays bounded by it.
constexpr std::int64_t WholeReadLimit = 1024 * 1024;

struct Unpacked {
  std::uint32_t Crc = 0;
  std::uint64_t Length = 0;
};

// Unpacks the entry's data from the archive stream's current position, stopping as soon as the
// output passes the size the entry declares.
std::optional<Unpacked> Unpack(Stream& archive, const TCentralDirectoryFile& central,
                               std::vector<std::string>& problems) {
  try {
    EntryReader reader(archive, central.CompressionMethod, central.CompressedSize,
                       central.UncompressedSize);
    const auto block = std::make_unique_for_overwrite<unsigned char[]>(IoBlockSize);
    while (reader.Read(block.get(), IoBlockSize) != 0) {
    }
    return Unpacked{reader.Crc32(), reader.Produced()};
  } catch (const EEntryDataError& error) {
    problems.push_back(error.what());
    return std::nullopt;
  }
}

// The archive must end with its end record (and comment) describing one central directory right
// in front of it: a reader that starts from the end, as unzip and the client do, finds nothing
// otherwise, however intact the entries may be.
void CheckEndRecord(Stream& archive, std::int64_t openedAt, std::vector<std::string>& problems) {
  const std::int64_t size = archive.Size();
  const std::int64_t tail = std::min<std::int64_t>(size, TEndOfDirectory::FixedSize + 0xFFFF);
  archive.SetPosition(size - tail);
  const std::string bytes = archive.ReadString(static_cast<std::size_t>(tail));
  for (std::int64_t at = tail - static_cast<std::int64_t>(TEndOfDirectory::FixedSize); at >= 0;
       --at) {
    const auto* record = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    if (record[0] != 0x50 || record[1] != 0x4B || record[2] != 0x05 || record[3] != 0x06)
      continue;
    TEndOfDirectory end;
    end.DecodeFixed(record);
    if (at + static_cast<std::int64_t>(TEndOfDirectory::FixedSize) + end.ZipFileCommentLength !=
        tail)
      continue; // a signature inside the comment or the data, not the record
    const std::int64_t recordPosition = size - tail + at;
    if (static_cast<std::int64_t>(end.OffsetOfStartOfCentralDirectory) +
            end.SizeOfTheCentralDirectory !=
        recordPosition)
      problems.push_back("the central directory does not end where the end record begins");
    // Readers such as unzip take other disk numbers, or counts that differ, for a split archive
    // and refuse it.
    if (end.NumberOfThisDisk != 0 || end.NumberOfTheDiskWithStartOfCentralDirectory != 0 ||
        end.TotalEntries != end.TotalEntriesOnThisDisk)
      problems.push_back("the end record's disk numbers or entry counts describe a split archive");
    // The component takes the last signature it meets; one inside the comment would make it read
    // another directory than the one a reader from the end finds.
    if (recordPosition != openedAt)
      problems.push_back("the archive opens with another end record than the one at its end");
    return;
  }
  problems.push_back("the end of central directory record is missing");
}

void CompareHeaders(const TCentralDirectoryFile& central, const TLocalFile& local,
                    std::vector<std::string>& problems) {
  if (local.CompressionMethod != central.CompressionMethod || local.Crc32 != central.Crc32 ||
      local.CompressedSize != central.CompressedSize ||
      local.UncompressedSize != central.UncompressedSize || local.FileName != central.FileName ||
      local.GeneralPurposeBitFlag != central.GeneralPurposeBitFlag)
    problems.push_back("the local header disagrees with the central directory");
}

void CheckNameMarking(const TCentralDirectoryFile& central, CodePage names,
                      std::vector<std::string>& problems) {
  if (!names.IsSet() || IsPlainAscii(central.FileName))
    return;
  const bool markedUtf8 = (central.GeneralPurposeBitFlag & Utf8NameFlag) != 0;
  if (names.IsUtf8() && !markedUtf8)
    problems.push_back("the entry's UTF-8 name is not marked as UTF-8");
  else if (!names.IsUtf8() && markedUtf8)
    problems.push_back("the entry's name is marked as UTF-8, not as code page " + names.Name());
}

void CheckEntry(TPellum& pellum, const ArchiveExpectation& expected,
                std::vector<std::string>& problems) {
  const TCentralDirectoryFile& central = pellum.Entries()[0].CentralHeader;
  // The component reads the directory without looking at the signatures; unzip does not.
  if (central.CentralFileHeaderSignature != CentralFileHeaderSignature)
    problems.push_back("the central directory header's signature is missing");
  else if (pellum.GetEndRecord().SizeOfTheCentralDirectory != pellum.Entries()[0].CentralSpan())
    problems.push_back("the central directory holds more than its one entry");
  if (central.FileName != expected.EntryName)
    problems.push_back("the entry is named \"" + central.FileName + "\", not \"" +
                       expected.EntryName + "\"");
  CheckNameMarking(central, expected.Names, problems);
  if ((central.GeneralPurposeBitFlag & 1) != 0) {
    problems.push_back("the entry is encrypted");
    return;
  }
  if ((central.GeneralPurposeBitFlag & 8) != 0) {
    problems.push_back("the entry uses a data descriptor, which the packer never writes");
    return;
  }
  if (central.CompressionMethod != 0 && central.CompressionMethod != 8) {
    problems.push_back("the entry uses compression method " +
                       std::to_string(central.CompressionMethod));
    return;
  }
  if (central.CompressionMethod == 0 && central.CompressedSize != central.UncompressedSize) {
    problems.push_back("the stored entry's two sizes differ");
    return;
  }

  Stream& archive = *pellum.GetArchiveStream();
  TLocalFile local;
  pellum.Entries().ReadLocalHeader(archive, central.RelativeOffsetOfLocalHeader, local, true);
  if (local.LocalFileHeaderSignature == 0) {
    problems.push_back("the entry's local header is missing");
    return;
  }
  CompareHeaders(central, local, problems);
  const std::int64_t dataStart = static_cast<std::int64_t>(central.RelativeOffsetOfLocalHeader) +
                                 static_cast<std::int64_t>(TLocalFile::FixedSize) +
                                 local.FilenameLength + local.ExtraFieldLength;
  if (dataStart + static_cast<std::int64_t>(central.CompressedSize) > archive.Size()) {
    problems.push_back("the entry's data run past the end of the archive");
    return;
  }
  archive.SetPosition(dataStart);
  const auto unpacked = Unpack(archive, central, problems);
  if (!unpacked)
    return;
  if (unpacked->Length != central.UncompressedSize)
    problems.push_back("the data unpack to " + std::to_string(unpacked->Length) +
                       " bytes, the entry declares " + std::to_string(central.UncompressedSize));
  if (unpacked->Crc != central.Crc32)
    problems.push_back("the data's CRC-32 is " + std::to_string(unpacked->Crc) +
                       ", the entry declares " + std::to_string(central.Crc32));
  if (unpacked->Crc != expected.Crc)
    problems.push_back("the data's CRC-32 is " + std::to_string(unpacked->Crc) +
                       ", updates.lst lists " + std::to_string(expected.Crc));
}

// The archive's own checks, on the stream that holds it.
void CheckContent(std::unique_ptr<Stream> stream, const ArchiveExpectation& expected,
                  std::vector<std::string>& problems) {
  try {
    TPellum pellum;
    pellum.OpenFromStream(std::move(stream));
    if (!pellum.GetIsZipFile()) {
      problems.push_back("it is not a zip archive");
      return;
    }
    CheckEndRecord(*pellum.GetArchiveStream(), pellum.GetEndRecordPosition(), problems);
    if (pellum.Entries().Count() != 1) {
      problems.push_back("it holds " + std::to_string(pellum.Entries().Count()) +
                         " entries instead of 1");
      if (pellum.Entries().Count() == 0)
        return;
    }
    CheckEntry(pellum, expected, problems);
  } catch (const std::exception& error) {
    problems.push_back(std::string("it cannot be read: ") + error.what());
  }
}

void CheckListedSize(std::uint64_t size, const ArchiveExpectation& expected, const char* where,
                     std::vector<std::string>& problems) {
  if (expected.Size == -1)
    problems.push_back("updates.lst lists the archive as missing (size -1)");
  else if (size != static_cast<std::uint64_t>(static_cast<std::int64_t>(expected.Size)))
    problems.push_back("the archive is " + std::to_string(size) + " bytes " + where +
                       ", updates.lst lists " + std::to_string(expected.Size));
}

} // namespace

std::vector<std::string> CheckArchive(const std::string& zipPath,
                                      const ArchiveExpectation& expected) {
  std::vector<std::string> problems;
  std::unique_ptr<Stream> stream;
  std::int64_t size = 0;
  try {
    // Opened for reading only: checking must never change the set.
    auto file = std::make_unique<FileStream>(zipPath, FileStream::Mode::OpenRead);
    size = file->Size();
    // A small archive is read with one call and checked in memory: the checks' many small
    // reads and seeks would otherwise cost more system calls than the unpacking costs time.
    if (size <= WholeReadLimit)
      stream = std::make_unique<MemoryStream>(file->ReadString(static_cast<std::size_t>(size)));
    else
      stream = std::move(file);
  } catch (const std::exception& error) {
    // Looked up only when the open fails, so that a sound archive costs one call less.
    const auto found = FindFile(zipPath);
    if (!found || (found->Attributes & attr::Directory) != 0)
      return {"the archive is missing"};
    CheckListedSize(found->Size, expected, "on disk", problems);
    problems.push_back(std::string("it cannot be read: ") + error.what());
    return problems;
  }
  CheckListedSize(static_cast<std::uint64_t>(size), expected, "on disk", problems);
  CheckContent(std::move(stream), expected, problems);
  return problems;
}

std::vector<std::string> CheckArchiveBytes(std::string bytes, const ArchiveExpectation& expected) {
  std::vector<std::string> problems;
  CheckListedSize(bytes.size(), expected, "as served", problems);
  CheckContent(std::make_unique<MemoryStream>(std::move(bytes)), expected, problems);
  return problems;
}

} // namespace vornel
