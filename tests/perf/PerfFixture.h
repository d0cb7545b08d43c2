#pragma once

// A clean tree with the shapes that matter to the engine and to reuse (nested and empty folders,
// empty files, files over 1 MiB, files of many sizes so the largest-first schedule reorders
// them), and snapshots of an upload set to compare byte for byte.

#include "tests/app/BuildFixture.h"

#include <cstdint>
#include <map>
#include <string>
#include <thread>

namespace vornel::test {

// Every file (its bytes) and folder ("<dir>") below root, by relative path.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::string& root);

// The calls of RecordingView, plus the counts, checking that every call comes from the thread
// that runs the build.
class ThreadCheckingView : public RecordingView {
public:
  void StepProgress(const std::string& relativePath) override;
  void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) override;

  std::thread::id Builder = std::this_thread::get_id();
  bool OtherThreadSeen = false;
  std::int32_t Reused = -1;
  std::int32_t Packed = -1;
};

class PerfFixture : public BuildFixture {
protected:
  // The tree: the self file and 49 files to pack, two of them over 1 MiB.
  void PutTree();
  static constexpr std::int32_t TreeFiles = 50;

  // A build of the clean tree into another working folder (made when missing).
  BuildOutcome BuildInto(const std::string& workDir, const BuildOptions& options, BuildView& view);
  BuildOutcome BuildInto(const std::string& workDir, const BuildOptions& options) {
    RecordingView view;
    return BuildInto(workDir, options, view);
  }
  static BuildOptions Jobs(int jobs, bool reuse = false) {
    BuildOptions options;
    options.Jobs = jobs;
    options.Reuse = reuse;
    return options;
  }
};

} // namespace vornel::test
