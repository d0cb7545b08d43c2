#include "zip/RecordIo.h"

#include <stdexcept>

namespace vornel {

namespace {

// A length field that disagrees with its string would make the record unreadable; refuse it
// rather than write a record that lies.
void AppendField(std::string& out, const std::string& bytes, std::size_t length) {
  if (length == 0)
    return;
  if (bytes.size() != length)
    throw std::logic_error("zip record field does not match its length");
  out += bytes;
}

} // namespace

void AppendLocalRecord(std::string& out, const TLocalFile& record, bool withData) {
  unsigned char fixed[TLocalFile::FixedSize];
  record.EncodeFixed(fixed);
  out.append(reinterpret_cast<const char*>(fixed), sizeof fixed);
  AppendField(out, record.FileName, record.FilenameLength);
  AppendField(out, record.ExtraField, record.ExtraFieldLength);
  if (withData)
    out += record.FileData;
}

void AppendCentralRecord(std::string& out, const TCentralDirectoryFile& record) {
  unsigned char fixed[TCentralDirectoryFile::FixedSize];
  record.EncodeFixed(fixed);
  out.append(reinterpret_cast<const char*>(fixed), sizeof fixed);
  AppendField(out, record.FileName, record.FilenameLength);
  AppendField(out, record.ExtraField, record.ExtraFieldLength);
  AppendField(out, record.FileComment, record.FileCommentLength);
}

void AppendEndRecord(std::string& out, const TEndOfDirectory& record) {
  unsigned char fixed[TEndOfDirectory::FixedSize];
  record.EncodeFixed(fixed);
  out.append(reinterpret_cast<const char*>(fixed), sizeof fixed);
}

// Each record goes out in one write: a directory of many entries is many records, and a write
// per field made rewriting it cost a system call for every one.
void WriteLocalRecord(Stream& target, const TLocalFile& record, bool withData) {
  std::string bytes;
  bytes.reserve(TLocalFile::FixedSize + record.FileName.size() + record.ExtraField.size() +
                (withData ? record.FileData.size() : 0));
  AppendLocalRecord(bytes, record, withData);
  target.WriteString(bytes);
}

void WriteCentralRecord(Stream& target, const TCentralDirectoryFile& record) {
  std::string bytes;
  bytes.reserve(TCentralDirectoryFile::FixedSize + record.FileName.size() +
                record.ExtraField.size() + record.FileComment.size());
  AppendCentralRecord(bytes, record);
  target.WriteString(bytes);
}

void WriteEndRecord(Stream& target, const TEndOfDirectory& record) {
  unsigned char fixed[TEndOfDirectory::FixedSize];
  record.EncodeFixed(fixed);
  target.Write(fixed, sizeof fixed);
}

} // namespace vornel
