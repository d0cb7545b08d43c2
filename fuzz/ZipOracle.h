#pragma once

// A reader of zip bytes that shares no code with the component: the fuzz targets use it to check
// what the component wrote or accepted against zlib directly. Only what the packer writes is
// understood (method 0 or 8, no encryption, a data descriptor only where allowed); anything else
// is "unreadable".

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vornel::oracle {

inline std::uint32_t Le16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

inline std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}

// Raw deflate data inflated, or nothing when they are damaged, end early, are followed by more
// bytes, or unpack to more than limit bytes.
inline std::optional<std::string> InflateRaw(std::string_view packed, std::size_t limit) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK)
    return std::nullopt;
  std::string out;
  char buffer[16384];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    status = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
    if (out.size() > limit || (status == Z_BUF_ERROR && z.avail_out != 0))
      break;
    if (status == Z_BUF_ERROR)
      status = Z_OK; // the output buffer was full; go on
  }
  const bool whole = status == Z_STREAM_END && z.avail_in == 0 && out.size() <= limit;
  inflateEnd(&z);
  if (!whole)
    return std::nullopt;
  return out;
}

inline std::uint32_t Crc(std::string_view data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct Entry {
  std::string Name;
  std::uint32_t Crc = 0;
  std::string Data;
  std::uint64_t End = 0; // where the entry's data (and data descriptor) end
};

// The entry whose local header starts at offset, unpacked, with the values the central
// directory gives for it checked against the local header and the data. Nothing when anything
// disagrees.
inline std::optional<Entry> ReadEntry(std::string_view archive, std::uint64_t offset,
                                      const std::string& centralName, std::uint32_t centralCrc,
                                      std::uint32_t compressedSize, std::uint32_t size,
                                      std::uint32_t method, bool descriptorAllowed = false) {
  if (offset + 30 > archive.size() || Le32(archive, offset) != 0x04034b50)
    return std::nullopt;
  const std::uint32_t flags = Le16(archive, offset + 6);
  const std::uint32_t localMethod = Le16(archive, offset + 8);
  const std::uint64_t nameLength = Le16(archive, offset + 26);
  const std::uint64_t extraLength = Le16(archive, offset + 28);
  const std::uint64_t dataStart = offset + 30 + nameLength + extraLength;
  const bool descriptor = (flags & 8) != 0;
  const auto repeats = [&](std::uint64_t at, std::uint32_t crc, std::uint32_t packed,
                           std::uint32_t unpacked) {
    return at + 12 <= archive.size() && Le32(archive, at) == crc &&
           Le32(archive, at + 4) == packed && Le32(archive, at + 8) == unpacked;
  };
  // With a descriptor the local values may be left zero; otherwise they are the central ones.
  const bool localValues = repeats(offset + 14, centralCrc, compressedSize, size) ||
                           (descriptor && repeats(offset + 14, 0, 0, 0));
  if ((flags & 1) != 0 || (descriptor && !descriptorAllowed) || localMethod != method ||
      !localValues || dataStart + compressedSize > archive.size())
    return std::nullopt;
  Entry entry;
  entry.Name = std::string(archive.substr(offset + 30, nameLength));
  if (entry.Name != centralName)
    return std::nullopt;
  const std::string_view packed = archive.substr(dataStart, compressedSize);
  if (method == 0) {
    if (compressedSize != size)
      return std::nullopt;
    entry.Data = std::string(packed);
  } else if (method == 8) {
    auto data = InflateRaw(packed, size);
    if (!data || data->size() != size)
      return std::nullopt;
    entry.Data = std::move(*data);
  } else {
    return std::nullopt;
  }
  entry.Crc = Crc(entry.Data);
  if (entry.Crc != centralCrc)
    return std::nullopt;
  entry.End = dataStart + compressedSize;
  if (descriptor) {
    // 16 bytes with the descriptor's signature, 12 without.
    if (entry.End + 16 <= archive.size() && Le32(archive, entry.End) == 0x08074b50 &&
        repeats(entry.End + 4, centralCrc, compressedSize, size))
      entry.End += 16;
    else if (repeats(entry.End, centralCrc, compressedSize, size))
      entry.End += 12;
    else
      return std::nullopt;
  }
  return entry;
}

// The single entry of an archive as the client reads it: an end record that ends the file
// (with its comment), exactly one central header right in front of it, and its local record.
inline std::optional<Entry> ReadSingleEntryArchive(std::string_view archive) {
  if (archive.size() < 22)
    return std::nullopt;
  for (std::size_t comment = 0; comment <= 0xFFFF && comment + 22 <= archive.size(); ++comment) {
    const std::size_t at = archive.size() - 22 - comment;
    if (Le32(archive, at) != 0x06054b50 || Le16(archive, at + 20) != comment)
      continue;
    const std::uint64_t directory = Le32(archive, at + 16);
    const std::uint64_t directorySize = Le32(archive, at + 12);
    if (Le16(archive, at + 4) != 0 || Le16(archive, at + 6) != 0 || Le16(archive, at + 8) != 1 ||
        Le16(archive, at + 10) != 1 || directory + directorySize != at || directorySize < 46 ||
        Le32(archive, directory) != 0x02014b50)
      return std::nullopt;
    const std::uint64_t nameLength = Le16(archive, directory + 28);
    if (46 + nameLength + Le16(archive, directory + 30) + Le16(archive, directory + 32) !=
        directorySize)
      return std::nullopt;
    return ReadEntry(archive, Le32(archive, directory + 42),
                     std::string(archive.substr(directory + 46, nameLength)),
                     Le32(archive, directory + 16), Le32(archive, directory + 20),
                     Le32(archive, directory + 24), Le16(archive, directory + 10));
  }
  return std::nullopt;
}

} // namespace vornel::oracle
