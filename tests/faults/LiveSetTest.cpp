// The live set (updates.lst and the archives it lists) changes only when a build is whole: a
// reader beside builds never meets a line whose archive holds other content, a failed build
// leaves Upload/ as it was, verify tells a whole build from a cut-off manifest, and the
// set-ups operators use (Upload a link to the served folder, leftovers of dead builds) hold.

#include "tests/faults/FaultSupport.h"

#include "app/ArchiveCheck.h"
#include "app/ManifestReader.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

// One reading of a set as a client makes it: the manifest, each listed archive, the manifest
// again. Empty when the manifest changed under the reader (a build was published meanwhile: the
// client starts over); else the problems found, "" for none. The manifest is read as a web server
// reads it, sharing the file with a build that replaces it: a reader that does not share deletion
// keeps Windows from replacing the file at all (see
// AManifestHeldOpenStopsTheBuildBeforeAnyArchiveMoves).
std::optional<std::string> ReadLikeAClient(const std::string& upload) {
  const std::string manifestPath = upload + "/updates.lst";
  std::string before;
  try {
    before = ReadWholeFile(manifestPath);
  } catch (const std::exception&) {
    return "updates.lst cannot be read";
  }
  const ParsedManifest parsed = ParseManifest(before);
  std::string problems;
  for (const ManifestProblem& problem : parsed.Problems)
    problems += "updates.lst line " + std::to_string(problem.Line) + ": " + problem.Text + "\n";
  if (!parsed.Fcount || *parsed.Fcount != parsed.FileLines)
    problems += "updates.lst lists another number of files than fcount= says\n";
  for (const ListedArchive& listed : parsed.Archives) {
    const std::string archive = upload + "/" + listed.RelativePath + ".zip";
    for (const std::string& problem :
         CheckArchive(archive, {BareName(listed.RelativePath), listed.Crc, listed.Size}))
      problems += listed.RelativePath + ".zip: " + problem + "\n";
  }
  std::string after;
  try {
    after = ReadWholeFile(manifestPath);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (after != before)
    return std::nullopt;
  return problems;
}

class LiveSet : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveVornel())
      GTEST_SKIP() << "vornel was not built";
    fs::create_directories(FsPath(Work()));
  }
  std::string Clean() const { return dir_ / "clean"; }
  std::string Work() const { return dir_ / "work"; }
  std::string Upload() const { return dir_ / "work/Upload"; }
  ProcessResult Vornel(const std::vector<std::string>& arguments) const {
    return RunVornel(Work(), arguments);
  }

  TempDir dir_;
};

// Builds of two versions of a tree take turns while a reader reads the set again and again.
TEST_F(LiveSet, AReaderBesideBuildsNeverSeesAMix) {
  MakeTree(dir_ / "a", 120, {2000, 60000, 300, 0, 9000}, 1);
  MakeTree(dir_ / "b", 120, {2000, 60000, 300, 0, 9000}, 2);
  ASSERT_EQ(Vornel({"build", "-q", dir_ / "a"}).Code, 0);
  std::atomic<bool> stop{false};
  int rounds = 0;
  std::string seen;
  std::thread reader([&] {
    while (!stop.load()) {
      if (const auto problems = ReadLikeAClient(Upload())) {
        ++rounds;
        if (seen.empty())
          seen = *problems;
      }
    }
  });
  for (const char* tree : {"b", "a", "b", "a"}) {
    const ProcessResult built = Vornel({"build", "-q", "--jobs", "2", dir_ / tree});
    EXPECT_EQ(built.Code, 0) << built.Err;
  }
  stop.store(true);
  reader.join();
  EXPECT_GT(rounds, 0);
#ifdef _WIN32
  // Windows cannot swap two folders at once: archives go in place one by one, updates.lst last.
  if (!seen.empty())
    std::cout << "a reader under Windows saw, between the renames:\n" << seen;
#else
  EXPECT_EQ(seen, "");
#endif
}

// On Windows a program that holds updates.lst open without delete sharing (an editor, a scanner)
// keeps it from being replaced: the build waits, then fails before the first archive moves, so
// clients never read the old lines beside new archives. Elsewhere the build goes ahead.
TEST_F(LiveSet, AManifestHeldOpenStopsTheBuildBeforeAnyArchiveMoves) {
  MakeTree(Clean(), 20, {900, 3000}, 7);
  ASSERT_EQ(Vornel({"build", "-q", Clean()}).Code, 0);
  const std::string before = SnapshotOf(Upload());
  MakeTree(Clean(), 20, {900, 3000}, 8);
  ProcessResult built;
  {
    std::ifstream held(FsPath(Upload() + "/updates.lst"), std::ios::binary);
    ASSERT_TRUE(held.good());
    built = Vornel({"build", "-q", Clean()});
  }
#ifdef _WIN32
  EXPECT_EQ(built.Code, 2);
  EXPECT_NE(built.Err.find("updates.lst"), std::string::npos) << built.Err;
  EXPECT_EQ(SnapshotOf(Upload()), before);
#else
  EXPECT_EQ(built.Code, 0) << built.Err;
  EXPECT_NE(SnapshotOf(Upload()), before);
#endif
  const ProcessResult again = Vornel({"build", "-q", Clean()});
  EXPECT_EQ(again.Code, 0) << again.Err;
}

