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

  std::string SelfArchive() const { return Upload() + "/Teskor.exe.zip"; }
  // Patches a 16-bit field of the end record of the self file's archive.
  void PatchEndRecord(std::size_t field, std::uint16_t value) {
    std::string bytes = ReadFile(SelfArchive());
    Put16(bytes, bytes.size() - 22 + field, value);
    WriteFile(SelfArchive(), bytes);
  }
  // The self file's archive rewritten; its size in updates.lst follows it.
  void Rewrite(const std::string& bytes) {
    const std::string before = std::to_string(ReadFile(SelfArchive()).size());
    WriteFile(SelfArchive(), bytes);
    std::string manifest = ReadFile(Upload() + "/updates.lst");
    const std::size_t at = manifest.find("|" + before + "\r\n");
    manifest.replace(at + 1, before.size(), std::to_string(bytes.size()));
    WriteFile(Upload() + "/updates.lst", manifest);
  }
  // The one problem verify finds, or all of them.
  std::string Problems() {
    std::string text;
    for (const std::string& problem : VerifyUploadSet(Upload()).Problems)
      text += (text.empty() ? "" : "; ") + problem;
    return text;
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
    EXPECT_NE(RunProcess({"unzip", "-tqq", Upload() + "/Teskor.exe.zip"}).Code, 0);
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

// Found by fuzz_verify (fuzz/corpus/verify/regression-central-signature-missing): the
// component reads a central header without its signature.
TEST_F(VerifyFindings, CentralHeaderWithoutItsSignatureIsAProblem) {
  std::string bytes = ReadFile(SelfArchive());
  const std::size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  bytes[central + 2] = 'x';
  Rewrite(bytes);
  EXPECT_EQ(Problems(), "Teskor.exe.zip: the central directory header's signature is missing");
}

TEST_F(VerifyFindings, DirectoryLongerThanItsOneEntryIsAProblem) {
  std::string bytes = ReadFile(SelfArchive());
  const std::size_t end = bytes.size() - 22;
  bytes.insert(end, "junk");
  // The directory's size grows by the 4 bytes (it is below 256 bytes here).
  bytes[end + 4 + 12] = static_cast<char>(static_cast<unsigned char>(bytes[end + 4 + 12]) + 4);
  Rewrite(bytes);
  EXPECT_EQ(Problems(), "Teskor.exe.zip: the central directory holds more than its one entry");
}

TEST_F(VerifyFindings, LocalFlagsThatDisagreeOrADataDescriptorAreProblems) {
  std::string bytes = ReadFile(SelfArchive());
  Put16(bytes, 6, 8);
  Rewrite(bytes);
  EXPECT_EQ(Problems(), "Teskor.exe.zip: the local header disagrees with the central directory");

  Put16(bytes, bytes.find("PK\x01\x02") + 8, 8);
  Rewrite(bytes);
  EXPECT_EQ(Problems(),
            "Teskor.exe.zip: the entry uses a data descriptor, which the packer never writes");
}

// An end record signature inside the comment, which does not end the file as a record would:
// the component opens the archive by it, unzip by the real one.
TEST_F(VerifyFindings, EndRecordSignatureInTheCommentIsAProblem) {
  std::string bytes = ReadFile(SelfArchive());
  const std::string comment = std::string("PK\x05\x06", 4) + std::string(30, '\0');
  Put16(bytes, bytes.size() - 2, static_cast<std::uint16_t>(comment.size()));
  Rewrite(bytes + comment);
  EXPECT_NE(Problems().find("the archive opens with another end record than the one at its end"),
            std::string::npos)
      << Problems();
}

} // namespace
} // namespace vornel::test
