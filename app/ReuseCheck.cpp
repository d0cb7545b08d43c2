#include "app/ReuseCheck.h"

#include "crc/Crc32.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"
#include "zip/Pellum.h"

#include <zlib.h>

#include <limits>
#include <memory>
#include <vector>

namespace vornel {

namespace {

constexpr std::size_t BlockSize = 65536;
constexpr std::uint16_t VersionWritten = 20;
constexpr std::int64_t LargestListable = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t FixedParts =
    TLocalFile::FixedSize + TCentralDirectoryFile::FixedSize + TEndOfDirectory::FixedSize;

// The records a fresh pack of the source writes around c bytes of data: everything before the
// data (local header and name) and everything after (central header, name, end record).
struct FreshRecords {
  std::string Head;
  std::string Tail;
};

FreshRecords MakeFreshRecords(const std::string& name, const FoundFile& source, std::uint32_t crc,
                              std::uint32_t dataSize) {
  // The component takes the time through a date-time value; the DOS value it writes back is
  // the one to expect.
  const TDateTime time =
      source.DosTime != 0 ? DosDateTimeToDateTime(source.DosTime) : source.LastWriteTime;
  const std::uint32_t dos = DateTimeToDosDateTime(time);
  const auto nameLength = static_cast<std::uint16_t>(name.size());

  TLocalFile local;
  local.LocalFileHeaderSignature = LocalFileHeaderSignature;
  local.VersionNeededToExtract = VersionWritten;
  local.CompressionMethod = source.Size > 0 ? 8 : 0;
  local.LastModFileTime = static_cast<std::uint16_t>(dos & 0xFFFF);
  local.LastModFileDate = static_cast<std::uint16_t>(dos >> 16);
  local.Crc32 = crc;
  local.CompressedSize = dataSize;
  local.UncompressedSize = static_cast<std::uint32_t>(source.Size);
  local.FilenameLength = nameLength;

  TCentralDirectoryFile central;
  central.CentralFileHeaderSignature = CentralFileHeaderSignature;
  central.VersionMadeBy = VersionWritten;
  central.VersionNeededToExtract = VersionWritten;
  central.CompressionMethod = local.CompressionMethod;
  central.LastModFileTime = local.LastModFileTime;
  central.LastModFileDate = local.LastModFileDate;
  central.Crc32 = crc;
  central.CompressedSize = dataSize;
  central.UncompressedSize = local.UncompressedSize;
  central.FilenameLength = nameLength;
  central.ExternalFileAttributes = source.Attributes & 0xFFFF;
  central.RelativeOffsetOfLocalHeader = 0;

  TEndOfDirectory end;
  end.EndOfCentralDirSignature = EndOfCentralDirSignature;
  end.TotalEntriesOnThisDisk = 1;
  end.TotalEntries = 1;
  end.SizeOfTheCentralDirectory =
      static_cast<std::uint32_t>(TCentralDirectoryFile::FixedSize) + nameLength;
  end.OffsetOfStartOfCentralDirectory =
      static_cast<std::uint32_t>(TLocalFile::FixedSize) + nameLength + dataSize;

  unsigned char localBytes[TLocalFile::FixedSize];
  unsigned char centralBytes[TCentralDirectoryFile::FixedSize];
  unsigned char endBytes[TEndOfDirectory::FixedSize];
  local.EncodeFixed(localBytes);
  central.EncodeFixed(centralBytes);
  end.EncodeFixed(endBytes);
  FreshRecords records;
  records.Head.assign(reinterpret_cast<const char*>(localBytes), sizeof localBytes);
  records.Head += name;
  records.Tail.assign(reinterpret_cast<const char*>(centralBytes), sizeof centralBytes);
  records.Tail += name;
  records.Tail.append(reinterpret_cast<const char*>(endBytes), sizeof endBytes);
  return records;
}

// Reads the archive front to back exactly once, digesting every byte on the way.
class DigestingReader {
public:
  explicit DigestingReader(Stream& stream) : stream_(stream) { stream_.SetPosition(0); }

