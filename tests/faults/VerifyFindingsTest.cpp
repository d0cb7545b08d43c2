// Upload sets that the fuzzing of verify found it too lenient with: verify must not call a set
// good that unzip refuses.

#include "tests/faults/FaultSupport.h"

#include "app/Verify.h"

#include <filesystem>

namespace vornel::test {
namespace {

class VerifyFindings : public ::testing::Test {
protected:
  void SetUp() override {
    WriteFile(dir_ / "clean/Teskor.exe", RandomBytes(500, 1));
    WriteFile(dir_ / "clean/a.txt", "a");
    std::filesystem::create_directories(dir_ / "work");
    HookedView view;
    ASSERT_EQ(packer_.Build(dir_ / "clean", dir_ / "work", view), BuildOutcome::Done);
    ASSERT_TRUE(VerifyUploadSet(Upload()).AllGood());
  }
  std::string Upload() const { return dir_ / "work/Upload"; }

  // Patches a 16-bit field of the end record of the self file's archive.
  void PatchEndRecord(std::size_t field, std::uint16_t value) {
    const std::string path = Upload() + "/Teskor.exe.zip";
    std::string bytes = ReadFile(path);
    Put16(bytes, bytes.size() - 22 + field, value);
    WriteFile(path, bytes);
  }

  TempDir dir_;
  Packer packer_{"Teskor.exe"};
};

// Found by fuzz_verify (fuzz/corpus/verify/regression-end-record-counts-disagree): one entry on
// this disk, 10,753 in total.
TEST_F(VerifyFindings, EndRecordCountsThatDisagreeAreAProblem) {
  PatchEndRecord(10, 0x2A01);
  const VerifyResult result = VerifyUploadSet(Upload());
  ASSERT_EQ(result.Problems.size(), 1u);
  EXPECT_EQ(result.Problems[0], "Teskor.exe.zip: the end record's disk numbers or entry counts "
                                "describe a split archive");
  if (HaveProgram("unzip")) {
    EXPECT_NE(RunCommand("unzip -tqq " + ShellQuote(Upload() + "/Teskor.exe.zip") + " 2>&1"), 0);
  }
}

TEST_F(VerifyFindings, EndRecordOfAnotherDiskIsAProblem) {
  for (const std::size_t field : {4, 6}) {
    SCOPED_TRACE(field);
    PatchEndRecord(field, 1);
    EXPECT_EQ(VerifyUploadSet(Upload()).ArchivesWithProblems, 1);
    PatchEndRecord(field, 0);
    EXPECT_TRUE(VerifyUploadSet(Upload()).AllGood());
  }
}

} // namespace
} // namespace vornel::test
