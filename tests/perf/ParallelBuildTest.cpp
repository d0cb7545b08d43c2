#include "tests/perf/PerfFixture.h"

#include "platform/Errors.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <sstream>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<std::string> FileLines(const std::string& manifest) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(manifest))
    if (line.rfind("F", 0) == 0 && line.rfind("fcount", 0) != 0)
      lines.push_back(line);
  return lines;
}

class ParallelBuild : public PerfFixture {};

// The one promise of the engine: whatever the jobs, and whether archives are packed or kept,
// Upload/ is the same byte for byte.
TEST_F(ParallelBuild, UploadIsIdenticalForOneJobManyJobsAndReuse) {
  PutTree();
  ASSERT_EQ(BuildInto(dir_ / "serial", Jobs(1)), BuildOutcome::Done);
  const Snapshot serial = TakeSnapshot(dir_ / "serial/Upload");
  EXPECT_EQ(serial.at("empty/folder"), "<dir>");
  EXPECT_EQ(FileLines(serial.at("updates.lst")).size(), 49u);

  ThreadCheckingView parallelView;
  ASSERT_EQ(BuildInto(dir_ / "parallel", Jobs(4), parallelView), BuildOutcome::Done);
  EXPECT_EQ(TakeSnapshot(dir_ / "parallel/Upload"), serial);
  EXPECT_EQ(parallelView.Reused, 0);
  EXPECT_EQ(parallelView.Packed, TreeFiles);

  ThreadCheckingView reuseView;
  ASSERT_EQ(BuildInto(dir_ / "parallel", Jobs(4, true), reuseView), BuildOutcome::Done);
  EXPECT_EQ(TakeSnapshot(dir_ / "parallel/Upload"), serial);
  EXPECT_EQ(reuseView.Reused, TreeFiles);
  EXPECT_EQ(reuseView.Packed, 0);

  // Reuse on one job, into the serial folder, gives the same set again.
  ASSERT_EQ(BuildInto(dir_ / "serial", Jobs(1, true)), BuildOutcome::Done);
  EXPECT_EQ(TakeSnapshot(dir_ / "serial/Upload"), serial);

  fs::rename(dir_ / "parallel/Upload", Upload());
  EXPECT_PEERS_ACCEPT_UPLOAD();
}

// Progress: the self file, the maximum, then one step per archive, each file once, nothing
// going back before the end, all from the build's thread.
TEST_F(ParallelBuild, ProgressStepsOncePerArchiveOnTheBuildThread) {
  PutTree();
  ThreadCheckingView view;
  ASSERT_EQ(BuildInto(Work(), Jobs(4), view), BuildOutcome::Done);
  EXPECT_FALSE(view.OtherThreadSeen);
  const std::vector<std::string>& calls = view.Calls;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "step:Teskor.exe");
  EXPECT_EQ(calls[1], "max:" + std::to_string(TreeFiles));
  std::multiset<std::string> stepped;
  std::size_t at = 2;
  for (; at < calls.size() && calls[at].rfind("step:", 0) == 0; ++at)
    stepped.insert(calls[at].substr(5));
  EXPECT_EQ(stepped.size() + 1, static_cast<std::size_t>(TreeFiles));
  EXPECT_EQ(stepped.count("bin/app.exe"), 1u);
  EXPECT_EQ(stepped.count("many/f41.bin"), 1u);
  EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(at), calls.end()),
            (std::vector<std::string>{"reset", "message:Done." + std::to_string(TreeFiles) +
                                                   " files packed."}));
}

// One job is the serial procedure: every file is listed and stepped before the next, in tree
// order.
TEST_F(ParallelBuild, OneJobStepsInTreeOrder) {
  Put("Teskor.exe", "self");
  Put("b/big.bin", RandomBytes(300000, 5));
  Put("a.txt", "a");
  Put("c.txt", "c");
  ASSERT_EQ(Build(Jobs(1)), BuildOutcome::Done);
  EXPECT_EQ(view_.Calls,
            (std::vector<std::string>{"step:Teskor.exe", "max:4", "step:a.txt", "step:b/big.bin",
                                      "step:c.txt", "reset", "message:Done.4 files packed."}));
}

