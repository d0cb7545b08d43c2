#include "crc/ArchiveDigest.h"

#include "crc/Crc32.h"
#include "platform/Stream.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

namespace vornel {

void ArchiveDigester::Update(const void* bytes, std::size_t length) {
  crc_ = Crc32Update(crc_, bytes, length);
  // zlib takes at most a uInt at a time.
  const auto* data = static_cast<const Bytef*>(bytes);
  for (std::size_t done = 0; done < length;) {
    const std::size_t piece =
        std::min<std::size_t>(length - done, std::numeric_limits<uInt>::max());
    adler_ = static_cast<std::uint32_t>(adler32(adler_, data + done, static_cast<uInt>(piece)));
    done += piece;
  }
  size_ += static_cast<std::int64_t>(length);
}

ArchiveDigest ArchiveDigester::Digest() const {
  return ArchiveDigest{size_, ~crc_, adler_};
}

ArchiveDigest Concatenated(const ArchiveDigest& a, const ArchiveDigest& b) {
  // Archives stay below 2 GiB, which zlib's offset type holds on every system.
  const auto length = static_cast<z_off_t>(b.Size);
  return ArchiveDigest{a.Size + b.Size,
                       static_cast<std::uint32_t>(crc32_combine(a.Crc32, b.Crc32, length)),
                       static_cast<std::uint32_t>(adler32_combine(a.Adler32, b.Adler32, length))};
}

ArchiveDigest DigestOfBytes(std::string_view bytes) {
  ArchiveDigester digester;
  digester.Update(bytes.data(), bytes.size());
  return digester.Digest();
}

std::optional<ArchiveDigest> DigestFile(const std::string& path) {
  try {
    FileStream file(path, FileStream::Mode::OpenRead);
    std::vector<unsigned char> block(IoBlockSize);
    ArchiveDigester digester;
    while (const std::size_t got = file.Read(block.data(), block.size()))
      digester.Update(block.data(), got);
    return digester.Digest();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

} // namespace vornel
