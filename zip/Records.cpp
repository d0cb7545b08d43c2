#include "zip/Records.h"

#include "crc/Crc32.h"
#include "crc/Crc32Fast.h"

namespace vornel {

namespace {

// Every multi-byte field is little-endian on disk, whatever the host's byte order.
void Put16(unsigned char* out, std::uint16_t value) {
  out[0] = static_cast<unsigned char>(value & 0xFF);
  out[1] = static_cast<unsigned char>(value >> 8);
}

void Put32(unsigned char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

std::uint16_t Get16(const unsigned char* in) {
  return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

std::uint32_t Get32(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// The component's own table, fixed at compile time.
constexpr Crc32TableType CrcTable = MakeCrc32Table();

} // namespace

void TLocalFile::EncodeFixed(unsigned char* out) const {
  Put32(out + 0, LocalFileHeaderSignature);
  Put16(out + 4, VersionNeededToExtract);
  Put16(out + 6, GeneralPurposeBitFlag);
  Put16(out + 8, CompressionMethod);
  Put16(out + 10, LastModFileTime);
  Put16(out + 12, LastModFileDate);
  Put32(out + 14, Crc32);
  Put32(out + 18, CompressedSize);
  Put32(out + 22, UncompressedSize);
  Put16(out + 26, FilenameLength);
  Put16(out + 28, ExtraFieldLength);
}

void TLocalFile::DecodeFixed(const unsigned char* in) {
  LocalFileHeaderSignature = Get32(in + 0);
  VersionNeededToExtract = Get16(in + 4);
  GeneralPurposeBitFlag = Get16(in + 6);
  CompressionMethod = Get16(in + 8);
  LastModFileTime = Get16(in + 10);
  LastModFileDate = Get16(in + 12);
  Crc32 = Get32(in + 14);
  CompressedSize = Get32(in + 18);
  UncompressedSize = Get32(in + 22);
  FilenameLength = Get16(in + 26);
  ExtraFieldLength = Get16(in + 28);
}

void TCentralDirectoryFile::EncodeFixed(unsigned char* out) const {
  Put32(out + 0, CentralFileHeaderSignature);
  Put16(out + 4, VersionMadeBy);
  Put16(out + 6, VersionNeededToExtract);
  Put16(out + 8, GeneralPurposeBitFlag);
  Put16(out + 10, CompressionMethod);
  Put16(out + 12, LastModFileTime);
  Put16(out + 14, LastModFileDate);
  Put32(out + 16, Crc32);
  Put32(out + 20, CompressedSize);
  Put32(out + 24, UncompressedSize);
  Put16(out + 28, FilenameLength);
  Put16(out + 30, ExtraFieldLength);
  Put16(out + 32, FileCommentLength);
  Put16(out + 34, DiskNumberStart);
  Put16(out + 36, InternalFileAttributes);
  Put32(out + 38, ExternalFileAttributes);
  Put32(out + 42, RelativeOffsetOfLocalHeader);
}

void TCentralDirectoryFile::DecodeFixed(const unsigned char* in) {
  CentralFileHeaderSignature = Get32(in + 0);
  VersionMadeBy = Get16(in + 4);
  VersionNeededToExtract = Get16(in + 6);
  GeneralPurposeBitFlag = Get16(in + 8);
  CompressionMethod = Get16(in + 10);
  LastModFileTime = Get16(in + 12);
  LastModFileDate = Get16(in + 14);
  Crc32 = Get32(in + 16);
  CompressedSize = Get32(in + 20);
  UncompressedSize = Get32(in + 24);
  FilenameLength = Get16(in + 28);
  ExtraFieldLength = Get16(in + 30);
  FileCommentLength = Get16(in + 32);
  DiskNumberStart = Get16(in + 34);
  InternalFileAttributes = Get16(in + 36);
  ExternalFileAttributes = Get32(in + 38);
  RelativeOffsetOfLocalHeader = Get32(in + 42);
}

void TEndOfDirectory::EncodeFixed(unsigned char* out) const {
  Put32(out + 0, EndOfCentralDirSignature);
  Put16(out + 4, NumberOfThisDisk);
  Put16(out + 6, NumberOfTheDiskWithStartOfCentralDirectory);
  Put16(out + 8, TotalEntriesOnThisDisk);
  Put16(out + 10, TotalEntries);
  Put32(out + 12, SizeOfTheCentralDirectory);
  Put32(out + 16, OffsetOfStartOfCentralDirectory);
  Put16(out + 20, ZipFileCommentLength);
}

void TEndOfDirectory::DecodeFixed(const unsigned char* in) {
  EndOfCentralDirSignature = Get32(in + 0);
  NumberOfThisDisk = Get16(in + 4);
  NumberOfTheDiskWithStartOfCentralDirectory = Get16(in + 6);
  TotalEntriesOnThisDisk = Get16(in + 8);
  TotalEntries = Get16(in + 10);
  SizeOfTheCentralDirectory = Get32(in + 12);
  OffsetOfStartOfCentralDirectory = Get32(in + 16);
  ZipFileCommentLength = Get16(in + 20);
}

std::uint32_t PellumCrc32UpdateTable(std::uint32_t reg, const void* buffer, std::size_t length) {
  if (buffer == nullptr)
    return reg;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  for (std::size_t i = 0; i < length; ++i)
    reg = CrcTable[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

std::uint32_t PellumCrc32Update(std::uint32_t reg, const void* buffer, std::size_t length) {
  if (buffer == nullptr || length == 0)
    return reg;
  return Crc32UpdateFast(reg, static_cast<const unsigned char*>(buffer), length);
}

} // namespace vornel
