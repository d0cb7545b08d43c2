#include "tests/app/BuildFixture.h"

#include "app/TreeCheck.h"
#include "platform/Errors.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

using Calls = std::vector<std::string>;

class Build : public BuildFixture {};

TEST_F(Build, TreeWithOnlyTheSelfFile) {
  Put("Teskor.exe", "self");
  EXPECT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  const std::string manifest = Manifest();
  EXPECT_EQ(manifest.substr(0, 20), "[self]\r\nIAM=Teskor.e");
  EXPECT_EQ(manifest.substr(manifest.find("\r\n[misc]")),
            "\r\n[misc]\r\nServer=127.0.0.1\r\nModifyHost=0\r\n[files]\r\nfcount=0\r\n");
  EXPECT_EQ(view_.Calls,
            (Calls{"step:Teskor.exe", "max:1", "reset", "message:Done.1 files packed."}));
  EXPECT_PEERS_ACCEPT_UPLOAD();
}

TEST_F(Build, NestedTreeIsMirroredPackedAndListed) {
  Put("Teskor.exe", "self");
  Put("readme.txt", "hello\n");
  Put("system/engine.dll", RandomBytes(70000, 1)); // more than one 64 KiB block
  Put("data/config.ini", "[client]\r\n");
  Put("data/maps/start.map", "");
  Put(".hidden", "dot file");
  Put("data/locked.bin", "read-only");
  fs::permissions(Clean("data/locked.bin"), fs::perms::owner_read);
  fs::create_directories(Clean("logs"));
  fs::create_directories(Clean("data/empty/deeper"));

  EXPECT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  const std::string manifest = Manifest();
  const std::string files = manifest.substr(manifest.find("fcount="));
  // Depth-first, each folder in enumeration order; "\" between components; bare names at root.
  EXPECT_EQ(files.substr(0, 10), "fcount=6\r\n");
  std::vector<std::string> names;
  for (std::size_t at = files.find("\r\nF"); at != std::string::npos;
       at = files.find("\r\nF", at + 2))
    names.push_back(files.substr(at + 2, files.find('|', at) - at - 2));
  EXPECT_EQ(names, (Calls{"F1=.hidden", "F2=data\\config.ini", "F3=data\\locked.bin",
                          "F4=data\\maps\\start.map", "F5=readme.txt", "F6=system\\engine.dll"}));
  EXPECT_EQ(view_.Calls,
            (Calls{"step:Teskor.exe", "max:7", "step:.hidden", "step:data/config.ini",
                   "step:data/locked.bin", "step:data/maps/start.map", "step:readme.txt",
                   "step:system/engine.dll", "reset", "message:Done.7 files packed."}));
  // Empty folders are mirrored as empty folders; archives keep the whole name plus ".zip".
  EXPECT_TRUE(fs::is_directory(Upload("logs")));
  EXPECT_TRUE(fs::is_empty(Upload("data/empty/deeper")));
  EXPECT_TRUE(fs::is_regular_file(Upload("system/engine.dll.zip")));
  EXPECT_EQ(packer_.FileCount, 0);
  EXPECT_EQ(packer_.FileNumber, 1);
  EXPECT_EQ(packer_.SelfFound, 0);
  EXPECT_PEERS_ACCEPT_UPLOAD();
}

TEST_F(Build, TwoBuildsWriteTheSameManifest) {
  Put("Teskor.exe");
  Put("a/b.txt", "b");
  Put("c.txt", "c");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  const std::string first = Manifest();
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_EQ(Manifest(), first); // numbering starts at 1 again
}

TEST_F(Build, SelfNamedFileInSubfolderIsCountedButNotListed) {
  Put("Teskor.exe", "root copy");
  Put("bin/Teskor.exe", "other copy");
  Put("a.txt");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  const std::string manifest = Manifest();
  EXPECT_NE(manifest.find("fcount=2\r\nF1=a.txt|"), std::string::npos);
  EXPECT_EQ(manifest.find("F2="), std::string::npos);
  EXPECT_NE(view_.Calls.end(),
            std::find(view_.Calls.begin(), view_.Calls.end(), "message:Done.3 files packed."));
  EXPECT_EQ(view_.Calls[0], "warning:files named Teskor.exe also lie in bin/; they are counted "
                            "in fcount= but not packed");
  EXPECT_FALSE(fs::exists(Upload("bin/Teskor.exe.zip")));
  EXPECT_PEERS_ACCEPT_UPLOAD();
}