// A build that fails part way, after some archives were packed, changes nothing clients read;
// the next build goes ahead as usual.
TEST_F(LiveSet, AFailedBuildLeavesUploadAsItWas) {
  MakeTree(Clean(), 30, {5000, 700, 20000}, 3);
  ASSERT_EQ(Vornel({"build", "-q", Clean()}).Code, 0);
  const std::string before = SnapshotOf(Upload());
  MakeTree(Clean(), 30, {5000, 700, 20000}, 4);
  // The walk sees the file; packing finds it gone (file29 lies in sub2/, packed late).
  Packer packer("Teskor.exe");
  HookedView view;
  bool removed = false;
  view.OnStep = [&](const std::string&) {
    if (!removed)
      removed = fs::remove(FsPath(Clean() + "/sub2/file29.bin"));
  };
  BuildOptions serial;
  EXPECT_THROW(packer.Build(Clean(), Work(), view, serial), std::exception);
  EXPECT_TRUE(removed);
  EXPECT_EQ(SnapshotOf(Upload()), before);
  const ProcessResult again = Vornel({"build", "-q", "--reuse", "--prune", Clean()});
  EXPECT_EQ(again.Code, 0) << again.Err;
  // Every file changed: the players download them all (the self file's archive included).
  EXPECT_NE(again.Err.find("players download 30 archives"), std::string::npos) << again.Err;
  const ProcessResult verify = Vornel({"verify", "-q", "--strict", "--against", Clean()});
  EXPECT_EQ(verify.Code, 0) << verify.Out << verify.Err;
}

// A whole build verifies clean, namesakes in subfolders included; a manifest cut at any byte is
// a problem; a copy without the build's record gets a warning that fails only with --strict.
TEST_F(LiveSet, VerifyTellsAWholeBuildFromACutManifest) {
  MakeTree(Clean(), 12, {900, 3000}, 5);
  WriteFile(Clean() + "/one/Teskor.exe", "twin");
  WriteFile(Clean() + "/two/deeper/Teskor.exe", "twin");
  ASSERT_EQ(Vornel({"build", "-q", Clean()}).Code, 0);
  const ProcessResult whole = Vornel({"verify", "-q", "--strict"});
  EXPECT_EQ(whole.Code, 0) << whole.Out;

  fs::copy(FsPath(Upload()), FsPath(dir_ / "served"), fs::copy_options::recursive);
  const ProcessResult copy = RunVornel(dir_.Str(), {"verify", "-q", "served"});
  EXPECT_EQ(copy.Code, 0) << copy.Out;
  EXPECT_NE(copy.Out.find("warning: updates.lst line 7: fcount=14 but 12 F lines follow"),
            std::string::npos)
      << copy.Out;
  EXPECT_EQ(RunVornel(dir_.Str(), {"verify", "-q", "--strict", "served"}).Code, 1);

  const std::string manifest = ReadFile(Upload() + "/updates.lst");
  std::mt19937 random(21);
  for (int round = 0; round < 20; ++round) {
    const std::size_t cut = 1 + random() % (manifest.size() - 1);
    WriteFile(Upload() + "/updates.lst", manifest.substr(0, cut));
    const ProcessResult run = Vornel({"verify", "-q"});
    EXPECT_EQ(run.Code, 1) << "cut after byte " << cut << "\n" << run.Out;
  }
}

