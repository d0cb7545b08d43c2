#pragma once

// Reading one entry's data back, unpacked, as a stream: the one inflate loop of the program.

#include "platform/Stream.h"
#include "zip/Pellum.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornel {

// The entry's data cannot be unpacked to what its headers declare. The message is one short
// sentence without the archive's name ("the deflate data end too early").
class EEntryDataError : public EPellumError {
public:
  using EPellumError::EPellumError;
};

// Unpacks the compressedSize bytes of an entry that start at the archive stream's position,
// reading them in IoBlockSize blocks as they are needed; stored (0) and deflate (8) data only.
class EntryReader {
public:
  EntryReader(Stream& archive, std::uint16_t method, std::uint64_t compressedSize,
              std::uint64_t declaredSize);
  ~EntryReader();
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  // Up to count unpacked bytes; fewer only at the end of the entry, 0 after it. Raises
  // EEntryDataError for damaged data, data that stop before the deflate stream ends, bytes the
  // deflate stream leaves unused, or more bytes than declared (so a bomb is cut off early).
  // Fewer bytes than declared are the caller's to judge through Produced().
  std::size_t Read(void* buffer, std::size_t count);

  std::uint64_t Produced() const { return produced_; }
  // CRC-32 of the bytes produced so far.
  std::uint32_t Crc32() const { return ~crc_; }

private:
  std::size_t Inflate(unsigned char* out, std::size_t count);
  void Account(const unsigned char* bytes, std::size_t count);

  struct Zlib;
  Stream& archive_;
  std::uint16_t method_;
  std::uint64_t left_;
  std::uint64_t declared_;
  std::unique_ptr<Zlib> zlib_;
  std::unique_ptr<unsigned char[]> input_;
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0xFFFFFFFFu;
  bool ended_ = false;
};

} // namespace vornel