// A file that fails mid-build with many jobs: the files before it are still packed (the
// schedule gives them out after larger files behind it), the listing kept aside stops right
// before it exactly as the serial procedure's does, and its error is the one reported.
TEST_F(ParallelBuild, ErrorListsTheSamePrefixAsTheSerialBuild) {
  if (OnWindows())
    GTEST_SKIP() << "needs /proc, whose files say size 0 and read as text";
  Put("Teskor.exe", "self");
  Put("a.txt", "first");
  Put("c_big.bin", RandomBytes(2 * 1024 * 1024, 7));
  // Reads as text though its size is 0: its packing fails as a file changed under the build.
  fs::create_symlink("/proc/self/status", Clean("m_vanished.dll"));
  for (int i = 0; i < 6; ++i)
    Put(std::string("n").append(std::to_string(i)) + ".bin",
        RandomBytes(100000 + 1000 * i, 20 + i));
  Put("z_big.bin", RandomBytes(3 * 1024 * 1024, 8));

  std::string manifests[2];
  for (int jobs : {1, 4}) {
    const std::string work = dir_ / ("work" + std::to_string(jobs));
    RecordingView view;
    BuildOptions options = Jobs(jobs);
    options.FollowLinks = true;
    try {
      BuildInto(work, options, view);
      ADD_FAILURE() << "no error with " << jobs << " jobs";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("m_vanished.dll\""), std::string::npos);
    }
    // Nothing is published; the work kept aside lists the same prefix.
    EXPECT_FALSE(fs::exists(work + "/Upload"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(work + "/Upload.staging/m_vanished.dll.zip")));
    manifests[jobs == 1 ? 0 : 1] = ReadFile(work + "/Upload.staging/updates.lst");
  }
  EXPECT_EQ(manifests[1], manifests[0]);
  const std::vector<std::string> lines = FileLines(manifests[1]);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("F1=a.txt|", 0), 0u);
  EXPECT_EQ(lines[1].rfind("F2=c_big.bin|", 0), 0u);
  // The largest file was given out first, so it was packed before the failure was seen; its
  // archive is whole and stays, though unlisted.
  EXPECT_TRUE(fs::is_regular_file(dir_ / "work4/Upload.staging/z_big.bin.zip"));
}

// Closing the window (a stop request) lets the files in flight finish and lists the done
// files up to the first that is not done: a prefix of the full manifest, every archive whole,
// all kept aside.
TEST_F(ParallelBuild, StopListsAContiguousPrefixOfWholeArchives) {
  PutTree();
  ASSERT_EQ(BuildInto(dir_ / "full", Jobs(1)), BuildOutcome::Done);
  const std::vector<std::string> full = FileLines(ReadFile(dir_ / "full/Upload/updates.lst"));

  class StoppingView : public RecordingView {
  public:
    void StepProgress(const std::string& path) override {
      RecordingView::StepProgress(path);
      if (++steps == 6)
        stop = true;
    }
    int steps = 0;
    std::atomic<bool> stop{false};
  } view;
  BuildOptions options = Jobs(3);
  options.StopRequested = &view.stop;
  ASSERT_EQ(BuildInto(Work(), options, view), BuildOutcome::Stopped);
  EXPECT_LT(view.steps, TreeFiles);

  EXPECT_FALSE(fs::exists(Upload()));
  const std::string staging = Work() + "/Upload.staging/";
  const std::vector<std::string> listed = FileLines(ReadFile(staging + "updates.lst"));
  ASSERT_LE(listed.size(), full.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(listed[i], full[i]);
    const std::string path =
        listed[i].substr(listed[i].find('=') + 1, listed[i].find('|') - listed[i].find('=') - 1);
    std::string relative = path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    EXPECT_EQ(ReadFile(staging + relative + ".zip"),
              ReadFile(dir_ / ("full/Upload/" + relative + ".zip")));
  }
  // A build after the stop finishes the set, and its manifest is the full one.
  ASSERT_EQ(Build(Jobs(3, true)), BuildOutcome::Done);
  EXPECT_EQ(Manifest(), ReadFile(dir_ / "full/Upload/updates.lst"));
}

} // namespace
} // namespace vornel::test
