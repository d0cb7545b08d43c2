// Builds ended from outside: killed at any moment (the live set stays as it was, and --reuse then
// finishes the job), and stopped with Ctrl-C (a message that tells the truth).

#include "tests/faults/FaultSupport.h"

#include "app/ArchiveCheck.h"
#include "app/ManifestReader.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "zip/Pellum.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <thread>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// vornel and its arguments, started without a shell, so an interruption reaches it and nothing
// else.
std::vector<std::string> Vornel(const std::vector<std::string>& arguments) {
  std::vector<std::string> words{VornelPath()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return words;
}

void MakeProseTree(const std::string& root, int big, std::size_t bigSize, int small) {
  WriteFile(root + "/Teskor.exe", "self");
  for (int i = 0; i < big; ++i)
    WriteFile(root + "/big/b" + std::to_string(i) + ".dat", Prose(bigSize, 100 + i));
  for (int i = 0; i < small; ++i)
    WriteFile(root + "/small/s" + std::to_string(i) + ".txt", Prose(500 + 37 * i, 200 + i));
}

std::string ReadIfThere(const std::string& path) {
  return fs::exists(FsPath(path)) ? ReadFile(path) : std::string();
}

// What an archive that is not listed declares about itself: its one entry's name and CRC.
ArchiveExpectation OwnDeclaration(const std::string& path) {
  ArchiveExpectation own;
  if (const auto found = FindFile(path))
    own.Size = static_cast<std::int32_t>(found->Size);
  try {
    TPellum pellum;
    pellum.OpenFromStream(std::make_unique<FileStream>(path, FileStream::Mode::OpenRead));
    if (pellum.GetIsZipFile() && pellum.Entries().Count() > 0) {
      own.EntryName = pellum.Entries()[0].CentralHeader.FileName;
      own.Crc = pellum.Entries()[0].CentralHeader.Crc32;
    }
  } catch (const std::exception&) {
    // Left to the check, which says what is wrong with it.
  }
  return own;
}

// Every archive updates.lst lists, and every file named like an archive, must be whole: the
// listed ones as listed, the others as their own headers declare. One line per problem.
std::string ArchiveProblems(const std::string& upload) {
  std::map<std::string, std::optional<ArchiveExpectation>> archives;
  for (const std::string& file : FilesBelow(upload)) {
    if (file.ends_with(".zip"))
      archives[file] = std::nullopt;
  }
  for (const ListedArchive& listed : ParseManifest(ReadIfThere(upload + "/updates.lst")).Archives)
    archives[listed.RelativePath + ".zip"] =
        ArchiveExpectation{BareName(listed.RelativePath), listed.Crc, listed.Size};
  std::string problems;
  for (const auto& [file, listed] : archives) {
    const std::string path = upload + "/" + file;
    for (const std::string& problem : CheckArchive(path, listed ? *listed : OwnDeclaration(path)))
      problems += file + ": " + problem + "\n";
  }
  return problems;
}

class Interruption : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveVornel())
      GTEST_SKIP() << "vornel was not built";
    fs::create_directories(Work());
  }
  std::string Clean() const { return dir_ / "clean"; }
  std::string Work() const { return dir_ / "work"; }
  std::string Upload() const { return dir_ / "work/Upload"; }
  // The moment to stop a build of the prose tree: the self file is packed, the big files are
  // still to come.
  void WaitUntilTheSelfFileIsPacked() const {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (ReadIfThere(Upload() + ".staging/updates.lst").find("[files]") == std::string::npos &&
           Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  TempDir dir_;
};

// Builds of a changed tree killed at random moments over a set of the earlier tree: each kill
// leaves Upload/ byte for byte as it was (or, past the last step, as a whole build of the new
// tree), and --reuse then finishes with the bytes of a fresh build.
TEST_F(Interruption, KilledAtAnyMomentLeavesTheLiveSetWhole) {
  MakeProseTree(Clean(), 3, 300000, 12);
  ASSERT_EQ(RunVornel(Work(), {"build", Clean()}).Code, 0);
  const std::string before = SnapshotOf(Upload());
  MakeProseTree(Clean(), 3, 310000, 14); // every file changed, two more small ones
  const std::string fresh = dir_ / "fresh";
  fs::create_directories(fresh);
  const auto started = Clock::now();
  ASSERT_EQ(RunVornel(fresh, {"build", "--jobs", "2", Clean()}).Code, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
  const std::string after = SnapshotOf(fresh + "/Upload");

  std::mt19937 random(14);
  for (int round = 0; round < 30; ++round) {
    const auto moment = std::chrono::microseconds(random() % (span.count() + 1));
    // Every other build resumes what the killed one left aside.
    std::vector<std::string> build{"build", "--jobs", round % 2 == 0 ? "2" : "1", Clean()};
    if (round % 4 == 1)
      build.insert(build.begin() + 1, "--reuse");
    StartedProcess child(Vornel(build), Work());
    ASSERT_TRUE(child.Started());
    std::this_thread::sleep_for(moment);
    child.Kill();
    child.Wait();
#ifndef _WIN32
    // Windows cannot swap two folders at once: a kill while archives are renamed into place
    // leaves old lines over some new archives, as README says; --reuse below still finishes.
    const std::string now = SnapshotOf(Upload());
    EXPECT_TRUE(now == before || now == after) << "after a kill at " << moment.count() << " us";
    // And by a reader that is not ours, where there is one: every listed archive opens whole.
    EXPECT_EQ(CheckListed(Upload()), "") << "after a kill at " << moment.count() << " us";
#endif
  }

  // --reuse finishes the set: the same bytes as a clean build, nothing left aside.
  const ProcessResult reuse = RunVornel(Work(), {"build", "--reuse", Clean()});
  ASSERT_EQ(reuse.Code, 0) << reuse.Err;
  EXPECT_EQ(SnapshotOf(Upload()), after);
  EXPECT_FALSE(fs::exists(FsPath(Upload() + ".staging")));
}

TEST_F(Interruption, CtrlCLeavesUploadAsItWasAndSaysWhatWasFinished) {
  MakeProseTree(Clean(), 10, 1500000, 4);
  StartedProcess child(Vornel({"build", "--jobs", "2", Clean()}), Work(), /*interruptible=*/true);
  ASSERT_TRUE(child.Started());
  WaitUntilTheSelfFileIsPacked();
  ASSERT_TRUE(child.Interrupt());
  EXPECT_EQ(child.Wait(), 130);

  const std::string message = child.Err();
  std::smatch numbers;
  ASSERT_TRUE(std::regex_match(message, numbers,
                               std::regex("(vornel build: stopping after [0-9]+ files? in "
                                          "flight\\.\\.\\.\n)?"
                                          "Build stopped: ([0-9]+) archives? finished and kept "
                                          "aside; \".*Upload\" is as the last whole build left "
                                          "it\\. Run 'vornel build --reuse .*' to finish: it "
                                          "keeps the finished archives\\.\n")))
      << message;
  int archives = 0;
  for (const std::string& file : FilesBelow(Upload() + ".staging"))
    archives += file.size() > 4 && file.compare(file.size() - 4, 4, ".zip") == 0 ? 1 : 0;
  EXPECT_EQ(std::stoi(numbers[2]), archives);
  EXPECT_LT(archives, 15);
  EXPECT_FALSE(fs::exists(FsPath(Upload()))) << "a first build that stopped published nothing";

  const ProcessResult reuse = RunVornel(Work(), {"build", "--reuse", Clean()});
  EXPECT_EQ(reuse.Code, 0);
  const std::string word = std::stoi(numbers[2]) == 1 ? " archive," : " archives,";
  EXPECT_NE(reuse.Err.find("reused " + numbers[2].str() + word), std::string::npos) << reuse.Err;
  EXPECT_EQ(RunVornel(Work(), {"verify", "-q", "--strict"}).Code, 0);
}

// A second Ctrl-C ends the build at once, with the code a shell reports on both systems.
TEST_F(Interruption, SecondCtrlCEndsWithTheSameCode) {
  MakeProseTree(Clean(), 10, 1500000, 4);
  StartedProcess child(Vornel({"build", "--jobs", "2", Clean()}), Work(), /*interruptible=*/true);
  ASSERT_TRUE(child.Started());
  WaitUntilTheSelfFileIsPacked();
  ASSERT_TRUE(child.Interrupt());
  child.Interrupt(); // may come when the build has already stopped
  EXPECT_EQ(child.Wait(), 130);
  EXPECT_FALSE(fs::exists(FsPath(Upload())));
  // The second press may cut an archive short in the staging folder; --reuse must not keep it.
  EXPECT_EQ(RunVornel(Work(), {"build", "--reuse", Clean()}).Code, 0);
  EXPECT_EQ(ArchiveProblems(Upload()), "");
  EXPECT_EQ(RunVornel(Work(), {"verify", "-q", "--strict"}).Code, 0);
}

} // namespace
} // namespace vornel::test
