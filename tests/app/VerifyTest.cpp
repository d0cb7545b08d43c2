#include "tests/app/BuildFixture.h"

#include "app/Verify.h"
#include "crc/Crc32.h"

#include <algorithm>
#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class Verify : public BuildFixture {
protected:
  void SetUp() override {
    BuildFixture::SetUp();
    Put("Teskor.exe", "self");
    Put("readme.txt", "hello, verify\n");
    Put("system/engine.dll", RandomBytes(100000, 7));
    Put("data/empty.ini", "");
    ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  }

  VerifyResult Run() { return VerifyUploadSet(Upload()); }

  // True when some problem line starts with prefix and contains fragment.
  static bool Has(const VerifyResult& result, const std::string& prefix,
                  const std::string& fragment) {
    return std::any_of(result.Problems.begin(), result.Problems.end(), [&](const std::string& p) {
      return p.rfind(prefix, 0) == 0 && p.find(fragment) != std::string::npos;
    });
  }

  void ReplaceInManifest(const std::string& from, const std::string& to) {
    std::string text = Manifest();
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    WriteFile(Upload("updates.lst"), text.replace(at, from.size(), to));
  }

  // Rewrites readme.txt.zip with Python's zipfile and lists it with its new size.
  void ReplaceReadmeArchive(const std::string& pythonWrites) {
    SKIP_WITHOUT_PROGRAMS("python3");
    const std::string zip = Upload("readme.txt.zip");
    const std::string oldSize = std::to_string(fs::file_size(zip));
    fs::remove(zip);
    ASSERT_EQ(RunProcess({"python3", "-c",
                          "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n" +
                              pythonWrites + "\nz.close()",
                          zip})
                  .Code,
              0);
    const std::string crc = std::to_string(FileCrc32(Clean("readme.txt")));
    ReplaceInManifest(crc + "|" + oldSize + "|n",
                      crc + "|" + std::to_string(fs::file_size(zip)) + "|n");
  }
};

TEST_F(Verify, SoundSetPassesWithProgress) {
  std::int32_t maximum = -1;
  std::vector<std::string> steps;
  const VerifyResult result =
      VerifyUploadSet(Upload(), {[&](std::int32_t m) { maximum = m; },
                                 [&](const std::string& archive) { steps.push_back(archive); }});
  EXPECT_TRUE(result.AllGood()) << result.Problems.front();
  EXPECT_EQ(result.Summary(), "verified 4 archives: all good");
  EXPECT_EQ(maximum, 4);
  EXPECT_EQ(steps, (std::vector<std::string>{"Teskor.exe.zip", "data/empty.ini.zip",
                                             "readme.txt.zip", "system/engine.dll.zip"}));
}

TEST_F(Verify, ContentThatDisagreesWithTheManifest) {
  const std::string crc = std::to_string(FileCrc32(Clean("readme.txt")));
  ReplaceInManifest("readme.txt|" + crc, "readme.txt|12345");
  ReplaceInManifest("IAM=Teskor.exe|" + std::to_string(FileCrc32(Clean("Teskor.exe"))) + "|",
                    "IAM=Teskor.exe|1|");
  const VerifyResult result = Run();
  EXPECT_TRUE(Has(result, "readme.txt.zip: ", "updates.lst lists 12345"));
  EXPECT_TRUE(Has(result, "Teskor.exe.zip: ", "updates.lst lists 1"));
  EXPECT_EQ(result.Summary(), "verified 4 archives: 2 problems in 2 archives");
}

TEST_F(Verify, DamagedDeflateDataAreFound) {
  const std::string zip = Upload("system/engine.dll.zip");
  std::string bytes = ReadFile(zip);
  for (std::size_t i = 100; i < 140; ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ 0x5A); // inside the data, after the 47-byte header
  WriteFile(zip, bytes);
  const VerifyResult result = Run();
  EXPECT_FALSE(result.AllGood());
  EXPECT_TRUE(Has(result, "system/engine.dll.zip: ", "deflate data") ||
              Has(result, "system/engine.dll.zip: ", "CRC-32"));
  EXPECT_EQ(result.ArchivesWithProblems, 1);
}

