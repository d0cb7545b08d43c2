// Files that grow, shrink or change while they are packed: the change is reported, and nothing
// is ever listed with a CRC-32 that its archive does not hold.

#include "tests/faults/FaultSupport.h"

#include "platform/Errors.h"
#include "tests/support/FaultyStream.h"
#include "zip/Pellum.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

std::string ArchiveBytes(TPellum& zip) {
  Stream& stream = *zip.GetArchiveStream();
  stream.SetPosition(0);
  return stream.ReadString(static_cast<std::size_t>(stream.Size()));
}

class ChangingFile : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override {
    WriteFile(Clean("Teskor.exe"), "self");
    WriteFile(Clean("a.txt"), RandomBytes(3000, 1));
    fs::create_directories(Work());
    options_.Jobs = GetParam();
  }
  std::string Clean(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "clean" : dir_ / ("clean/" + relative);
  }
  std::string Work() const { return dir_ / "work"; }
  std::string Upload() const { return dir_ / "work/Upload"; }

  TempDir dir_;
  Packer packer_{"Teskor.exe"};
  BuildOptions options_;
};

INSTANTIATE_TEST_SUITE_P(Jobs, ChangingFile, ::testing::Values(1, 2));

// A /proc file announces 0 bytes and then delivers its text: its checksum and its archive would
// come from different contents.
TEST_P(ChangingFile, ProcFileThatAnnouncesNoBytesIsReported) {
  if (OnWindows() || !fs::exists("/proc/self/status"))
    GTEST_SKIP() << "no /proc";
  fs::create_symlink("/proc/self/status", Clean("status"));
  options_.FollowLinks = true;
  HookedView view;
  try {
    packer_.Build(Clean(), Work(), view, options_);
    ADD_FAILURE() << "a file of changing size was packed";
  } catch (const std::exception& error) {
    EXPECT_NE(std::string(error.what()).find("status\" changed while it was packed"),
              std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_FALSE(fs::exists(Upload() + ".staging/status.zip"));
  if (HaveProgram("python3")) {
    EXPECT_EQ(CheckListed(Upload() + ".staging", "", true), "");
  }
}

// A writer appends to (and now and then truncates) a file while builds run. Each build either
// reports the change or publishes a CRC-32 that its archive holds.
TEST_P(ChangingFile, FileGrowingDuringBuildsIsNeverListedWrong) {
  SKIP_WITHOUT_PROGRAMS("python3");
  const std::string growing = Clean("grow.bin");
  WriteFile(growing, "");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    const std::string chunk = RandomBytes(4096, 7);
    std::size_t size = 0;
    while (!stop.load()) {
      std::ofstream out(growing, size > (1 << 20) ? std::ios::binary | std::ios::trunc
                                                  : std::ios::binary | std::ios::app);
      size = size > (1 << 20) ? 0 : size + chunk.size();
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      out.close();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int reported = 0;
  int done = 0;
  for (int build = 0; build < 8; ++build) {
    HookedView view;
    try {
      if (packer_.Build(Clean(), Work(), view, options_) == BuildOutcome::Done)
        ++done;
    } catch (const std::exception& error) {
      ++reported;
      const std::string message = error.what();
      EXPECT_TRUE(message.find("changed while it was packed") != std::string::npos ||
                  message.starts_with("Read beyond end of file: \""))
          << message;
    }
    // Upload/ holds the last whole build, if any.
    if (fs::exists(Upload())) {
      EXPECT_EQ(CheckListed(Upload()), "") << "build " << build;
    }
  }
  stop.store(true);
  writer.join();
  std::cout << "[ outcome  ] " << done << " builds done, " << reported << " reported the change\n";
}

// The same at the component: a source whose reads deliver more or fewer bytes than its size
// announced. The add fails and the archive is exactly as it was.
TEST(ChangingSourceComponent, AddRefusesASourceThatGrowsOrShrinks) {
  struct Mode {
    TZipSaveMethod Method;
    bool TempFiles;
  };
  TempDir tmp;
  ScopedTempFolder tmpdir(tmp.Str());
  for (const Mode mode :
       {Mode{TZipSaveMethod::FastSave, false}, Mode{TZipSaveMethod::RebuildAll, false},
        Mode{TZipSaveMethod::RebuildAll, true}}) {
    for (const std::size_t length : {0, 1, 70000, 200000}) {
      SCOPED_TRACE(std::to_string(length) + " bytes, method " +
                   std::to_string(static_cast<int>(mode.Method)) + (mode.TempFiles ? "+tmp" : ""));
      TPellum zip;
      zip.SetSaveMethod(mode.Method);
      zip.SetUseTempFiles(mode.TempFiles);
      MemoryStream empty;
      zip.WriteEmptyArchive(empty);
      zip.OpenFromStream(std::make_unique<MemoryStream>(empty.Bytes()));
      MemoryStream first(RandomBytes(5000, 3));
      zip.Entries().AddEntry("first", 0x20, first, 40000.5);
      const std::string before = ArchiveBytes(zip);

      const std::string data = RandomBytes(length + 100, 4);
      test::ChangingSource grown(data, static_cast<std::int64_t>(length));
      try {
        zip.Entries().AddEntry("grown", 0x20, grown, 40000.5);
        ADD_FAILURE() << "a source with more bytes than announced was added";
      } catch (const EPellumError& error) {
        EXPECT_NE(std::string(error.what()).find("\"grown\" changed while it was packed"),
                  std::string::npos)
            << error.what();
      }
      EXPECT_EQ(zip.Entries().Count(), 1);
      EXPECT_EQ(ArchiveBytes(zip), before);

      test::ChangingSource shrunk(data.substr(0, length / 2), static_cast<std::int64_t>(length));
      if (length > 1) {
        try {
          zip.Entries().AddEntry("shrunk", 0x20, shrunk, 40000.5);
          ADD_FAILURE() << "a source with fewer bytes than announced was added";
        } catch (const EInOutError& error) {
          EXPECT_EQ(error.ErrorCode(), io_error::ReadBeyondEnd);
        }
        EXPECT_EQ(zip.Entries().Count(), 1);
        EXPECT_EQ(ArchiveBytes(zip), before);
      }
      EXPECT_TRUE(fs::is_empty(tmp.Path()));
    }
  }
}

} // namespace
} // namespace vornel::test
