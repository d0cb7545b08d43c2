#pragma once

// Writing the zip records: the fixed part, then each variable field only when its length field
// is not 0, with exactly as many bytes as that field says; each record in one write.

#include "platform/Stream.h"
#include "zip/Records.h"

namespace vornel {

void WriteLocalRecord(Stream& target, const TLocalFile& record, bool withData);
void WriteCentralRecord(Stream& target, const TCentralDirectoryFile& record);
void WriteEndRecord(Stream& target, const TEndOfDirectory& record);

// The same records appended to a buffer, to be written together with others.
void AppendLocalRecord(std::string& out, const TLocalFile& record, bool withData);
void AppendCentralRecord(std::string& out, const TCentralDirectoryFile& record);
void AppendEndRecord(std::string& out, const TEndOfDirectory& record);

} // namespace vornel
