// A full disk under the working folder: the build ends with "Disk full", Upload/ stays as it was,
// and a build on a disk with room afterwards succeeds.

#include "tests/faults/FaultSupport.h"

#include "platform/Errors.h"
#include "platform/Stream.h"

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

// Says why it skips (mounting needs root, and Windows has no small disk to mount).
#define MOUNT_OR_SKIP(disk)                                                                        \
  do {                                                                                             \
    if (!(disk).Mounted())                                                                         \
      GTEST_SKIP() << (disk).Error();                                                              \
  } while (false)

// Fills the disk that holds folder up to its last byte.
void FillDisk(const std::string& folder) {
  FileStream filler(folder + "/filler", FileStream::Mode::Create);
  const std::string block(4096, 'f');
  // A write that does not fit raises an error; what it could write stays.
  for (const std::size_t size : {block.size(), std::size_t{1}}) {
    try {
      while (true)
        filler.Write(block.data(), size);
    } catch (const std::exception&) {
    }
  }
}

class FullDisk : public ::testing::TestWithParam<int> {
protected:
  std::string Clean() const { return dir_ / "clean"; }
  std::string Work() const { return dir_ / "work"; }
  std::string Upload() const { return dir_ / "work/Upload"; }
  std::vector<std::string> BuildArgs() const {
    return {"build", "--jobs", std::to_string(GetParam()), Clean()};
  }

  TempDir dir_;
};

INSTANTIATE_TEST_SUITE_P(Jobs, FullDisk, ::testing::Values(1, 2));

TEST_P(FullDisk, BuildStopsWithDiskFullAndLeavesUploadAsItWas) {
  if (!HaveVornel())
    GTEST_SKIP() << "vornel was not built";
  SKIP_WITHOUT_PROGRAMS("python3");
  MakeTree(Clean(), 12, {40000, 90000, 15000, 200});
  // The set needs about 450 KB; each disk fills at another point of the build.
  for (const std::size_t kib : {48, 100, 180, 260, 340, 420}) {
    SCOPED_TRACE(std::to_string(kib) + " KiB disk");
    SmallDisk disk(Work(), kib * 1024);
    MOUNT_OR_SKIP(disk);
    const ProcessResult run = RunVornel(Work(), BuildArgs());
    EXPECT_EQ(run.Code, 2) << run.Out;
    EXPECT_TRUE(run.Err.starts_with("Disk full: \"" + Work()) && run.Err.ends_with("\".\n"))
        << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(SnapshotOf(Upload()), "(no folder)");

    // The same disk with room: the next build starts from scratch and succeeds.
    ASSERT_TRUE(disk.Resize(16 * 1024 * 1024));
    const ProcessResult again = RunVornel(Work(), BuildArgs());
    EXPECT_EQ(again.Code, 0) << again.Err;
    EXPECT_EQ(again.Out, "Done.13 files packed.\n");
    EXPECT_EQ(CheckWholeUpload(Clean(), Upload()), "");
    EXPECT_EQ(CheckListed(Upload(), Clean(), true), "");

    // Over that whole set, a build of a changed tree that fills the disk leaves it as it was.
    const std::string whole = SnapshotOf(Upload());
    WriteFile(Clean() + "/sub1/file1.bin", RandomBytes(90000, 77));
    FillDisk(Work());
    EXPECT_EQ(RunVornel(Work(), BuildArgs()).Code, 2);
    fs::remove(Work() + "/filler");
    EXPECT_EQ(SnapshotOf(Upload()), whole);
    MakeTree(Clean(), 12, {40000, 90000, 15000, 200});
  }
}

// The disk fills up at a chosen step of the build: while the next archive is created, or while
// the manifest is appended to. The error is "Disk full" (101) either way, and nothing is
// published.
TEST_P(FullDisk, DiskFilledBetweenStepsEndsTheBuildCleanly) {
  SKIP_WITHOUT_PROGRAMS("python3");
  MakeTree(Clean(), 6, {5000, 300});
  for (const std::size_t fillAtStep : {1, 3, 7}) {
    SCOPED_TRACE("disk filled after step " + std::to_string(fillAtStep));
    SmallDisk disk(Work(), 1024 * 1024);
    MOUNT_OR_SKIP(disk);
    HookedView view;
    view.OnStep = [&](const std::string&) {
      if (view.Steps.size() == fillAtStep)
        FillDisk(Work());
    };
    Packer packer("Teskor.exe");
    BuildOptions options;
    options.Jobs = GetParam();
    // Filled at the last step, every archive is written; what may still fail is the record of
    // archives kept for the next build, and then nothing is published either.
    bool done = false;
    try {
      done = packer.Build(Clean(), Work(), view, options) == BuildOutcome::Done;
      EXPECT_EQ(fillAtStep, 7u) << "the build succeeded on a full disk";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode(), io_error::DiskFull);
    }
    EXPECT_EQ(packer.FileNumber, 1);
    if (done)
      EXPECT_EQ(CheckWholeUpload(Clean(), Upload()), "");
    else
      EXPECT_EQ(SnapshotOf(Upload()), "(no folder)");
    fs::remove(Work() + "/filler");
    HookedView calm;
    EXPECT_EQ(packer.Build(Clean(), Work(), calm, options), BuildOutcome::Done);
    EXPECT_EQ(CheckWholeUpload(Clean(), Upload()), "");
  }
}

} // namespace
} // namespace vornel::test
