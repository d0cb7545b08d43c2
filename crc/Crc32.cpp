#include "crc/Crc32.h"

#include "crc/Crc32Fast.h"

#include "platform/RawFile.h"
#include "platform/Stream.h"

#include <memory>

namespace vornel {

const Crc32TableType& Crc32Table() {
  static const Crc32TableType table = MakeCrc32Table();
  return table;
}

std::uint32_t Crc32Update(std::uint32_t reg, const void* buffer, std::size_t length) {
  if (buffer == nullptr || length == 0)
    return reg;
  // Same register as the byte-by-byte table method, computed by the fastest method available.
  return Crc32UpdateFast(reg, static_cast<const unsigned char*>(buffer), length);
}

std::uint32_t FileCrc32(const std::string& path) {
  // Read-only, so read-only files are checksummed too; a pipe or device is refused, since it has
  // no fixed content and its reads may never end.
  RawFile file(path, RawFile::Mode::Read);
  auto buffer = std::make_unique<unsigned char[]>(IoBlockSize);
  std::uint32_t reg = 0xFFFFFFFFu;
  for (;;) {
    const std::size_t got = file.Read(buffer.get(), IoBlockSize);
    if (got == 0)
      break;
    reg = Crc32Update(reg, buffer.get(), got);
  }
  return ~reg;
}

} // namespace vornel
