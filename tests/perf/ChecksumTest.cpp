// The component checksums entry data with the fast method; its own byte table stays the
// reference, and both must agree for every length, alignment and split of the data.

#include "crc/Crc32.h"
#include "zip/Pellum.h"
#include "zip/Records.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace vornel {
namespace {

TEST(ComponentChecksum, FastMethodMatchesTheComponentsTable) {
  const std::string data = test::RandomBytes(70000, 11);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (std::size_t offset : {0u, 1u, 3u, 7u, 8u, 13u}) {
    for (std::size_t length :
         {0u, 1u, 15u, 16u, 63u, 64u, 65u, 127u, 128u, 1000u, 4096u, 65536u, 69000u}) {
      const std::uint32_t reference = PellumCrc32UpdateTable(0xFFFFFFFFu, bytes + offset, length);
      EXPECT_EQ(PellumCrc32Update(0xFFFFFFFFu, bytes + offset, length), reference)
          << offset << "+" << length;
      // Any register in, and the data in two pieces, as the 64 KiB blocks of an add feed it.
      const std::size_t cut = length / 3;
      std::uint32_t reg = PellumCrc32Update(0x12345678u, bytes + offset, cut);
      reg = PellumCrc32Update(reg, bytes + offset + cut, length - cut);
      EXPECT_EQ(reg, PellumCrc32UpdateTable(0x12345678u, bytes + offset, length));
    }
  }
  EXPECT_EQ(PellumCrc32Update(0x1234u, nullptr, 5), 0x1234u);
  EXPECT_EQ(TPellumEntries::StringCrc32("123456789"), 0xCBF43926u);
  // The file checksum and the component's agree.
  EXPECT_EQ(TPellumEntries::StringCrc32(data),
            Crc32Update(0xFFFFFFFFu, data.data(), data.size()) ^ 0xFFFFFFFFu);
}

} // namespace
} // namespace vornel
