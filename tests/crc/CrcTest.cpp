#include "crc/Crc32.h"
#include "crc/Crc32Fast.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <zlib.h>

namespace vornel {
namespace {

std::uint32_t Crc(const std::string& bytes) {
  return ~Crc32Update(0xFFFFFFFFu, bytes.data(), bytes.size());
}

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc("123456789"), 0xCBF43926u); // the standard's check value
  EXPECT_EQ(Crc("abc"), 0x352441C2u);
  EXPECT_EQ(Crc(""), 0u);
  EXPECT_EQ(Crc32Update(0x12345678u, nullptr, 10), 0x12345678u);
  EXPECT_EQ(Crc32Table()[1], 0x77073096u);
  EXPECT_EQ(Crc32Table()[255], 0x2D02EF8Du);
}

// Every method must give the table method's register for any length, alignment and start.
TEST(Crc32, FastMethodsAgreeWithTable) {
  const std::string data = test::RandomBytes(5000, 7);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (std::size_t offset : {0u, 1u, 3u, 8u, 15u}) {
    for (std::size_t length :
         {0u, 1u, 7u, 15u, 16u, 17u, 63u, 64u, 65u, 127u, 128u, 200u, 1024u, 4095u, 4985u}) {
      for (std::uint32_t start : {0xFFFFFFFFu, 0u, 0xDEADBEEFu}) {
        const std::uint32_t expected = Crc32UpdateTable(start, bytes + offset, length);
        EXPECT_EQ(Crc32UpdateSlicing8(start, bytes + offset, length), expected)
            << offset << " " << length;
        EXPECT_EQ(Crc32UpdateFast(start, bytes + offset, length), expected)
            << offset << " " << length;
        if (Crc32HaveClmul()) {
          EXPECT_EQ(Crc32UpdateClmul(start, bytes + offset, length), expected)
              << offset << " " << length;
        }
      }
    }
  }
}

TEST(Crc32, AgreesWithZlibOnLargeData) {
  const std::string data = test::RandomBytes(3 * 1024 * 1024 + 5, 11);
  const auto zlibCrc =
      ::crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  EXPECT_EQ(Crc(data), zlibCrc);
}

TEST(FileCrc32, WholeFilesInAnyBlockSplit) {
  test::TempDir dir;
  const std::string empty = dir / "empty";
  test::WriteFile(empty, "");
  EXPECT_EQ(FileCrc32(empty), 0u);

  // An exact multiple of the 64 KiB block needs a final read of 0 bytes.
  for (std::size_t size : {65536u, 2u * 65536u, 65537u, 100u}) {
    const std::string path = dir / ("f" + std::to_string(size));
    const std::string data = test::RandomBytes(size, static_cast<unsigned>(size));
    test::WriteFile(path, data);
    EXPECT_EQ(FileCrc32(path), Crc(data)) << size;
  }
}

TEST(FileCrc32, ReadOnlyFileIsChecksummed) {
  test::TempDir dir;
  const std::string path = dir / "ro.bin";
  test::WriteFile(path, "123456789");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  EXPECT_EQ(FileCrc32(path), 0xCBF43926u);
}

TEST(FileCrc32, FailuresRaiseTheRunTimeError) {
  test::TempDir dir;
  try {
    FileCrc32(dir / "missing");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.what(), "File not found: \"" + dir / "missing" + "\".");
  }
  // A folder opens but cannot be read.
  EXPECT_THROW(FileCrc32(dir.Str()), EInOutError);
  if (test::PermissionsStopReads()) {
    const std::string locked = dir / "locked";
    test::WriteFile(locked, "x");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    try {
      FileCrc32(locked);
      FAIL() << "no error";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), 5);
    }
  }
}

} // namespace
} // namespace vornel
