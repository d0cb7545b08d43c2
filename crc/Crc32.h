#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel {

// The zip CRC-32 (reflected polynomial 0xEDB88320, register preset to 0xFFFFFFFF, result
// complemented by the caller).
using Crc32TableType = std::array<std::uint32_t, 256>;

// Entry i is i after eight rounds of: shift right by one, and xor the polynomial when the bit
// shifted out was set. Constant-evaluable, so a unit can carry a table of its own.
constexpr Crc32TableType MakeCrc32Table() {
  Crc32TableType table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int round = 0; round < 8; ++round)
      value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    table[i] = value;
  }
  return table;
}

// Process-wide table, built once before first use and never changed.
const Crc32TableType& Crc32Table();

// Feeds length bytes into the running register; no complement is applied. A null buffer or a
// length of 0 returns the register unchanged.
std::uint32_t Crc32Update(std::uint32_t reg, const void* buffer, std::size_t length);

// The CRC-32 of a whole file, read in 64 KiB blocks. Raises EInOutError when the file cannot be
// opened or read.
std::uint32_t FileCrc32(const std::string& path);

} // namespace vornel
