#pragma once

// The identity of an archive's bytes: two checksums of different kinds and the length, so that
// an archive changed behind the build's back is not taken for the one it wrote.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vornel {

struct ArchiveDigest {
  std::int64_t Size = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t Adler32 = 0;

  bool operator==(const ArchiveDigest&) const = default;
};

// Digests bytes as they go by, in any number of pieces.
class ArchiveDigester {
public:
  void Update(const void* bytes, std::size_t length);
  ArchiveDigest Digest() const;

private:
  std::uint32_t crc_ = 0xFFFFFFFFu;
  std::uint32_t adler_ = 1;
  std::int64_t size_ = 0;
};

// The digest of a's bytes followed by b's.
ArchiveDigest Concatenated(const ArchiveDigest& a, const ArchiveDigest& b);

// The digest of bytes at hand.
ArchiveDigest DigestOfBytes(std::string_view bytes);

// Reads the whole file in blocks; nothing when it cannot be read.
std::optional<ArchiveDigest> DigestFile(const std::string& path);

} // namespace vornel