TEST_F(Verify, ArchiveOfAnotherShape) {
  const std::string original = ReadFile(Upload("readme.txt.zip"));
  WriteFile(Upload("readme.txt.zip"), "not a zip archive at all");
  EXPECT_TRUE(Has(Run(), "readme.txt.zip: ", "not a zip archive"));

  fs::remove(Upload("readme.txt.zip"));
  EXPECT_TRUE(Has(Run(), "readme.txt.zip: ", "missing"));

  // Archives of another shape, written by Python's zipfile.
  WriteFile(Upload("readme.txt.zip"), original);
  ReplaceReadmeArchive("z.write(sys.argv[1].replace('/work/Upload/','/clean/')[:-4],'readme.txt')\n"
                       "z.writestr('second.txt','x')");
  if (IsSkipped())
    return;
  EXPECT_TRUE(Has(Run(), "readme.txt.zip: ", "holds 2 entries instead of 1"));

  ReplaceReadmeArchive("z.write(sys.argv[1].replace('/work/Upload/','/clean/')[:-4],'README.TXT')");
  EXPECT_TRUE(Has(Run(), "readme.txt.zip: ", "named \"README.TXT\""));
}

TEST_F(Verify, ArchivesWrittenByPeersAreAccepted) {
  // Stored or deflated by Python: the client can unpack either, so both pass.
  ReplaceReadmeArchive("z.write(sys.argv[1].replace('/work/Upload/','/clean/')[:-4],'readme.txt',"
                       "compress_type=zipfile.ZIP_STORED)");
  EXPECT_TRUE(Run().AllGood());
  ReplaceReadmeArchive("z.write(sys.argv[1].replace('/work/Upload/','/clean/')[:-4],'readme.txt',"
                       "compress_type=zipfile.ZIP_DEFLATED)");
  EXPECT_TRUE(Run().AllGood());
}

TEST_F(Verify, ManifestProblemsAreCountedApart) {
  ReplaceInManifest("[misc]\r\n", "[Misc]\r\n");
  ReplaceInManifest("F2=", "F3=");
  const VerifyResult result = Run();
  EXPECT_TRUE(Has(result, "updates.lst line 3: ", "[misc]"));
  EXPECT_TRUE(Has(result, "updates.lst line 9: ", "F2 was expected"));
  EXPECT_EQ(result.ManifestProblems, 2);
  EXPECT_EQ(result.Summary(), "verified 4 archives: 2 problems in updates.lst");

  fs::remove(Upload("updates.lst"));
  EXPECT_EQ(Run().Problems,
            (std::vector<std::string>{"updates.lst: missing in \"" + Upload() + "\""}));
}

} // namespace
} // namespace vornel::test

namespace vornel::test {
namespace {

TEST_F(Verify, ManyJobsReportInTheManifestsOrder) {
  for (int i = 0; i < 40; ++i)
    Put("many/file" + std::to_string(i) + ".bin", RandomBytes(3000 + i * 500, i));
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  // Damage spread over the order, some archives twice, so every thread finds some.
  for (int i : {3, 17, 18, 31, 39}) {
    const std::string zip = Upload("many/file" + std::to_string(i) + ".bin.zip");
    std::string bytes = ReadFile(zip);
    bytes[bytes.size() / 2] ^= 0x55;
    WriteFile(zip, i % 2 == 0 ? bytes : bytes + "!");
  }
  fs::remove(Upload("many/file9.bin.zip"));

  std::vector<std::string> serialSteps;
  const VerifyResult serial = VerifyUploadSet(
      Upload(), {nullptr, [&](const std::string& a) { serialSteps.push_back(a); }}, {.Jobs = 1});
  EXPECT_EQ(serial.ArchivesWithProblems, 6);
  for (int jobs : {2, 8, 64}) {
    std::vector<std::string> steps;
    const VerifyResult parallel = VerifyUploadSet(
        Upload(), {nullptr, [&](const std::string& a) { steps.push_back(a); }}, {.Jobs = jobs});
    EXPECT_EQ(parallel.Problems, serial.Problems) << jobs;
    EXPECT_EQ(parallel.Summary(), serial.Summary()) << jobs;
    EXPECT_EQ(steps, serialSteps) << jobs;
  }
}

} // namespace
} // namespace vornel::test
