// The platform's calls made to fail one at a time: the Nth write, rename, open or folder creation
// of a build fails with a full disk, a failing device or a denied access. Each failure ends the
// build with an error that names the file and gives the reason, and Upload/ stays byte for byte
// as the last whole build left it; a failure the build may pass over (the settings file that
// cannot be opened counts as missing) must leave exactly the set a calm build writes. Runs
// without root and on every system; FullDiskTest keeps a real full disk as the end-to-end case.

#include "tests/faults/FaultSupport.h"

#include "platform/Errors.h"
#include "platform/FaultPoint.h"

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;
using faults::FaultCall;
using faults::FaultError;

const char* NameOf(FaultCall call) {
  switch (call) {
  case FaultCall::Write:
    return "write";
  case FaultCall::Rename:
    return "rename";
  case FaultCall::Open:
    return "open";
  case FaultCall::CreateFolder:
    break;
  }
  return "folder creation";
}

int IoCodeOf(FaultError error) {
  switch (error) {
  case FaultError::DiskFull:
    return io_error::DiskFull;
  case FaultError::DeviceError:
    return io_error::DeviceError;
  case FaultError::AccessDenied:
    break;
  }
  return io_error::AccessDenied;
}

class InjectedFault : public ::testing::Test {
protected:
  void SetUp() override {
    // A big file goes through the streaming path, the small ones are packed in memory.
    MakeTree(Clean(), 5, {300, 2000, 400000, 300, 700});
    // The set clients read now, and the same set in a second folder where the changed tree is
    // built once without a fault: its calls are counted and its set is what a build should give.
    Build(Work());
    Build(Reference());
    live_ = SnapshotOf(Work() + "/Upload");
    fs::copy(FsPath(Work() + "/Upload"), FsPath(dir_ / "live"), fs::copy_options::recursive);
    Change();
    faults::PlanFault(FaultCall::Write, 0, FaultError::DiskFull); // count only
    Build(Reference());
    for (const FaultCall call :
         {FaultCall::Write, FaultCall::Rename, FaultCall::Open, FaultCall::CreateFolder})
      calls_[static_cast<int>(call)] = faults::CallsSeen(call);
    faults::ClearFaultPlan();
    whole_ = SnapshotOf(Reference() + "/Upload");
  }
  void TearDown() override { faults::ClearFaultPlan(); }

  std::string Clean() const { return dir_ / "clean"; }
  std::string Work() const { return dir_ / "work"; }
  std::string Reference() const { return dir_ / "reference"; }
  // updates.lst as it was, and every other file either as it was or as the calm build made it.
  bool OldManifestOverKnownArchives() const {
    if (Manifest() != ReadFile(dir_ / "live/updates.lst"))
      return false;
    const auto bytes = [](const std::string& path) {
      return fs::exists(FsPath(path)) ? ReadFile(path) : std::string("(missing)");
    };
    for (const std::string& file : FilesBelow(Work() + "/Upload")) {
      const std::string now = bytes(Work() + "/Upload/" + file);
      if (now != bytes(dir_ / ("live/" + file)) && now != bytes(Reference() + "/Upload/" + file))
        return false;
    }
    return true;
  }
  std::string Manifest() const { return ReadFile(Work() + "/Upload/updates.lst"); }
  void Change() { WriteFile(Clean() + "/sub1/file1.bin", RandomBytes(2100, 99)); }
  void Build(const std::string& work) {
    fs::create_directories(work);
    HookedView view;
    BuildOptions options;
    options.Jobs = 1; // calls in one order, so the Nth is the same call every time
    ASSERT_EQ(Packer("Teskor.exe").Build(Clean(), work, view, options), BuildOutcome::Done);
  }

  TempDir dir_;
  std::string live_;  // Upload/ before the faulted builds
  std::string whole_; // Upload/ after a calm build of the changed tree
  int calls_[faults::FaultCallKinds] = {};
};

TEST_F(InjectedFault, EachFailedCallNamesItsFileAndLeavesUploadAsItWas) {
  const std::string scratch = dir_.Path().filename().string(); // in every path the build names
  int failed = 0;
  for (const FaultCall call :
       {FaultCall::Write, FaultCall::Rename, FaultCall::Open, FaultCall::CreateFolder}) {
    const int count = calls_[static_cast<int>(call)];
    ASSERT_GT(count, 0) << NameOf(call);
    for (const int nth : {1, (count + 1) / 2, count}) {
      for (const FaultError error :
           {FaultError::DiskFull, FaultError::DeviceError, FaultError::AccessDenied}) {
        SCOPED_TRACE(std::string(NameOf(call)) + " " + std::to_string(nth) + " of " +
                     std::to_string(count) + " fails with " + IoErrorMessage(IoCodeOf(error)));
        faults::ScopedFaultPlan plan(call, nth, error);
        HookedView view;
        BuildOptions options;
        options.Jobs = 1;
        Packer packer("Teskor.exe");
        std::string message;
        try {
          packer.Build(Clean(), Work(), view, options);
        } catch (const std::exception& caught) {
          message = caught.what();
        }
        EXPECT_GE(faults::CallsSeen(call), nth) << "the fault was never met";
        faults::ClearFaultPlan();
        const std::string upload = SnapshotOf(Work() + "/Upload");
        if (message.empty()) {
          // Passed over: then the set is exactly the one a calm build writes.
          EXPECT_TRUE(upload == whole_) << Manifest();
        } else {
          ++failed;
          const bool reasonGiven =
              message.find(IoErrorMessage(IoCodeOf(error))) != std::string::npos ||
              message.find(SystemErrorText(faults::SystemCodeOf(error))) != std::string::npos;
          EXPECT_TRUE(reasonGiven) << message;
          // The file named: by its path where it is the build's own, relative to the clean
          // folder where it is a source ("sub1\file4.bin").
          EXPECT_TRUE(message.find(scratch) != std::string::npos ||
                      message.find(".bin\"") != std::string::npos)
              << message;
          // Where folders cannot be exchanged (Windows), archives are renamed into Upload/ one
          // by one and updates.lst last: a failure on the way leaves the old updates.lst over
          // old and new archives. Anything else leaves Upload/ as it was.
          const bool renamingIn = message.find("/Upload/") != std::string::npos;
          EXPECT_TRUE(upload == live_ || (renamingIn && OldManifestOverKnownArchives()))
              << message << "\n"
              << Manifest();
          EXPECT_EQ(packer.FileNumber, 1);
        }
        if (upload != live_) { // back to the set before the change, for the next case
          fs::remove_all(FsPath(Work() + "/Upload"));
          fs::copy(FsPath(dir_ / "live"), FsPath(Work() + "/Upload"), fs::copy_options::recursive);
        }
      }
    }
  }
  EXPECT_GT(failed, 0);
}

} // namespace
} // namespace vornel::test
