// Byte layouts of the records, the component's CRC-32, DOS dates and derived entry values.

#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/zip/ZipTestUtil.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace vornel;
using vornel::ziptest::Le16;
using vornel::ziptest::Le32;

TEST(PellumCrc, KnownValuesAndAgreementWithZlib) {
  EXPECT_EQ(TPellumEntries::StringCrc32("abc"), 0x352441C2u);
  EXPECT_EQ(TPellumEntries::StringCrc32(""), 0u);
  const std::string data = test::RandomBytes(10000, 7);
  const std::uint32_t whole = TPellumEntries::StringCrc32(data);
  EXPECT_EQ(whole, crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
  // Fed in pieces through the running register, the result is the same.
  std::uint32_t reg = PellumCrc32Update(0xFFFFFFFFu, data.data(), 3333);
  reg = PellumCrc32Update(reg, data.data() + 3333, data.size() - 3333);
  EXPECT_EQ(reg ^ 0xFFFFFFFFu, whole);
  EXPECT_EQ(PellumCrc32Update(0x1234u, nullptr, 5), 0x1234u);
}

TEST(Records, LocalHeaderLayoutAndRoundTrip) {
  TLocalFile local;
  local.LocalFileHeaderSignature = LocalFileHeaderSignature;
  local.VersionNeededToExtract = 20;
  local.GeneralPurposeBitFlag = 0x0102;
  local.CompressionMethod = 8;
  local.LastModFileTime = 0x645C;
  local.LastModFileDate = 0x58A6;
  local.Crc32 = 0xA1B2C3D4;
  local.CompressedSize = 0x01020304;
  local.UncompressedSize = 0x05060708;
  local.FilenameLength = 0x0A0B;
  local.ExtraFieldLength = 0x0C0D;
  std::string bytes(TLocalFile::FixedSize, '\0');
  local.EncodeFixed(reinterpret_cast<unsigned char*>(bytes.data()));
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_EQ(Le16(bytes, 4), 20);
  EXPECT_EQ(Le16(bytes, 6), 0x0102);
  EXPECT_EQ(Le16(bytes, 8), 8);
  EXPECT_EQ(Le16(bytes, 10), 0x645C);
  EXPECT_EQ(Le16(bytes, 12), 0x58A6);
  EXPECT_EQ(static_cast<unsigned char>(bytes[14]), 0xD4); // little-endian
  EXPECT_EQ(Le32(bytes, 14), 0xA1B2C3D4u);
  EXPECT_EQ(Le32(bytes, 18), 0x01020304u);
  EXPECT_EQ(Le32(bytes, 22), 0x05060708u);
  EXPECT_EQ(Le16(bytes, 26), 0x0A0B);
  EXPECT_EQ(Le16(bytes, 28), 0x0C0D);
  TLocalFile back;
  back.DecodeFixed(reinterpret_cast<const unsigned char*>(bytes.data()));
  std::string again(TLocalFile::FixedSize, '\0');
  back.EncodeFixed(reinterpret_cast<unsigned char*>(again.data()));
  EXPECT_EQ(again, bytes);
  EXPECT_EQ(back.Crc32, local.Crc32);
}

TEST(Records, CentralHeaderAndEndRecordLayout) {
  TCentralDirectoryFile header;
  header.CentralFileHeaderSignature = CentralFileHeaderSignature;
  header.VersionMadeBy = 0x0314;
  header.VersionNeededToExtract = 20;
  header.GeneralPurposeBitFlag = 8;
  header.CompressionMethod = 8;
  header.LastModFileTime = 0x1111;
  header.LastModFileDate = 0x2222;
  header.Crc32 = 0x33333333;
  header.CompressedSize = 0x44444444;
  header.UncompressedSize = 0x55555555;
  header.FilenameLength = 0x0606;
  header.ExtraFieldLength = 0x0707;
  header.FileCommentLength = 0x0808;
  header.DiskNumberStart = 0x0909;
  header.InternalFileAttributes = 0x0A0A;
  header.ExternalFileAttributes = 0x00000021;
  header.RelativeOffsetOfLocalHeader = 0x0C0D0E0F;
  std::string bytes(TCentralDirectoryFile::FixedSize, '\0');
  header.EncodeFixed(reinterpret_cast<unsigned char*>(bytes.data()));
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x01\x02", 4));
  const std::pair<std::size_t, std::uint32_t> fields32[] = {
      {16, 0x33333333}, {20, 0x44444444}, {24, 0x55555555}, {38, 0x21}, {42, 0x0C0D0E0F}};
  for (auto [at, value] : fields32)
    EXPECT_EQ(Le32(bytes, at), value) << at;
  const std::pair<std::size_t, std::uint16_t> fields16[] = {
      {4, 0x0314},  {6, 20},      {8, 8},       {10, 8},      {12, 0x1111}, {14, 0x2222},
      {28, 0x0606}, {30, 0x0707}, {32, 0x0808}, {34, 0x0909}, {36, 0x0A0A}};
  for (auto [at, value] : fields16)
    EXPECT_EQ(Le16(bytes, at), value) << at;
  TCentralDirectoryFile back;
  back.DecodeFixed(reinterpret_cast<const unsigned char*>(bytes.data()));
  EXPECT_EQ(back.RelativeOffsetOfLocalHeader, 0x0C0D0E0Fu);
  EXPECT_EQ(back.InternalFileAttributes, 0x0A0A);

  TEndOfDirectory end;
  end.EndOfCentralDirSignature = EndOfCentralDirSignature;
  end.NumberOfThisDisk = 1;
  end.NumberOfTheDiskWithStartOfCentralDirectory = 2;
  end.TotalEntriesOnThisDisk = 3;
  end.TotalEntries = 4;
  end.SizeOfTheCentralDirectory = 0x05050505;
  end.OffsetOfStartOfCentralDirectory = 0x06060606;
  end.ZipFileCommentLength = 0x0707;
  std::string endBytes(TEndOfDirectory::FixedSize, '\0');
  end.EncodeFixed(reinterpret_cast<unsigned char*>(endBytes.data()));
  EXPECT_EQ(endBytes.substr(0, 4), std::string("PK\x05\x06", 4));
  EXPECT_EQ(Le16(endBytes, 4), 1);
  EXPECT_EQ(Le16(endBytes, 6), 2);
  EXPECT_EQ(Le16(endBytes, 8), 3);
  EXPECT_EQ(Le16(endBytes, 10), 4);
  EXPECT_EQ(Le32(endBytes, 12), 0x05050505u);
  EXPECT_EQ(Le32(endBytes, 16), 0x06060606u);
  EXPECT_EQ(Le16(endBytes, 20), 0x0707);
  TEndOfDirectory endBack;
  endBack.DecodeFixed(reinterpret_cast<const unsigned char*>(endBytes.data()));
  EXPECT_EQ(endBack.TotalEntries, 4);
  EXPECT_EQ(endBack.ZipFileCommentLength, 0x0707);
}

TEST(Records, EmptyArchiveIsTheBareEndRecord) {
  TPellum zip;
  MemoryStream target;
  zip.WriteEmptyArchive(target);
  EXPECT_EQ(target.Bytes(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(DosTime, PackingRangeAndTheNoDateValue) {
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(2024, 5, 6, 12, 34, 57, 500)), 0x58A6645Cu);
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(1979, 12, 31, 23, 59, 58, 0)), 0u);
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(2108, 1, 1, 0, 0, 0, 0)), 0u);
  // The all-zero value that those times are written as reads back as "no date".
  EXPECT_EQ(EntryTimestamp(0), 0.0);
  EXPECT_DOUBLE_EQ(EntryTimestamp(0x58A6645C), EncodeDateTime(2024, 5, 6, 12, 34, 56, 0));
  EXPECT_THROW(EntryTimestamp(0x00210000 | (24u << 11)), EConvertError); // hour 24
  EXPECT_THROW(EntryTimestamp(std::uint32_t{(44u << 9) | (13u << 5) | 1u} << 16), EConvertError);
  EXPECT_THROW(EntryTimestamp(0x00000001), EConvertError); // a time with date 0 is no date
}

