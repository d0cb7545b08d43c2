#include "zip/RecordIo.h"

#include <stdexcept>

namespace vornel {

namespace {

// A length field that disagrees with its string would make the record unreadable; refuse it
// rather than write a record that lies.
void WriteField(Stream& target, const std::string& bytes, std::size_t length) {
  if (length == 0)
    return;
  if (bytes.size() != length)
    throw std::logic_error("zip record field does not match its length");
  target.Write(bytes.data(), length);
}

} // namespace

void WriteLocalRecord(Stream& target, const TLocalFile& record, bool withData) {
  unsigned char fixed[TLocalFile::FixedSize];
  record.EncodeFixed(fixed);
  target.Write(fixed, sizeof fixed);
  WriteField(target, record.FileName, record.FilenameLength);
  WriteField(target, record.ExtraField, record.ExtraFieldLength);
  if (withData)
    target.WriteString(record.FileData);
}

void WriteCentralRecord(Stream& target, const TCentralDirectoryFile& record) {
  unsigned char fixed[TCentralDirectoryFile::FixedSize];
  record.EncodeFixed(fixed);
  target.Write(fixed, sizeof fixed);
  WriteField(target, record.FileName, record.FilenameLength);
  WriteField(target, record.ExtraField, record.ExtraFieldLength);
  WriteField(target, record.FileComment, record.FileCommentLength);
}

void WriteEndRecord(Stream& target, const TEndOfDirectory& record) {
  unsigned char fixed[TEndOfDirectory::FixedSize];
  record.EncodeFixed(fixed);
  target.Write(fixed, sizeof fixed);
}

} // namespace vornel
