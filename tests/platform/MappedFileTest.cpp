#ifndef _WIN32

#include "platform/MappedFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace vornel {
namespace {

using test::TempDir;
using test::WriteFile;

struct Shrinking {
  const MappedFile* Mapped;
  std::string Path;
  unsigned Sum = 0;
  bool Shrink = false;
};

// Reads every mapped byte, after cutting the file to nothing when asked.
void ReadAll(void* context) {
  auto& job = *static_cast<Shrinking*>(context);
  if (job.Shrink && ::truncate(job.Path.c_str(), 0) != 0)
    return;
  for (std::size_t i = 0; i < job.Mapped->Size(); ++i)
    job.Sum += job.Mapped->Data()[i];
}

TEST(MappedFileTest, MapsFromAnOffsetAndSurvivesAFileThatShrinks) {
  TempDir dir;
  const std::string path = dir / "data.bin";
  const std::string bytes = test::RandomBytes(3 * 4096 + 10, 3);
  WriteFile(path, bytes);
  FileStream file(path, FileStream::Mode::OpenRead);
  // Not on a page boundary, and up to the last byte.
  const MappedFile mapped(file, 5000, bytes.size() - 5000);
  ASSERT_EQ(mapped.Size(), bytes.size() - 5000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped.Data()), mapped.Size()),
            bytes.substr(5000));

  Shrinking job{&mapped, path};
  EXPECT_TRUE(RunOverMappedPages(ReadAll, &job));
  // Pages the file no longer backs end the work, not the process, and the next run works.
  job.Shrink = true;
  EXPECT_FALSE(RunOverMappedPages(ReadAll, &job));
  WriteFile(path, bytes);
  job.Shrink = false;
  EXPECT_TRUE(RunOverMappedPages(ReadAll, &job));

  const MappedFile empty(file, 0, 0);
  EXPECT_EQ(empty.Size(), 0u);
}

} // namespace
} // namespace vornel

#endif
