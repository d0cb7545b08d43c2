#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel {

// The zip CRC-32 (reflected polynomial 0xEDB88320, register preset to 0xFFFFFFFF, result
// complemented by the caller).
using Crc32TableType = std::array<std::uint32_t, 256>;

// Process-wide table, built once before first use and never changed.
const Crc32TableType& Crc32Table();

// Feeds length bytes into the running register; no complement is applied. A null buffer or a
// length of 0 returns the register unchanged.
std::uint32_t Crc32Update(std::uint32_t reg, const void* buffer, std::size_t length);

// The CRC-32 of a whole file, read in 64 KiB blocks. Raises EInOutError when the file cannot be
// opened or read.
std::uint32_t FileCrc32(const std::string& path);

} // namespace vornel
