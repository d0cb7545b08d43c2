#pragma once

#include <cstddef>
#include <cstdint>

namespace vornel {

// Fast methods for the zip CRC-32 register update. Each gives exactly the result of the
// byte-by-byte table method; they only differ in speed.

// The reference: one table lookup per byte.
std::uint32_t Crc32UpdateTable(std::uint32_t reg, const unsigned char* bytes, std::size_t length);
// Eight table lookups per 8 bytes, portable.
std::uint32_t Crc32UpdateSlicing8(std::uint32_t reg, const unsigned char* bytes,
                                  std::size_t length);
// Carry-less multiplication folding; only valid when Crc32HaveClmul() is true.
std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const unsigned char* bytes, std::size_t length);
bool Crc32HaveClmul();

// The fastest method this processor supports.
std::uint32_t Crc32UpdateFast(std::uint32_t reg, const unsigned char* bytes, std::size_t length);

} // namespace vornel
