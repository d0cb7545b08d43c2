// Sources that cannot be read, an Upload that is a file and a manifest that cannot be appended
// to: the build ends with an error, lists nothing that is not whole, leaves no temporary file,
// and the next build starts clean.

#include "tests/faults/FaultSupport.h"

#include "platform/Errors.h"

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class UnreadableSource : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override {
    fs::create_directories(dir_ / "tmp");
    fs::create_directories(Work());
    WriteFile(Clean("Teskor.exe"), "self");
    WriteFile(Clean("a.txt"), RandomBytes(5000, 1));
    WriteFile(Clean("b.txt"), RandomBytes(7000, 2));
    WriteFile(Clean("c/d.txt"), "d");
    options_.Jobs = GetParam();
  }
  void TearDown() override {
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "a temporary file was left behind";
  }

  std::string Clean(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "clean" : dir_ / ("clean/" + relative);
  }
  std::string Work() const { return dir_ / "work"; }
  // With more jobs, a file after the failing one may finish while it fails: its archive stays
  // in the staging folder, recorded for --reuse though not listed.
  bool SerialBuild() const { return GetParam() == 1; }
  std::string Upload(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "work/Upload" : dir_ / ("work/Upload/" + relative);
  }
  // What a failed build packed waits here; nothing of it is published.
  std::string Staging(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "work/Upload.staging"
                            : dir_ / ("work/Upload.staging/" + relative);
  }

  // Runs a build that must fail; returns its error message.
  std::string FailingBuild(HookedView& view) {
    try {
      packer_.Build(Clean(), Work(), view, options_);
    } catch (const std::exception& error) {
      EXPECT_EQ(packer_.FileCount, 0);
      EXPECT_EQ(packer_.FileNumber, 1);
      return error.what();
    }
    ADD_FAILURE() << "the build succeeded";
    return "";
  }

  // The next build of the restored tree succeeds and is whole.
  void ExpectNextBuildClean() {
    HookedView view;
    EXPECT_EQ(packer_.Build(Clean(), Work(), view, options_), BuildOutcome::Done);
    EXPECT_EQ(view.Messages, std::vector<std::string>{"Done.4 files packed."});
    if (HaveProgram("python3")) {
      EXPECT_EQ(CheckWholeUpload(Clean(), Upload()), "");
    }
  }

  TempDir dir_;
  ScopedTempFolder tmp_{dir_ / "tmp"};
  Packer packer_{"Teskor.exe"};
  BuildOptions options_;
};

INSTANTIATE_TEST_SUITE_P(Jobs, UnreadableSource, ::testing::Values(1, 2));

TEST_P(UnreadableSource, FileRemovedBetweenTheWalks) {
  HookedView view;
  view.OnStep = [&](const std::string& step) {
    if (step == "Teskor.exe")
      fs::remove(Clean("b.txt"));
  };
  EXPECT_EQ(FailingBuild(view), "File not found: \"b.txt\".");
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_FALSE(fs::exists(Staging("b.txt.zip")));
  EXPECT_EQ(CheckListed(Staging(), Clean(), SerialBuild()), "");

  WriteFile(Clean("b.txt"), "back");
  ExpectNextBuildClean();
}

TEST_P(UnreadableSource, FileReplacedByAFolderBetweenTheWalks) {
  HookedView view;
  view.OnStep = [&](const std::string& step) {
    if (step == "Teskor.exe") {
      fs::remove(Clean("b.txt"));
      WriteFile(Clean("b.txt/inner"), "i");
    }
  };
  EXPECT_EQ(FailingBuild(view), "File not found: \"b.txt\".");
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_FALSE(fs::exists(Staging("b.txt.zip")));
  EXPECT_EQ(CheckListed(Staging(), "", SerialBuild()), "");

  fs::remove_all(Clean("b.txt"));
  WriteFile(Clean("b.txt"), "back");
  ExpectNextBuildClean();
}

TEST_P(UnreadableSource, FileWithoutReadPermissionIsRefusedFirst) {
  if (!PermissionsStopReads())
    GTEST_SKIP() << (OnWindows()
                         ? "permissions stop no read on Windows"
                         : "root reads every file; this needs a user without the permission");
  fs::permissions(Clean("b.txt"), fs::perms::none);
  HookedView view;
  EXPECT_EQ(packer_.Build(Clean(), Work(), view, options_), BuildOutcome::Refused);
  EXPECT_EQ(view.Messages,
            std::vector<std::string>{"\"b.txt\": the file cannot be read (permission denied)"});
  EXPECT_FALSE(fs::exists(Upload()));

  fs::permissions(Clean("b.txt"), fs::perms::owner_read | fs::perms::owner_write);
  ExpectNextBuildClean();
}