TEST(DerivedValues, CompressionFolderAndEncryption) {
  TPellum zip;
  TPellumEntriesEntry& entry = zip.Entries().Add();
  TCentralDirectoryFile header;
  header.LastModFileDate = 0x58A6;
  const std::pair<std::uint16_t, TZipCompressionType> flags[] = {
      {0, TZipCompressionType::ctNormal},
      {2, TZipCompressionType::ctMaximum},
      {4, TZipCompressionType::ctFast},
      {6, TZipCompressionType::ctSuperFast}};
  for (std::uint16_t method : {8, 9}) {
    for (auto [flag, expected] : flags) {
      header.CompressionMethod = method;
      header.GeneralPurposeBitFlag = flag;
      DeriveEntryValues(entry, header);
      EXPECT_EQ(entry.Compression, expected);
    }
  }
  header.CompressionMethod = 0;
  header.GeneralPurposeBitFlag = 1;
  header.ExternalFileAttributes = 0x10;
  DeriveEntryValues(entry, header);
  EXPECT_EQ(entry.Compression, TZipCompressionType::ctUnknown);
  EXPECT_TRUE(entry.Encrypted);
  EXPECT_TRUE(entry.Folder);
  // The date is converted last: a bad one raises after the rest is set.
  header.ExternalFileAttributes = 0;
  header.LastModFileDate = 0x58A0; // day 0
  EXPECT_THROW(DeriveEntryValues(entry, header), EConvertError);
  EXPECT_FALSE(entry.Folder);

  EXPECT_EQ(ZlibLevel(TZipCompressionType::ctNormal), -1);
  EXPECT_EQ(ZlibLevel(TZipCompressionType::ctMaximum), 9);
  EXPECT_EQ(ZlibLevel(TZipCompressionType::ctFast), 1);
  EXPECT_EQ(ZlibLevel(TZipCompressionType::ctSuperFast), 1);
  EXPECT_EQ(ZlibLevel(TZipCompressionType::ctNone), 0);
  EXPECT_EQ(ZlibLevel(TZipCompressionType::ctUnknown), -1);
}

TEST(DerivedValues, SpansCountDescriptorAndLocalLengths) {
  TPellum zip;
  TPellumEntriesEntry& entry = zip.Entries().Add();
  entry.CentralHeader.FilenameLength = 5;
  entry.CentralHeader.ExtraFieldLength = 4;
  entry.CentralHeader.FileCommentLength = 3;
  entry.CentralHeader.CompressedSize = 100;
  EXPECT_EQ(entry.LocalSpan(), 30 + 5 + 4 + 100);
  EXPECT_EQ(entry.CentralSpan(), 46 + 5 + 4 + 3);
  entry.CentralHeader.GeneralPurposeBitFlag = 8;
  EXPECT_EQ(entry.LocalSpan(), 30 + 5 + 4 + 100 + 16);
  // Once the local header is known, its own name and extra lengths count.
  entry.LocalHeader.LocalFileHeaderSignature = LocalFileHeaderSignature;
  entry.LocalHeader.FilenameLength = 5;
  entry.LocalHeader.ExtraFieldLength = 28;
  EXPECT_EQ(entry.LocalSpan(), 30 + 5 + 28 + 100 + 16);
}