TEST_F(Build, SelfFileOnlyInSubfolderIsRefusedAndTheNextBuildStartsClean) {
  Put("bin/Teskor.exe");
  Put("a.txt");
  EXPECT_EQ(BuildFixture::Build(), BuildOutcome::Refused);
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_EQ(packer_.FileCount, 0);
  EXPECT_EQ(packer_.FileNumber, 1);
  EXPECT_EQ(packer_.SelfFound, 0);

  fs::rename(Clean("bin/Teskor.exe"), Clean("Teskor.exe"));
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_NE(Manifest().find("fcount=1\r\nF1=a.txt|"), std::string::npos);
}

TEST_F(Build, RefusalWithoutSelfFileKeepsTheEarlierManifest) {
  Put("Teskor.exe");
  Put("a.txt");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  const std::string earlier = Manifest();
  fs::remove(Clean("Teskor.exe"));
  view_.Calls.clear();
  EXPECT_EQ(BuildFixture::Build(), BuildOutcome::Refused);
  EXPECT_EQ(view_.Calls, (Calls{"message:Teskor.exe not found in \"clean\" directory"}));
  EXPECT_EQ(Manifest(), earlier);
}

TEST_F(Build, UnusableCleanFoldersAreRefusedBeforeAnythingIsWritten) {
  // Messages spell paths with "/" on every system.
  const auto Shown = [](const std::string& path) { return FsPath(path).generic_string(); };
  struct Case {
    std::string Folder;
    std::string Message;
  };
  Put("file.txt");
  fs::create_directories(dir_ / "empty");
  const std::vector<Case> cases = {
      {"", "message:No clean folder was given"},
      {dir_ / "missing",
       "message:The clean folder \"" + Shown(dir_ / "missing") + "\" does not exist"},
      {Clean("file.txt"), "message:\"" + Shown(Clean("file.txt")) + "\" is not a folder"},
      {dir_ / "empty/", "message:The clean folder \"" + Shown(dir_ / "empty") + "\" is empty"},
  };
  for (const Case& c : cases) {
    view_.Calls.clear();
    EXPECT_EQ(packer_.Build(c.Folder, Work(), view_), BuildOutcome::Refused);
    EXPECT_EQ(view_.Calls, (Calls{c.Message}));
  }
  EXPECT_TRUE(fs::is_empty(Work()));
}

// A large file moves the byte count while it is packed, and a stop asked for meanwhile is
// acknowledged at once, before the file in flight ends.
TEST_F(Build, BytesAreCountedAsAFileIsPackedAndAStopIsAcknowledgedAtOnce) {
  constexpr std::uint64_t kBig = 6 << 20;
  Put("Teskor.exe", "self");
  std::string big(kBig, '\0');
  std::uint32_t seed = 1;
  for (char& c : big)
    c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  Put("big.bin", big);
  std::atomic<bool> stop{false};
  struct ByteView : RecordingView {
    explicit ByteView(std::atomic<bool>& stop) : Stop(stop) {}
    void ShowBytesRead(std::uint64_t bytes) override {
      Calls.push_back("bytes:" + std::to_string(bytes));
      if (bytes > 4 && bytes < 4 + kBig)
        Stop = true; // under way: the big file is being packed
    }
    void ShowStopping(std::size_t inFlight) override {
      Calls.push_back("stopping:" + std::to_string(inFlight));
    }
    std::atomic<bool>& Stop;
  } view(stop);
  BuildOptions options;
  options.StopRequested = &stop;
  EXPECT_EQ(packer_.Build(Clean(), Work(), view, options), BuildOutcome::Stopped);
  const auto at = [&view](const std::string& call) {
    return std::find(view.Calls.begin(), view.Calls.end(), call) - view.Calls.begin();
  };
  EXPECT_LT(at("bytes:4"), at("step:Teskor.exe"));
  EXPECT_LT(at("stopping:1"), at("bytes:" + std::to_string(4 + kBig)));
  EXPECT_LT(at("bytes:" + std::to_string(4 + kBig)), at("step:big.bin")) << view.Calls.size();
  EXPECT_TRUE(fs::exists(Staging("big.bin.zip"))); // the file in flight was finished
}

