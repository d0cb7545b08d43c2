#pragma once

// Writing the zip records to a stream: the fixed part as one block, then each variable field
// only when its length field is not 0, with exactly as many bytes as that field says.

#include "platform/Stream.h"
#include "zip/Records.h"

namespace vornel {

void WriteLocalRecord(Stream& target, const TLocalFile& record, bool withData);
void WriteCentralRecord(Stream& target, const TCentralDirectoryFile& record);
void WriteEndRecord(Stream& target, const TEndOfDirectory& record);

} // namespace vornel
