#pragma once

// What a fresh pack writes, described in one place: the writer fills its records from here, and
// whoever judges an archive against a fresh pack (keeping it, verifying it) compares with the
// same description.

#include "platform/DateTime.h"
#include "platform/FindFiles.h"
#include "zip/Records.h"

#include <cstdint>
#include <string>

namespace vornel {

// The version "made by" and "needed to extract" of every record the component writes.
inline constexpr std::uint16_t VersionWritten = 20;

// The data part of an entry's records.
struct EntryData {
  std::uint16_t Method = 0; // StoredOrDeflated(length)
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
};

// Empty data are stored, everything else deflated.
constexpr std::uint16_t StoredOrDeflated(std::uint64_t length) {
  return length == 0 ? 0 : 8;
}

struct NewEntryRecords {
  TLocalFile Local;
  TCentralDirectoryFile Central;
};

// The records of a new entry stored under name, with the local header at offset 0.
NewEntryRecords DescribeNewEntry(const std::string& name, std::uint16_t attributes, TDateTime time,
                                 const EntryData& data = {});
void SetEntryData(NewEntryRecords& records, const EntryData& data);
// The general purpose flags of both records (bit 11 for a UTF-8 name, or none).
void SetEntryFlags(NewEntryRecords& records, std::uint16_t flags);

// The time the component takes for a file found on disk: its DOS time when it has one.
TDateTime EntryTimeOf(const FoundFile& file);

// An archive of that one entry as a fresh pack lays it out: the bytes in front of the entry's
// data (local header and name) and those behind them (central header, name, end record). Its
// size is 98 + 2n + c for an n-byte name and c bytes of data.
struct SingleEntryLayout {
  std::string Head;
  std::string Tail;
};
SingleEntryLayout DescribeSingleEntryArchive(const NewEntryRecords& records);

} // namespace vornel
