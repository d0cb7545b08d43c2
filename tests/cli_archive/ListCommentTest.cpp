#include "tests/cli_archive/CliHarness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vornel::test {
namespace {

// Prints an archive's entries the way "vornel list" should, as Python's zipfile reads them.
const char* const kDescribe = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        print("%s\t%d\t%d\t%08x\t%d\t%04d-%02d-%02d %02d:%02d:%02d"
              % ((i.filename, i.file_size, i.compress_size, i.CRC, i.compress_type) + i.date_time))
)";

const char* const kPythonArchive = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    info = zipfile.ZipInfo("docs/hello.txt", date_time=(2021, 3, 4, 5, 6, 8))
    info.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(info, b"hello\n" * 50)
    info = zipfile.ZipInfo("raw.bin", date_time=(1999, 12, 31, 23, 59, 58))
    info.compress_type = zipfile.ZIP_STORED
    z.writestr(info, b"hello\n")
    if len(sys.argv) > 2:
        z.comment = sys.argv[2].encode()
)";

const char* const kComment = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    sys.stdout.write(repr(z.comment))
)";

class ListCommentTest : public ::testing::Test {
protected:
  void SetUp() override { SKIP_WITHOUT_PROGRAMS("python3"); }
  void MakePythonArchive(const std::string& path, const std::string& comment = "") {
    std::vector<std::string> args = {path};
    if (!comment.empty())
      args.push_back(comment);
    ASSERT_EQ(RunPython(dir, kPythonArchive, args).Code, 0);
  }
  TempDir dir;
};

TEST_F(ListCommentTest, ListsPythonArchiveFieldByField) {
  const std::string zip = dir / "py.zip";
  MakePythonArchive(zip);
  const ProcessResult listed = RunVornel(dir, {"list", zip});
  ASSERT_EQ(listed.Code, 0) << listed.Err;
  EXPECT_EQ(listed.Err, "");
  // The stored entry's line is fully known in advance.
  EXPECT_NE(listed.Out.find("raw.bin\t6\t6\t363a3020\t0\t1999-12-31 23:59:58\n"), std::string::npos)
      << listed.Out;
  EXPECT_EQ(listed.Out, RunPython(dir, kDescribe, {zip}).Out);
}

TEST_F(ListCommentTest, ListsZipToolArchiveWithExtraFields) {
  SKIP_WITHOUT_PROGRAMS("zip");
  WriteFile(dir / "src/a.txt", "alpha alpha alpha alpha\n");
  WriteFile(dir / "src/sub/b.bin", RandomBytes(70000, 3));
  WriteFile(dir / "src/empty", "");
  ASSERT_EQ(RunProcess(Words("zip -qr ../tool.zip a.txt sub empty"), {.WorkDir = dir / "src"}).Code,
            0);
  const ProcessResult listed = RunVornel(dir, {"list", "tool.zip"});
  ASSERT_EQ(listed.Code, 0) << listed.Err;
  EXPECT_EQ(listed.Out, RunPython(dir, kDescribe, {dir / "tool.zip"}).Out);
}

TEST_F(ListCommentTest, RefusesWhatIsNotAnArchive) {
  WriteFile(dir / "notes.txt", "just some text, no zip records here\n");
  ProcessResult result = RunVornel(dir, {"list", "notes.txt"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_EQ(result.Err, "notes.txt: not a zip archive\n");
  EXPECT_EQ(result.Out, "");

  result = RunVornel(dir, {"list", "missing.zip"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_EQ(result.Err, "File \"missing.zip\" not found!\n");

  result = RunVornel(dir, {"comment", "notes.txt"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_EQ(result.Err, "notes.txt: not a zip archive\n");

  // A folder exists but cannot be opened as a file: an error, not a refusal.
  std::filesystem::create_directories(dir / "folder.zip");
  result = RunVornel(dir, {"list", "folder.zip"});
  EXPECT_EQ(result.Code, 2);
  EXPECT_NE(result.Err, "");

  // A wrong command line is refused too.
  EXPECT_EQ(RunVornel(dir, Words("list")).Code, 1);
  EXPECT_EQ(RunVornel(dir, {"comment", "x.zip", "--set", "a", "--clear"}).Code, 1);
}

TEST_F(ListCommentTest, CommentRoundTripSeenByPython) {
  const std::string zip = dir / "c.zip";
  MakePythonArchive(zip);
  const auto plainSize = std::filesystem::file_size(zip);

  ProcessResult result = RunVornel(dir, {"comment", zip, "--set", "Release 0.801", "", "end"});
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(RunVornel(dir, {"comment", zip}).Out, "Release 0.801\n\nend\n");
  EXPECT_EQ(RunPython(dir, kComment, {zip}).Out, "b'Release 0.801\\r\\n\\r\\nend\\r\\n'");
  if (HaveProgram("unzip")) {
    EXPECT_TRUE(UnzipTestPasses(zip));
  }

  result = RunVornel(dir, {"comment", zip, "--clear"});
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(RunVornel(dir, {"comment", zip}).Out, "");
  EXPECT_EQ(RunPython(dir, kComment, {zip}).Out, "b''");
  EXPECT_EQ(std::filesystem::file_size(zip), plainSize);
}

TEST_F(ListCommentTest, ClearsAndReplacesACommentWrittenByPython) {
  const std::string zip = dir / "pc.zip";
  MakePythonArchive(zip, "written by python");
  EXPECT_EQ(RunVornel(dir, {"comment", zip}).Out, "written by python\n");

  ASSERT_EQ(RunVornel(dir, {"comment", zip, "--set", "replaced"}).Code, 0);
  EXPECT_EQ(RunPython(dir, kComment, {zip}).Out, "b'replaced\\r\\n'");
  ASSERT_EQ(RunPython(dir, kPythonArchive, {zip, "written again"}).Code, 0);

  ASSERT_EQ(RunVornel(dir, {"comment", zip, "--clear"}).Code, 0);
  EXPECT_EQ(RunPython(dir, kComment, {zip}).Out, "b''");
}

TEST_F(ListCommentTest, RefusesACommentThatCannotBeStored) {
  const std::string zip = dir / "long.zip";
  MakePythonArchive(zip, "keep me");
  const std::string before = ReadFile(zip);
  // Over the 16-bit length of the comment field; a Windows command line holds at most 32,767
  // characters, so no such comment reaches the program there.
  if (!OnWindows()) {
    const ProcessResult result = RunVornel(dir, {"comment", zip, "--set", std::string(70000, 'x')});
    EXPECT_EQ(result.Code, 1);
    EXPECT_NE(result.Err.find("65535"), std::string::npos) << result.Err;
  }
  const ProcessResult result = RunVornel(dir, {"comment", zip, "--set", "two\nlines"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_EQ(ReadFile(zip), before);
}

} // namespace
} // namespace vornel::test
