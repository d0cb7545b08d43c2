#pragma once

// Writes a picture as a PNG file: 8-bit RGB, no interlacing, every row unfiltered, the image
// data deflated with zlib.

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::win32 {

// rgb holds width * height pixels of three bytes each, top row first. Raises an error naming
// the file when it cannot be written (and leaves no partial file).
void WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

// The whole file's bytes, as WritePng writes them.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

} // namespace vornel::win32
