#include "tests/perf/PerfFixture.h"

#include <filesystem>

namespace vornel::test {

namespace fs = std::filesystem;

Snapshot TakeSnapshot(const std::string& root) {
  Snapshot snapshot;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(item.path(), root).generic_string();
    snapshot[relative] = item.is_directory() ? "<dir>" : ReadFile(item.path().string());
  }
  return snapshot;
}

void ThreadCheckingView::StepProgress(const std::string& relativePath) {
  if (std::this_thread::get_id() != Builder)
    OtherThreadSeen = true;
  RecordingView::StepProgress(relativePath);
}

void ThreadCheckingView::ShowArchiveCounts(std::int32_t reused, std::int32_t packed) {
  if (std::this_thread::get_id() != Builder)
    OtherThreadSeen = true;
  Reused = reused;
  Packed = packed;
}

void PerfFixture::PutTree() {
  Put("Teskor.exe", RandomBytes(30000, 1));
  Put("bin/app.exe", RandomBytes(1536 * 1024 + 7, 2)); // incompressible, over 1 MiB
  std::string text;
  for (int line = 0; text.size() < 2 * 1024 * 1024 + 100; ++line)
    text += "entry " + std::to_string(line * 7919 % 100003) + " = value of line\r\n";
  Put("bin/lib/table.dat", text); // compressible, over 1 MiB
  Put("data/empty.txt", "");
  Put("data/deep/er/still/x.cfg", "[x]\r\nkey=1\r\n");
  Put("data/deep/er/.hidden", "h");
  Put("data/deep/zero", "");
  Put("readme.txt", "Read me.\r\n");
  // Many sizes in an order that the schedule turns around: small names first, larger later.
  for (int i = 0; i < 42; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "many/f%02d.bin", i);
    Put(name, RandomBytes(static_cast<std::size_t>(i) * 2500 + (i % 3) * 50000, 100 + i));
  }
  fs::create_directories(Clean("empty/folder"));
}

BuildOutcome PerfFixture::BuildInto(const std::string& workDir, const BuildOptions& options,
                                    BuildView& view) {
  fs::create_directories(workDir);
  Packer packer("Teskor.exe");
  return packer.Build(Clean(), workDir, view, options);
}

} // namespace vornel::test