// As root, permissions cannot stop a read in this process, so these builds run as "nobody"
// (setpriv, util-linux) on a tree that user may enter, with one entry it may not read.
class UnprivilegedBuild : public UnreadableSource {
protected:
  // Empty when the build can run as nobody; otherwise why not.
  std::string Prepare() {
    if (OnWindows())
      return "permissions stop no read on Windows";
    if (PermissionsStopReads())
      return "the in-process tests cover this without root";
    if (!HaveVornel() || !HaveProgram("setpriv"))
      return "needs vornel and setpriv";
    if (RunProcess(Command(kAsNobody, {"test", "-x", VornelPath()})).Code != 0)
      return "user nobody cannot run " + VornelPath();
    fs::permissions(dir_.Path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    for (const std::string& writable : {Work(), dir_ / "tmp"})
      fs::permissions(writable, fs::perms::all);
    return "";
  }
  ProcessResult BuildAsNobody() {
    return RunVornel(Work(), {"build", "--jobs", std::to_string(GetParam()), Clean()}, 60,
                     TempFolderEnv(dir_ / "tmp"), Words(kAsNobody));
  }
  const std::string kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
};

INSTANTIATE_TEST_SUITE_P(Jobs, UnprivilegedBuild, ::testing::Values(1, 2));

// What nobody may not read or list is refused before anything is written, every case at once.
TEST_P(UnprivilegedBuild, FileAndFolderWithoutPermission) {
  if (const std::string why = Prepare(); !why.empty())
    GTEST_SKIP() << why;
  fs::permissions(Clean("b.txt"), fs::perms::none);
  fs::permissions(Clean("c"), fs::perms::none);
  const ProcessResult run = BuildAsNobody();
  EXPECT_EQ(run.Code, 1) << run.Out << run.Err;
  EXPECT_EQ(run.Err, "\"b.txt\": the file cannot be read (permission denied)\n"
                     "\"c\": the folder cannot be listed (permission denied)\n");
  EXPECT_FALSE(fs::exists(Upload()));

  fs::permissions(Clean("b.txt"), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(Clean("c"), fs::perms::owner_all);
  ExpectNextBuildClean();
}

// A named pipe in the tree has no writer: opening it would wait for ever. A link to an endless
// device would be read for ever. Both are refused before anything is opened.
TEST_P(UnreadableSource, PipesAndDevicesInTheTreeAreRefused) {
  if (!HaveVornel())
    GTEST_SKIP() << "vornel was not built";
  if (!MakeFifo(Clean("b.pipe")))
    GTEST_SKIP() << "Windows has no FIFOs in its file system, and its devices cannot be linked to";
  fs::create_symlink("/dev/zero", Clean("c/endless"));
  const ProcessResult run =
      RunVornel(Work(), {"build", "--jobs", std::to_string(GetParam()), Clean()}, 60,
                TempFolderEnv(dir_ / "tmp"));
  ASSERT_FALSE(run.TimedOut) << "the build hung";
  EXPECT_EQ(run.Code, 1) << run.Out;
  EXPECT_EQ(run.Err, "\"b.pipe\": neither a file nor a folder (a pipe, socket or device)\n"
                     "\"c/endless\": neither a file nor a folder (a pipe, socket or device)\n");
  EXPECT_FALSE(fs::exists(Upload()));
  fs::remove(Clean("b.pipe"));
  fs::remove(Clean("c/endless"));
  ExpectNextBuildClean();
}

TEST_P(UnreadableSource, UploadThatIsAFile) {
  WriteFile(Upload(), "not a folder");
  HookedView view;
  EXPECT_EQ(packer_.Build(Clean(), Work(), view, options_), BuildOutcome::Refused);
  ASSERT_EQ(view.Messages.size(), 1u);
  EXPECT_NE(view.Messages[0].find("\"" + Upload() + "\" is not a folder"), std::string::npos)
      << view.Messages[0];
  EXPECT_EQ(ReadFile(Upload()), "not a folder");
  EXPECT_EQ(FilesBelow(Work()), std::set<std::string>{"Upload"});

  fs::remove(Upload());
  ExpectNextBuildClean();
}

// The manifest the build writes (in its staging folder) is moved away and a folder put in its
// place after the self file was listed. The build keeps writing to the file it opened and ends
// with an error naming the manifest rather than publish a set without one; nothing is published,
// and the next build clears what is left and succeeds.
TEST_P(UnreadableSource, ManifestReplacedDuringTheBuild) {
  HookedView view;
  view.OnStep = [&](const std::string& step) {
    if (step != "Teskor.exe")
      return;
    fs::rename(Staging("updates.lst"), Staging("updates.old"));
    fs::create_directory(Staging("updates.lst"));
  };
  const std::string error = FailingBuild(view);
  EXPECT_NE(error.find("\"" + Staging("updates.lst") + "\" was moved or replaced"),
            std::string::npos)
      << error;
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_TRUE(ReadFile(Staging("updates.old")).starts_with("[self]\r\nIAM=Teskor.exe|"));
  ExpectNextBuildClean();
}

} // namespace
} // namespace vornel::test
