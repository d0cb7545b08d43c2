#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel {

inline constexpr std::uint32_t LocalFileHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t CentralFileHeaderSignature = 0x02014b50;
inline constexpr std::uint32_t EndOfCentralDirSignature = 0x06054b50;
inline constexpr std::uint32_t DataDescriptorSignature = 0x08074b50;

// Local file header: a 30-byte fixed part, then name, extra field and (when read for
// rewriting) the file data.
struct TLocalFile {
  static constexpr std::size_t FixedSize = 30;

  std::uint32_t LocalFileHeaderSignature = 0;
  std::uint16_t VersionNeededToExtract = 0;
  std::uint16_t GeneralPurposeBitFlag = 0;
  std::uint16_t CompressionMethod = 0;
  std::uint16_t LastModFileTime = 0;
  std::uint16_t LastModFileDate = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t FilenameLength = 0;
  std::uint16_t ExtraFieldLength = 0;
  std::string FileName;
  std::string ExtraField;
  std::string FileData;

  // Little-endian on every host.
  void EncodeFixed(unsigned char* out) const;
  void DecodeFixed(const unsigned char* in);
  void Clear() { *this = TLocalFile{}; }
};

// Central directory file header: a 46-byte fixed part, then name, extra field and comment.
struct TCentralDirectoryFile {
  static constexpr std::size_t FixedSize = 46;

  std::uint32_t CentralFileHeaderSignature = 0;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t VersionNeededToExtract = 0;
  std::uint16_t GeneralPurposeBitFlag = 0;
  std::uint16_t CompressionMethod = 0;
  std::uint16_t LastModFileTime = 0;
  std::uint16_t LastModFileDate = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t FilenameLength = 0;
  std::uint16_t ExtraFieldLength = 0;
  std::uint16_t FileCommentLength = 0;
  std::uint16_t DiskNumberStart = 0;
  std::uint16_t InternalFileAttributes = 0;
  std::uint32_t ExternalFileAttributes = 0;
  std::uint32_t RelativeOffsetOfLocalHeader = 0;
  std::string FileName;
  std::string ExtraField;
  std::string FileComment;

  void EncodeFixed(unsigned char* out) const;
  void DecodeFixed(const unsigned char* in);
  void Clear() { *this = TCentralDirectoryFile{}; }
};

// End of central directory record: the 22-byte fixed part; the comment is held apart.
struct TEndOfDirectory {
  static constexpr std::size_t FixedSize = 22;

  std::uint32_t EndOfCentralDirSignature = 0;
  std::uint16_t NumberOfThisDisk = 0;
  std::uint16_t NumberOfTheDiskWithStartOfCentralDirectory = 0;
  std::uint16_t TotalEntriesOnThisDisk = 0;
  std::uint16_t TotalEntries = 0;
  std::uint32_t SizeOfTheCentralDirectory = 0;
  std::uint32_t OffsetOfStartOfCentralDirectory = 0;
  std::uint16_t ZipFileCommentLength = 0;

  void EncodeFixed(unsigned char* out) const;
  void DecodeFixed(const unsigned char* in);
  void Clear() { *this = TEndOfDirectory{}; }
};

// The component's CRC-32 register update over bytes held in memory, by the fastest method the
// processor supports; the result is always that of PellumCrc32UpdateTable.
std::uint32_t PellumCrc32Update(std::uint32_t reg, const void* buffer, std::size_t length);
// The component's own table, one byte at a time: the reference the fast method must match.
std::uint32_t PellumCrc32UpdateTable(std::uint32_t reg, const void* buffer, std::size_t length);

} // namespace vornel
