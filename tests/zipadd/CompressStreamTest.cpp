#include "zip/CompressStream.h"

#include "tests/support/TestSupport.h"
#include "tests/zipadd/ZipAddSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace vornel::test {
namespace {

std::string Compress(const std::string& data, int level, std::size_t chunk,
                     std::vector<std::int64_t>* progress = nullptr) {
  MemoryStream target;
  CompressStream deflater(target, level, [progress](CompressStream& sender) {
    if (progress)
      progress->push_back(sender.Position());
  });
  for (std::size_t at = 0; at < data.size(); at += chunk)
    deflater.Write(data.data() + at, std::min(chunk, data.size() - at));
  deflater.Finish();
  EXPECT_EQ(deflater.OutputSize(), static_cast<std::int64_t>(target.Bytes().size()));
  EXPECT_EQ(deflater.Position(), static_cast<std::int64_t>(data.size()));
  return target.Bytes();
}

// Random and repetitive stretches in turn: deflate then switches between stored and
// compressed blocks, which is where the input it sees at a time could make a difference.
std::string MixedBytes(std::size_t count, unsigned seed) {
  std::string mixed;
  unsigned round = 0;
  while (mixed.size() < count) {
    mixed += RandomBytes(7000 + 3001 * (round % 5), seed + round);
    mixed += TextBytes(20000 + 9000 * (round % 3), seed + round);
    mixed += std::string(1000 * (round % 4), 'z');
    ++round;
  }
  mixed.resize(count);
  return mixed;
}

struct Sample {
  const char* Kind;
  std::string Data;
};

std::vector<Sample> Samples() {
  constexpr std::size_t ThreeMiB = 3 << 20;
  return {
      {"empty", ""},
      {"one byte", "x"},
      {"text 65535", TextBytes(65535, 1)},
      {"random 65535", RandomBytes(65535, 2)},
      {"text 65536", TextBytes(65536, 3)},
      {"random 65536", RandomBytes(65536, 4)},
      {"text 3 MiB", TextBytes(ThreeMiB, 5)},
      {"random 3 MiB", RandomBytes(ThreeMiB, 6)},
      {"zeros 1 MiB", std::string(1 << 20, '\0')},
      {"mixed 1 MiB", MixedBytes(1 << 20, 7)},
  };
}

// The streamed data must be exactly what deflate gives when it has all input at once: that is
// what the archive format promises readers, and what earlier versions wrote.
TEST(CompressStream, BytesEqualOneCallDeflateAtEveryLevel) {
  for (const Sample& sample : Samples()) {
    for (int level : {-1, 0, 1, 6, 9}) {
      SCOPED_TRACE(std::string(sample.Kind) + " at level " + std::to_string(level));
      EXPECT_EQ(Compress(sample.Data, level, 65536), ModelDeflate(sample.Data, level));
    }
  }
}

TEST(CompressStream, HowTheInputIsCutDoesNotChangeTheBytes) {
  const std::string mixed = MixedBytes(1 << 20, 11);
  for (int level : {0, 1, 9}) {
    const std::string expected = ModelDeflate(mixed, level);
    for (std::size_t chunk :
         {std::size_t{1}, std::size_t{4097}, std::size_t{300000}, mixed.size()}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", chunk " + std::to_string(chunk));
      EXPECT_EQ(Compress(mixed, level, chunk), expected);
    }
  }
}

// Python's zlib is an independent way to the same deflate data. Level 0 lays its stored blocks
// out by the output room it is given, which Python offers differently once the data pass 32 KiB,
// so there only the small samples are compared; the larger ones are compared with one-call
// deflate above.
TEST(CompressStream, BytesEqualPythonZlib) {
  SKIP_WITHOUT_PROGRAMS("python3");
  TempDir scratch;
  const std::vector<Sample> samples = Samples();
  std::vector<std::string> inputs;
  for (const Sample& sample : samples)
    inputs.push_back(sample.Data);
  const std::vector<int> levels = {-1, 0, 1, 9};
  const auto python = PythonDeflate(inputs, levels, scratch.Str());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    for (std::size_t j = 0; j < levels.size(); ++j) {
      if (levels[j] == 0 && samples[i].Data.size() > 32000)
        continue;
      SCOPED_TRACE(std::string(samples[i].Kind) + " at level " + std::to_string(levels[j]));
      EXPECT_EQ(Compress(samples[i].Data, levels[j], 65536), python[i][j]);
    }
  }
}

TEST(CompressStream, ProgressFiresOncePerFullBufferWhileInputIsFed) {
  const std::string random = RandomBytes(1 << 20, 21);
  std::vector<std::int64_t> model;
  const std::string expected = ModelDeflate(random, 9, &model);
  std::vector<std::int64_t> seen;
  EXPECT_EQ(Compress(random, 9, 65536, &seen), expected);
  // 1 MiB that does not compress fills 15 of its 16 buffers while it is fed; the rest comes
  // out while the stream is finished.
  EXPECT_EQ(seen.size(), 15u);
  EXPECT_EQ(seen, model);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_LT(seen.back(), static_cast<std::int64_t>(random.size()));

  // Output that stays below one buffer never reports, however much input it took.
  seen.clear();
  Compress(std::string(3 << 20, '\0'), 9, 65536, &seen);
  EXPECT_TRUE(seen.empty());
}

TEST(CompressStream, FirstBufferMakesRoomForTheZlibHeader) {
  // Stored data of exactly 65,534 deflate bytes fill the first buffer (the header's two bytes
  // count towards it) before the stream is finished.
  const std::string random = RandomBytes(200000, 31);
  std::vector<std::int64_t> seen;
  const std::string data = Compress(random, 0, 65536, &seen);
  std::vector<std::int64_t> model;
  ModelDeflate(random, 0, &model);
  EXPECT_EQ(seen, model);
  ASSERT_FALSE(seen.empty());
}

TEST(CompressStream, RefusesALevelZlibDoesNotKnow) {
  MemoryStream target;
  EXPECT_THROW(CompressStream(target, 10), ECompressionError);
}

} // namespace
} // namespace vornel::test