  void Read(void* buffer, std::size_t count) {
    stream_.ReadBuffer(buffer, count);
    crc_ = Crc32Update(crc_, buffer, count);
    adler_ = adler32(adler_, static_cast<const Bytef*>(buffer), static_cast<uInt>(count));
    size_ += static_cast<std::int64_t>(count);
  }
  std::string ReadString(std::size_t count) {
    std::string bytes(count, '\0');
    Read(bytes.data(), count);
    return bytes;
  }
  ArchiveDigest Digest() const {
    return ArchiveDigest{size_, ~crc_, static_cast<std::uint32_t>(adler_)};
  }

private:
  Stream& stream_;
  std::uint32_t crc_ = 0xFFFFFFFFu;
  uLong adler_ = adler32(0L, Z_NULL, 0);
  std::int64_t size_ = 0;
};

class Inflater {
public:
  Inflater() {
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK)
      throw std::runtime_error("zlib could not start inflating");
  }
  ~Inflater() { inflateEnd(&stream_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  z_stream& Get() { return stream_; }

private:
  z_stream stream_{};
};

// True when the dataSize bytes at the reader's position are one deflate stream that ends with
// its last byte and unpacks to exactly length bytes with the given CRC-32.
bool DataUnpackTo(DigestingReader& reader, std::int64_t dataSize, std::uint64_t length,
                  std::uint32_t crc) {
  std::vector<unsigned char> input(BlockSize);
  std::vector<unsigned char> output(BlockSize);
  Inflater inflater;
  z_stream& z = inflater.Get();
  std::int64_t left = dataSize;
  std::uint64_t produced = 0;
  std::uint32_t reg = 0xFFFFFFFFu;
  for (bool ended = false; !ended;) {
    if (z.avail_in == 0) {
      if (left == 0)
        return false; // the data stop before the deflate stream does
      const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, BlockSize));
      reader.Read(input.data(), step);
      left -= static_cast<std::int64_t>(step);
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(step);
    }
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
      return false;
    const std::size_t got = output.size() - z.avail_out;
    reg = Crc32Update(reg, output.data(), got);
    produced += got;
    if (produced > length)
      return false;
    ended = status == Z_STREAM_END;
  }
  return z.avail_in == 0 && left == 0 && produced == length && ~reg == crc;
}

} // namespace

std::optional<KeptArchive> CheckReusable(const std::string& sourcePath, const std::string& zipPath,
                                         const std::string& relativePath,
                                         const ArchiveDigest* recorded) {
  if (recorded == nullptr)
    return std::nullopt;
  try {
    const auto source = FindFile(sourcePath);
    const auto archive = FindFile(zipPath);
    if (!source || !archive || ((source->Attributes | archive->Attributes) & attr::Directory) != 0)
      return std::nullopt;
    const std::string name = BareName(sourcePath);
    const auto archiveSize = static_cast<std::int64_t>(archive->Size);
    const std::int64_t dataSize = archiveSize - FixedParts - 2 * std::int64_t(name.size());
    if (archiveSize != recorded->Size || archiveSize > LargestListable ||
        source->Size > static_cast<std::uint64_t>(LargestListable) || dataSize < 0 ||
        (source->Size == 0 && dataSize != 0))
      return std::nullopt;

    const std::uint32_t crc = FileCrc32(sourcePath);
    TPellum pellum;
    pellum.OpenFromStream(std::make_unique<FileStream>(zipPath, FileStream::Mode::OpenRead));
    if (!pellum.GetIsZipFile() || pellum.Entries().Count() != 1 ||
        pellum.Entries()[0].CentralHeader.FileName != name ||
        pellum.GetEndRecord().ZipFileCommentLength != 0)
      return std::nullopt;

    const FreshRecords fresh =
        MakeFreshRecords(name, *source, crc, static_cast<std::uint32_t>(dataSize));
    DigestingReader reader(*pellum.GetArchiveStream());
    if (reader.ReadString(fresh.Head.size()) != fresh.Head)
      return std::nullopt;
    if (source->Size > 0 && !DataUnpackTo(reader, dataSize, source->Size, crc))
      return std::nullopt;
    if (reader.ReadString(fresh.Tail.size()) != fresh.Tail)
      return std::nullopt;
    const ArchiveDigest digest = reader.Digest();
    if (digest != *recorded)
      return std::nullopt;
    return KeptArchive{PackedFile{relativePath, crc, static_cast<std::int32_t>(archiveSize)},
                       digest};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

} // namespace vornel
