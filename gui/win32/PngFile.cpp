#include "gui/win32/PngFile.h"

#include "crc/ArchiveDigest.h"
#include "crc/Crc32.h"
#include "gui/win32/WideText.h"
#include "platform/Stream.h"
#include "zip/CompressStream.h"

#include <stdexcept>
#include <windows.h>

namespace vornel::win32 {

namespace {

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              const std::vector<std::uint8_t>& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  // The checksum covers the type and the data.
  PutBigEndian(out, ~Crc32Update(0xFFFFFFFFu, out.data() + typeAt, 4 + data.size()));
}

} // namespace

std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  if (width <= 0 || height <= 0 || rgb.size() != rowBytes * static_cast<std::size_t>(height))
    throw std::invalid_argument("The picture's size does not match its pixels");

  // Each row starts with its filter type, 0: the bytes as they are.
  std::vector<std::uint8_t> raw;
  raw.reserve((rowBytes + 1) * static_cast<std::size_t>(height));
  for (int row = 0; row < height; ++row) {
    raw.push_back(0);
    const auto start = rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * row);
    raw.insert(raw.end(), start, start + static_cast<std::ptrdiff_t>(rowBytes));
  }
  // The picture data are a zlib stream: its two-byte header (deflate, 32 KiB window, maximum
  // level), the raw deflate data the archive component makes, and the Adler-32 of the rows.
  MemoryStream deflated;
  CompressStream compress(deflated, 9);
  compress.Write(raw.data(), raw.size());
  compress.Finish();
  std::vector<std::uint8_t> packed = {0x78, 0xDA};
  const std::string& data = deflated.Bytes();
  packed.insert(packed.end(), data.begin(), data.end());
  ArchiveDigester adler;
  adler.Update(raw.data(), raw.size());
  PutBigEndian(packed, adler.Digest().Adler32);

  std::vector<std::uint8_t> header;
  PutBigEndian(header, static_cast<std::uint32_t>(width));
  PutBigEndian(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, no filter set, no interlace

  std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(file, "IHDR", header);
  PutChunk(file, "IDAT", packed);
  PutChunk(file, "IEND", {});
  return file;
}

void WritePng(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& rgb) {
  const std::vector<std::uint8_t> bytes = EncodePng(width, height, rgb);
  HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw std::runtime_error("Cannot create " + path);
  DWORD written = 0;
  const bool whole =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  const bool closed = CloseHandle(file);
  if (!whole || !closed) {
    DeleteFileW(Widen(path).c_str());
    throw std::runtime_error("Cannot write " + path);
  }
}

} // namespace vornel::win32
