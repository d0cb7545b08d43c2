#include "platform/TextCompare.h"
#include "zip/Pellum.h"

namespace vornel {

int ZlibLevel(TZipCompressionType type) {
  switch (type) {
  case TZipCompressionType::ctNormal:
    return -1;
  case TZipCompressionType::ctMaximum:
    return 9;
  case TZipCompressionType::ctFast:
  case TZipCompressionType::ctSuperFast:
    return 1;
  case TZipCompressionType::ctNone:
    return 0;
  default:
    return -1;
  }
}

TDateTime EntryTimestamp(std::uint32_t dos) {
  // Times outside 1980..2107 are written as the all-zero value; reading it back as "no date"
  // keeps such archives (our own included) readable.
  if (dos == 0)
    return 0;
  return DosDateTimeToDateTime(dos);
}

TPellumEntriesEntry::TPellumEntriesEntry(TPellumEntries& collection) : owner_(&collection) {
  collection.items_.emplace_back(this);
}

std::int64_t TPellumEntriesEntry::LocalSpan() const {
  // The local name and extra field may differ in length from the central ones (other tools
  // write longer local extra fields); once the local header is known, its lengths count.
  const bool localKnown = LocalHeader.LocalFileHeaderSignature == LocalFileHeaderSignature;
  const std::int64_t variable =
      localKnown ? std::int64_t{LocalHeader.FilenameLength} + LocalHeader.ExtraFieldLength
                 : std::int64_t{CentralHeader.FilenameLength} + CentralHeader.ExtraFieldLength;
  std::int64_t span = std::int64_t{TLocalFile::FixedSize} + variable + CentralHeader.CompressedSize;
  if (CentralHeader.GeneralPurposeBitFlag & 0x0008)
    span += DescriptorLength >= 0 ? DescriptorLength : 16;
  return span;
}

std::int64_t TPellumEntriesEntry::CentralSpan() const {
  return std::int64_t{TCentralDirectoryFile::FixedSize} + CentralHeader.FilenameLength +
         CentralHeader.ExtraFieldLength + CentralHeader.FileCommentLength;
}

void DeriveEntryValues(TPellumEntriesEntry& entry, const TCentralDirectoryFile& header) {
  entry.Encrypted = (header.GeneralPurposeBitFlag & 0x0001) != 0;
  entry.Folder = (header.ExternalFileAttributes & 0x10) != 0;
  if (header.CompressionMethod == 8 || header.CompressionMethod == 9) {
    switch (header.GeneralPurposeBitFlag & 6) {
    case 0:
      entry.Compression = TZipCompressionType::ctNormal;
      break;
    case 2:
      entry.Compression = TZipCompressionType::ctMaximum;
      break;
    case 4:
      entry.Compression = TZipCompressionType::ctFast;
      break;
    default:
      entry.Compression = TZipCompressionType::ctSuperFast;
      break;
    }
  } else {
    entry.Compression = TZipCompressionType::ctUnknown;
  }
  entry.Timestamp =
      EntryTimestamp(std::uint32_t{header.LastModFileDate} << 16 | header.LastModFileTime);
}

void TPellumEntries::Delete(std::int32_t index) {
  if (index < 0 || index >= Count())
    throw std::out_of_range("entry index out of range");
  items_.erase(items_.begin() + index);
}

std::uint32_t TPellumEntries::StringCrc32(const std::string& bytes) {
  return PellumCrc32Update(0xFFFFFFFFu, bytes.data(), bytes.size()) ^ 0xFFFFFFFFu;
}

namespace {

// Drops everything up to and including the first occurrence of marker; false when absent.
bool DropThrough(std::string& text, const std::string& marker) {
  const std::size_t at = text.find(marker);
  if (at == std::string::npos)
    return false;
  text.erase(0, at + marker.size());
  return true;
}

} // namespace

std::string TPellumEntries::ToZipName(const std::string& path) {
  std::string name = path;
  for (char& c : name) {
    if (c == '\\')
      c = '/';
  }
  DropThrough(name, ":/");
  // A network prefix: "//server/share/" goes, and with it whatever stood before the "//".
  if (DropThrough(name, "//")) {
    if (DropThrough(name, "/"))
      DropThrough(name, "/");
  }
  return name;
}

std::string TPellumEntries::ToDiskName(const std::string& path) {
  std::string name = ToZipName(path);
  for (char& c : name) {
    if (c == '/')
      c = '\\';
  }
  return name;
}

std::int32_t TPellumEntries::IndexOfName(const std::string& name) const {
  const std::string wanted = ToZipName(name);
  for (std::int32_t i = 0; i < Count(); ++i) {
    if (SameTextIgnoreCase(wanted, ToZipName(items_[i]->CentralHeader.FileName)))
      return i;
  }
  return -1;
}

} // namespace vornel
