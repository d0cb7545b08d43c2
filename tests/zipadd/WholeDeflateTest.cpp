#include "zip/WholeDeflate.h"

#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/zipadd/ZipAddSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace vornel::test {
namespace {

std::string Inflate(const WholeDeflated& deflated, std::size_t size) {
  std::string out(size + 1, '\0');
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
  z.next_in = deflated.Data.get();
  z.avail_in = static_cast<uInt>(deflated.Size);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u); // nothing after the end of the stream
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// Every source kind the component meets: a file from an offset (mapped), memory in place, and
// the last bytes of each, for every whole-buffer compressor built in.
TEST(WholeDeflateTest, EverySourceDeflatesToItsBytesAndLeavesThePositionBehindThem) {
  TempDir dir;
  const std::string bytes = RandomBytes(70000, 5) + TextBytes(200000, 6);
  WriteFile(dir / "source", bytes);
  const std::uint32_t crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()) + 100, bytes.size() - 100));
  for (const CompressorChoice choice : {CompressorChoice{CompressorKind::Libdeflate, 1},
                                        CompressorChoice{CompressorKind::Libdeflate, 12},
                                        CompressorChoice{CompressorKind::Zopfli, 1}}) {
    SCOPED_TRACE(DescribeCompressor(choice));
    if (!CompressorBuiltIn(choice.Kind))
      continue;
    FileStream file(dir / "source", FileStream::Mode::OpenRead);
    MemoryStream memory(bytes);
    for (Stream* source : {static_cast<Stream*>(&file), static_cast<Stream*>(&memory)}) {
      source->SetPosition(100);
      const WholeDeflated deflated = DeflateWhole(choice, *source, bytes.size() - 100);
      EXPECT_EQ(source->Position(), static_cast<std::int64_t>(bytes.size()));
      EXPECT_EQ(deflated.Crc32, crc);
      EXPECT_EQ(Inflate(deflated, bytes.size()), bytes.substr(100));
      // A source shorter than promised is refused before anything is read.
      source->SetPosition(1);
      try {
        DeflateWhole(choice, *source, bytes.size());
        ADD_FAILURE() << "a short source was deflated";
      } catch (const EInOutError& error) {
        EXPECT_EQ(error.ErrorCode(), io_error::ReadBeyondEnd);
      }
    }
  }
}

} // namespace
} // namespace vornel::test