// The windows have no options: "Reuse=1" and "Prune=1" do what --reuse and --prune do.
TEST_F(Build, ReuseAndPruneSettingsActAsTheOptions) {
  struct CountingView : RecordingView {
    void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) override {
      Calls.push_back("counts:" + std::to_string(reused) + "/" + std::to_string(packed));
    }
  };
  Put("Teskor.exe", "self");
  Put("data/a.txt", "a");
  Put("data/b.txt", "b");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  fs::remove(Clean("data/b.txt"));
  WriteFile(Work("settings.ini"), "[main]\nReuse=1\nPrune=yes\n");
  CountingView view;
  ASSERT_EQ(packer_.Build(Clean(), Work(), view, {}), BuildOutcome::Done);
  EXPECT_NE(std::find(view.Calls.begin(), view.Calls.end(), "counts:2/0"), view.Calls.end());
  EXPECT_TRUE(fs::exists(Upload("data/a.txt.zip")));
  EXPECT_FALSE(fs::exists(Upload("data/b.txt.zip")));
}

TEST_F(Build, OutputFolderInsideTheCleanTreeIsLeftOut) {
  // The working folder is the clean root itself, so Upload appears inside the tree.
  Put("Teskor.exe");
  Put("a.txt");
  RecordingView view;
  ASSERT_EQ(packer_.Build(Clean(), Clean(), view), BuildOutcome::Done);
  ASSERT_EQ(packer_.Build(Clean(), Clean(), view), BuildOutcome::Done); // Upload exists now
  const std::string manifest = ReadFile(Clean("Upload/updates.lst"));
  EXPECT_NE(manifest.find("fcount=1\r\nF1=a.txt|"), std::string::npos);
  EXPECT_EQ(manifest.find("Upload"), std::string::npos);
  EXPECT_FALSE(fs::exists(Clean("Upload/Upload")));
}

TEST_F(Build, CleanTreeInsideTheOutputFolderIsRefused) {
  fs::create_directories(Upload("old/clean"));
  WriteFile(Upload("old/clean/Teskor.exe"), "x");
  for (const std::string& folder : {Upload(), Upload("old/clean")}) {
    view_.Calls.clear();
    EXPECT_EQ(packer_.Build(folder, Work(), view_), BuildOutcome::Refused);
    ASSERT_EQ(view_.Calls.size(), 1u);
    EXPECT_NE(view_.Calls[0].find("lies inside the output folder"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(Upload("updates.lst")));
  EXPECT_FALSE(fs::exists(Upload("old/clean/Teskor.exe.zip")));
}

TEST_F(Build, ProgressStepsAndStopAfterTheFileInFlight) {
  Put("Teskor.exe");
  for (const char* name : {"a", "b", "c", "d"})
    Put(name, name);
  std::atomic<bool> stop{false};
  // Asks for the stop while the second file is being reported.
  class StoppingView : public RecordingView {
  public:
    explicit StoppingView(std::atomic<bool>& stop) : stop_(stop) {}
    void StepProgress(const std::string& path) override {
      RecordingView::StepProgress(path);
      if (path == "b")
        stop_ = true;
    }
    std::atomic<bool>& stop_;
  } view(stop);
  BuildOptions options;
  options.StopRequested = &stop;
  EXPECT_EQ(packer_.Build(Clean(), Work(), view, options), BuildOutcome::Stopped);
  EXPECT_EQ(view.Calls, (Calls{"step:Teskor.exe", "max:5", "step:a", "step:b", "reset"}));
  // Nothing is published; what was finished is kept aside for --reuse.
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_TRUE(fs::exists(Staging("b.zip")));
  EXPECT_FALSE(fs::exists(Staging("c.zip")));
  EXPECT_EQ(packer_.FileNumber, 1);
}

} // namespace
} // namespace vornel::test
