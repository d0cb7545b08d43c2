// Builds that run at the same time in different working folders, and a build while another
// process reads Upload/: each is independent of the other, temporary names included.

#include "tests/faults/FaultSupport.h"

#include "zip/Pellum.h"

#include <atomic>
#include <filesystem>
#include <thread>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

// Every file below a and b, compared byte for byte; "" when the trees are the same.
std::string CompareTrees(const std::string& a, const std::string& b) {
  const std::set<std::string> left = FilesBelow(a);
  const std::set<std::string> right = FilesBelow(b);
  if (left != right)
    return "the two folders hold different files";
  for (const std::string& file : left) {
    if (ReadFile(a + "/" + file) != ReadFile(b + "/" + file))
      return file + " differs";
  }
  return "";
}

class ConcurrentBuilds : public ::testing::Test {
protected:
  void SetUp() override {
    MakeTree(dir_ / "clean", 150, {3000, 40000, 100, 0, 12000});
    fs::create_directories(dir_ / "tmp");
    for (const char* work : {"work1", "work2"})
      fs::create_directories(dir_ / work);
  }
  void TearDown() override {
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "a temporary file was left behind";
  }

  TempDir dir_;
};

// Two vornel processes build the same tree at once, sharing the temporary folder: both succeed,
// and their upload sets are identical to the byte.
TEST_F(ConcurrentBuilds, TwoProcessesGiveIdenticalUploadSets) {
  if (!HaveVornel())
    GTEST_SKIP() << "vornel was not built";
  const Environment env = TempFolderEnv(dir_ / "tmp");
  for (const std::string jobs : {"1", "2"}) {
    SCOPED_TRACE("--jobs " + jobs);
    ProcessResult first;
    std::thread other([&] {
      first = RunVornel(dir_ / "work1", {"build", "--jobs", jobs, dir_ / "clean"}, 300, env);
    });
    const ProcessResult second =
        RunVornel(dir_ / "work2", {"build", "--jobs", jobs, dir_ / "clean"}, 300, env);
    other.join();
    EXPECT_EQ(first.Code, 0) << first.Err;
    EXPECT_EQ(second.Code, 0) << second.Err;
    EXPECT_EQ(first.Out, "Done.151 files packed.\n");
    EXPECT_EQ(second.Out, first.Out);
    EXPECT_EQ(CompareTrees(dir_ / "work1/Upload", dir_ / "work2/Upload"), "");
    if (HaveProgram("python3")) {
      EXPECT_EQ(CheckWholeUpload(dir_ / "clean", dir_ / "work1/Upload"), "");
    }
  }
}

// Two builds in two threads of one process, each with its own packer: the results match.
TEST_F(ConcurrentBuilds, TwoThreadsGiveIdenticalUploadSets) {
  BuildOutcome outcomes[2]{};
  std::string errors[2];
  std::thread builders[2];
  for (int i = 0; i < 2; ++i) {
    builders[i] = std::thread([&, i] {
      try {
        Packer packer("Teskor.exe");
        HookedView view;
        outcomes[i] = packer.Build(dir_ / "clean", dir_ / ("work" + std::to_string(i + 1)), view);
      } catch (const std::exception& error) {
        errors[i] = error.what();
      }
    });
  }
  for (std::thread& builder : builders)
    builder.join();
  EXPECT_EQ(errors[0] + errors[1], "");
  EXPECT_EQ(outcomes[0], BuildOutcome::Done);
  EXPECT_EQ(outcomes[1], BuildOutcome::Done);
  EXPECT_EQ(CompareTrees(dir_ / "work1/Upload", dir_ / "work2/Upload"), "");
}

// Two components rebuild archives through temporary files in the same folder at the same time:
// every temporary name is their own, and each archive ends up with exactly its own entries.
TEST_F(ConcurrentBuilds, RebuildingThroughOneTemporaryFolderKeepsNamesApart) {
  ScopedTempFolder tmp(dir_ / "tmp");
  std::string errors[2];
  std::thread workers[2];
  for (int w = 0; w < 2; ++w) {
    workers[w] = std::thread([&, w] {
      try {
        const std::string prefix = "w" + std::to_string(w);
        const std::string path = dir_ / ("work" + std::to_string(w + 1) + "/a.zip");
        TPellum zip;
        zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
        zip.SetUseTempFiles(true);
        zip.CreateArchiveFile(path);
        zip.OpenArchive(path);
        for (int i = 0; i < 60; ++i) {
          MemoryStream data(RandomBytes(2000, static_cast<unsigned>(w * 100 + i)));
          zip.Entries().AddEntry(prefix + "-" + std::to_string(i), 0x20, data, 40000);
          if (i % 3 == 2)
            zip.Entries().RemoveEntry(0);
        }
        zip.CloseArchive();
        TPellum check;
        check.OpenArchive(path);
        if (check.Entries().Count() != 40)
          errors[w] = "archive " + std::to_string(w) + " holds " +
                      std::to_string(check.Entries().Count()) + " entries";
        for (std::int32_t i = 0; i < check.Entries().Count(); ++i) {
          if (check.Entries()[i].CentralHeader.FileName.rfind(prefix, 0) != 0)
            errors[w] = "archive " + std::to_string(w) + " holds a foreign entry";
        }
      } catch (const std::exception& error) {
        errors[w] = error.what();
      }
    });
  }
  for (std::thread& worker : workers)
    worker.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
}

// While a build rewrites an upload set, another process keeps reading every archive it lists
// (vornel verify, again and again). The reader never stops the build, and the set is whole
// afterwards.
TEST_F(ConcurrentBuilds, BuildWhileAnotherProcessReadsUpload) {
  if (!HaveVornel())
    GTEST_SKIP() << "vornel was not built";
  const Environment env = TempFolderEnv(dir_ / "tmp");
  const std::vector<std::string> build = {"build", dir_ / "clean"};
  ASSERT_EQ(RunVornel(dir_ / "work1", build, 300, env).Code, 0);
  std::atomic<bool> stop{false};
  int reads = 0;
  std::thread readerThread([&] {
    for (; !stop.load(); ++reads)
      RunVornel(dir_ / "work1", {"verify"}, 300);
  });
  std::vector<int> verifyCodes;
  for (int round = 0; round < 3; ++round) {
    const ProcessResult again = RunVornel(dir_ / "work1", build, 300, env);
    EXPECT_EQ(again.Code, 0) << again.Err;
    verifyCodes.push_back(RunVornel(dir_ / "work1", {"verify"}).Code);
  }
  stop.store(true);
  readerThread.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(verifyCodes, (std::vector<int>{0, 0, 0}));
  if (HaveProgram("python3")) {
    EXPECT_EQ(CheckWholeUpload(dir_ / "clean", dir_ / "work1/Upload"), "");
  }
}

} // namespace
} // namespace vornel::test