// Upload as a link to the folder a web server serves: the link stays, the folder it names is
// replaced as a whole, and the staging folder lies beside that folder.
TEST_F(LiveSet, UploadLinkedToTheServedFolderStaysALink) {
  SKIP_WITHOUT_SYMLINKS();
  MakeTree(Clean(), 10, {800, 5000}, 6);
  fs::create_directories(FsPath(dir_ / "www/updates"));
  WriteFile(dir_ / "www/updates/index.html", "served by the web server");
  fs::create_directory_symlink(FsPath(dir_ / "www/updates"), FsPath(Upload()));
  for (int round = 0; round < 2; ++round) {
    const ProcessResult run = Vornel({"build", "-q", Clean()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_TRUE(fs::is_symlink(FsPath(Upload())));
    EXPECT_EQ(ReadFile(dir_ / "www/updates/index.html"), "served by the web server");
    EXPECT_FALSE(fs::exists(FsPath(dir_ / "www/updates.staging")));
    EXPECT_EQ(Vornel({"verify", "-q", "--against", Clean()}).Code, 0);
  }
}

// Whatever lies at the staging folder's name: a dead build's folder is cleared (or, with
// --reuse, weeded); a file or a link is never followed nor written through, and refuses the build.
TEST_F(LiveSet, WhatLiesAtTheStagingName) {
  MakeTree(Clean(), 10, {800, 5000}, 7);
  ASSERT_EQ(Vornel({"build", "-q", Clean()}).Code, 0);
  const std::string staging = Upload() + ".staging";
  const std::string expected = SnapshotOf(Upload());

  for (const char* options : {"", "--reuse"}) {
    SCOPED_TRACE(std::string("dead build's folder, build ") + options);
    WriteFile(staging + "/junk.txt", "left by a dead build");
    WriteFile(staging + "/gone/old.dat.zip", "not an archive");
    WriteFile(staging + "/updates.lst", "[self]\r\n");
    WriteFile(staging + "/sub1/file1.bin.zip", "half an archive");
    fs::create_directories(FsPath(staging + "/file0.bin.zip"));
    const ProcessResult run = Vornel(Words(std::string("build -q ") + options + " " + Clean()));
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(SnapshotOf(Upload()), expected);
    EXPECT_FALSE(fs::exists(FsPath(staging)));
  }

  WriteFile(dir_ / "elsewhere/keep.txt", "not the build's");
  const std::vector<std::function<void()>> inTheWay = {
      [&] { WriteFile(staging, "an operator's file"); },
      [&] {
        if (CanMakeSymlinks())
          fs::create_directory_symlink(FsPath(dir_ / "elsewhere"), FsPath(staging));
      }};
  for (const auto& make : inTheWay) {
    make();
    if (!fs::exists(fs::symlink_status(FsPath(staging))))
      continue;
    const ProcessResult run = Vornel({"build", "-q", Clean()});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("is in the way"), std::string::npos) << run.Err;
    EXPECT_EQ(SnapshotOf(Upload()), expected);
    EXPECT_EQ(ReadFile(dir_ / "elsewhere/keep.txt"), "not the build's");
    fs::remove(FsPath(staging));
  }
}

// Two builds of one folder at once would mix their work: the second is refused while the first
// runs, and the first goes on undisturbed.
TEST_F(LiveSet, ASecondBuildOfTheSameFolderIsRefused) {
  MakeTree(Clean(), 4, {24 * 1024 * 1024}, 11);
  StartedProcess first({VornelPath(), "build", "-q", "--jobs", "1", Clean()}, Work());
  ASSERT_TRUE(first.Started());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(FsPath(Upload() + ".staging/Teskor.exe.zip")) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const ProcessResult second = Vornel({"build", "-q", Clean()});
  EXPECT_EQ(second.Code, 1);
  EXPECT_NE(second.Err.find("Another build is writing to"), std::string::npos) << second.Err;
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_EQ(Vornel({"verify", "-q", "--strict", "--against", Clean()}).Code, 0);
}

// Upload/ as a mount point cannot be exchanged: the build stages inside it, under a name no client
// file can have, and renames archive by archive, updates.lst last, saying so. Mounted read-only,
// it refuses every write and changes in nothing.
TEST_F(LiveSet, UploadOnAMountPointIsPublishedByRenames) {
  SmallDisk disk(Upload(), 8 * 1024 * 1024);
  if (!disk.Mounted())
    GTEST_SKIP() << disk.Error();
  for (const unsigned seed : {8u, 9u}) {
    MakeTree(Clean(), 10, {800, 5000}, seed);
    const ProcessResult run = Vornel({"build", "-q", "--prune", Clean()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Err.find("the upload folder is a mount point"), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(Upload() + "/vornel-staging."));
    const ProcessResult verify = Vornel({"verify", "-q", "--strict", "--against", Clean()});
    EXPECT_EQ(verify.Code, 0) << verify.Out;
  }
  const std::string whole = SnapshotOf(Upload());
  ASSERT_TRUE(disk.MakeReadOnly());
  MakeTree(Clean(), 10, {800, 5000}, 10);
  const ProcessResult readOnly = Vornel({"build", "-q", Clean()});
  EXPECT_EQ(readOnly.Code, 2);
  EXPECT_NE(readOnly.Err.find(Upload() + "/vornel-staging."), std::string::npos) << readOnly.Err;
  EXPECT_EQ(SnapshotOf(Upload()), whole);
}

} // namespace
} // namespace vornel::test
