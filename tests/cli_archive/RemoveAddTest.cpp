#include "tests/cli_archive/CliHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace vornel::test {
namespace {

// Prints "name=size:sha1" per entry, then the comment, after extracting every entry in memory.
const char* const kContents = R"(
import hashlib, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    for i in z.infolist():
        print("%s=%d:%s" % (i.filename, i.file_size, hashlib.sha1(z.read(i)).hexdigest()))
    print("comment=%r" % z.comment)
)";

const char* const kMakeArchive = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for path in sys.argv[2:]:
        z.write(path)
    z.comment = b"kept comment"
)";

std::string Sha1Line(const TempDir& dir, const std::string& name, const std::string& path) {
  const std::string script =
      "import hashlib,sys\nd=open(sys.argv[1],'rb').read()\n"
      "print('%s=%d:%s' % (sys.argv[2], len(d), hashlib.sha1(d).hexdigest()))\n";
  const ProcessResult result = RunPython(dir, script, {path, name});
  EXPECT_EQ(result.Code, 0) << result.Err;
  return result.Out;
}

class ArchiveEditTest : public ::testing::Test {
protected:
  void SetUp() override {
    SKIP_WITHOUT_PROGRAMS("python3", "unzip") << ": they check the archives";
    WriteFile(dir / "a.txt", "alpha alpha alpha alpha alpha\n");
    WriteFile(dir / "data/b.bin", RandomBytes(200000, 7));
    WriteFile(dir / "data/sub/c.txt", std::string(5000, 'c'));
    WriteFile(dir / "empty.txt", "");
  }
  std::string Contents(const std::string& zip) {
    const ProcessResult result = RunPython(dir, kContents, {zip});
    EXPECT_EQ(result.Code, 0) << result.Err;
    return result.Out;
  }
  // No temporary file may be left behind by any verb.
  void ExpectNoTempLeft() {
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"))
        << "temporary files left in " << dir / "tmp";
  }
  TempDir dir;
};

TEST_F(ArchiveEditTest, RemoveOfAnUnknownNameChangesNothing) {
  ASSERT_EQ(RunPython(dir, kMakeArchive, {"p.zip", "a.txt", "data/b.bin"}).Code, 0);
  const std::string before = ReadFile(dir / "p.zip");
  const ProcessResult result = RunVornel(dir, {"remove", "p.zip", "a.txt", "nothere.txt"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_NE(result.Err.find("nothere.txt"), std::string::npos) << result.Err;
  EXPECT_EQ(ReadFile(dir / "p.zip"), before);

  EXPECT_EQ(RunVornel(dir, {"remove", "missing.zip", "a.txt"}).Code, 1);
}

class RemoveModeTest : public ArchiveEditTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(RemoveModeTest, RemovesByNameAndKeepsTheRestIntact) {
  ASSERT_EQ(
      RunPython(dir, kMakeArchive, {"p.zip", "a.txt", "data/b.bin", "data/sub/c.txt", "empty.txt"})
          .Code,
      0);
  // Letter case and separators do not matter; a name given twice removes its entry once. Through
  // a link, the archive it points to is changed and the link stays.
  const bool link = CanMakeSymlinks();
  if (link)
    std::filesystem::create_symlink("p.zip", dir / "l.zip");
  ProcessResult result =
      RunVornel(dir, Command("remove " + GetParam(),
                             {link ? "l.zip" : "p.zip", "DATA\\B.BIN", "a.txt", "A.TXT"}));
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(link, std::filesystem::is_symlink(dir / "l.zip"));
  EXPECT_TRUE(UnzipTestPasses(dir / "p.zip"));
  EXPECT_EQ(Contents(dir / "p.zip"), Sha1Line(dir, "data/sub/c.txt", dir / "data/sub/c.txt") +
                                         Sha1Line(dir, "empty.txt", dir / "empty.txt") +
                                         "comment=b'kept comment'\n");

  // The archive written anew keeps who may read it.
  if (!OnWindows()) {
    namespace fs = std::filesystem;
    fs::permissions(dir / "p.zip", fs::perms::owner_read | fs::perms::owner_write);
  }
  // Removing the last entries leaves a valid empty archive with its comment.
  result =
      RunVornel(dir, Command("remove " + GetParam(), {"p.zip", "empty.txt", "data/sub/c.txt"}));
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(Contents(dir / "p.zip"), "comment=b'kept comment'\n");
  if (!OnWindows()) {
    EXPECT_EQ(std::filesystem::status(dir / "p.zip").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  ExpectNoTempLeft();
}

INSTANTIATE_TEST_SUITE_P(Modes, RemoveModeTest,
                         ::testing::Values("", "--rebuild", "--rebuild --temp-files"),
                         [](const auto& info) {
                           return info.index == 0   ? std::string("FastSave")
                                  : info.index == 1 ? "Rebuild"
                                                    : "RebuildTemp";
                         });

class AddLevelTest : public ArchiveEditTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(AddLevelTest, EveryLevelGivesAnArchiveThePeersExtract) {
  const ProcessResult result =
      RunVornel(dir, {"add", "--level", GetParam(), "new.zip", "a.txt", "data/b.bin", "empty.txt"});
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_TRUE(UnzipTestPasses(dir / "new.zip"));
  // Bare names by default.
  EXPECT_EQ(Contents(dir / "new.zip"),
            Sha1Line(dir, "a.txt", dir / "a.txt") + Sha1Line(dir, "b.bin", dir / "data/b.bin") +
                Sha1Line(dir, "empty.txt", dir / "empty.txt") + "comment=b''\n");
  // Deflated data, and stored for the empty file.
  const std::string listed = RunVornel(dir, {"list", "new.zip"}).Out;
  EXPECT_NE(listed.find("a.txt\t30\t"), std::string::npos) << listed;
  EXPECT_NE(listed.find("\t8\t"), std::string::npos) << listed;
  EXPECT_NE(listed.find("empty.txt\t0\t0\t00000000\t0\t"), std::string::npos) << listed;
}

INSTANTIATE_TEST_SUITE_P(Levels, AddLevelTest,
                         ::testing::Values("normal", "maximum", "fast", "superfast", "none"));

TEST_F(ArchiveEditTest, AddStoresRelativeNamesAndFolders) {
  ProcessResult result =
      RunVornel(dir, {"add", "--relative", "--folders", "rel.zip", "./data/sub/c.txt", "a.txt"});
  ASSERT_EQ(result.Code, 0) << result.Err;
  const std::string script = "import sys,zipfile\nprint(zipfile.ZipFile(sys.argv[1]).namelist())";
  EXPECT_EQ(RunPython(dir, script, {"rel.zip"}).Out,
            "['data/', 'data/sub/', 'data/sub/c.txt', 'a.txt']\n");
  EXPECT_TRUE(UnzipTestPasses(dir / "rel.zip"));

  result = RunVornel(dir, {"add", "--relative", "plain.zip", "data/sub/c.txt"});
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(RunPython(dir, script, {"plain.zip"}).Out, "['data/sub/c.txt']\n");

  // A name that would unpack outside the target folder is refused; --folders needs --relative.
  result = RunVornel(dir, {"add", "--relative", "up.zip", "data/../a.txt"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "up.zip"));
  EXPECT_EQ(RunVornel(dir, {"add", "--folders", "f.zip", "a.txt"}).Code, 1);
}

TEST_F(ArchiveEditTest, AddOfAMissingFileTouchesNothing) {
  ProcessResult result = RunVornel(dir, {"add", "new.zip", "a.txt", "nothere.bin"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_NE(result.Err.find("nothere.bin"), std::string::npos) << result.Err;
  EXPECT_FALSE(std::filesystem::exists(dir / "new.zip"));

  ASSERT_EQ(RunVornel(dir, {"add", "old.zip", "a.txt"}).Code, 0);
  const std::string before = ReadFile(dir / "old.zip");
  EXPECT_EQ(RunVornel(dir, {"add", "old.zip", "empty.txt", "nothere.bin"}).Code, 1);
  EXPECT_EQ(RunVornel(dir, {"add", "old.zip", "data"}).Code, 1);
  EXPECT_EQ(ReadFile(dir / "old.zip"), before);

  // An existing file that is no archive is never overwritten.
  WriteFile(dir / "notes.zip", "not an archive");
  result = RunVornel(dir, {"add", "notes.zip", "a.txt"});
  EXPECT_EQ(result.Code, 1);
  EXPECT_EQ(result.Err, "notes.zip: not a zip archive\n");
  EXPECT_EQ(ReadFile(dir / "notes.zip"), "not an archive");
}

class AddModeTest : public ArchiveEditTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(AddModeTest, AddsToAnotherToolsArchiveReplacingSameNames) {
  ASSERT_EQ(RunPython(dir, kMakeArchive, {"p.zip", "a.txt", "data/b.bin"}).Code, 0);
  WriteFile(dir / "new/A.TXT", "replaced content\n");
  const ProcessResult result =
      RunVornel(dir, Command("add " + GetParam(), {"--relative", "p.zip", "data/sub/c.txt"}));
  ASSERT_EQ(result.Code, 0) << result.Err;
  // Bare name A.TXT replaces a.txt: same entry count, new content, comment kept.
  ASSERT_EQ(RunVornel(dir, Command("add " + GetParam(), {"p.zip", "new/A.TXT"})).Code, 0);
  EXPECT_TRUE(UnzipTestPasses(dir / "p.zip"));
  EXPECT_EQ(Contents(dir / "p.zip"), Sha1Line(dir, "data/b.bin", dir / "data/b.bin") +
                                         Sha1Line(dir, "data/sub/c.txt", dir / "data/sub/c.txt") +
                                         Sha1Line(dir, "A.TXT", dir / "new/A.TXT") +
                                         "comment=b'kept comment'\n");
  ExpectNoTempLeft();
}

INSTANTIATE_TEST_SUITE_P(Modes, AddModeTest,
                         ::testing::Values("", "--rebuild", "--rebuild --temp-files"),
                         [](const auto& info) {
                           return info.index == 0   ? std::string("FastSave")
                                  : info.index == 1 ? "Rebuild"
                                                    : "RebuildTemp";
                         });

TEST_F(ArchiveEditTest, ListShowsTheSourceModificationTime) {
  // DOS times hold even seconds: 07:08:11 is stored as 07:08:10.
  SetLocalModifiedTime(dir / "a.txt", 2022, 5, 6, 7, 8, 11);
  ASSERT_EQ(RunVornel(dir, {"add", "t.zip", "a.txt"}).Code, 0);
  const std::string crc =
      RunPython(dir, "import zlib,sys\nprint('%08x' % zlib.crc32(open(sys.argv[1],'rb').read()))",
                {dir / "a.txt"})
          .Out;
  const std::string listed = RunVornel(dir, {"list", "t.zip"}).Out;
  EXPECT_EQ(listed.rfind("a.txt\t30\t", 0), 0u) << listed;
  EXPECT_NE(listed.find("\t" + crc.substr(0, 8) + "\t8\t2022-05-06 07:08:10\n"), std::string::npos)
      << listed;

  // Before 1980 a DOS time cannot hold the date: stored as zero, listed as an all-zero time.
  SetLocalModifiedTime(dir / "empty.txt", 1975, 1, 1, 12, 0, 0);
  ASSERT_EQ(RunVornel(dir, {"add", "t.zip", "empty.txt"}).Code, 0);
  EXPECT_NE(RunVornel(dir, {"list", "t.zip"}).Out.find("\t0000-00-00 00:00:00\n"),
            std::string::npos);
  EXPECT_TRUE(UnzipTestPasses(dir / "t.zip"));
}

TEST(VornelHelpTest, VersionAndHelpNameEveryVerb) {
  TempDir dir;
  ProcessResult result = RunVornel(dir, Words("--version"));
  EXPECT_EQ(result.Code, 0);
  EXPECT_EQ(result.Out, "vornel 0.801a\n");
  result = RunVornel(dir, Words("--help"));
  EXPECT_EQ(result.Code, 0);
  for (const char* verb : {"list", "comment", "remove", "add"})
    EXPECT_NE(result.Out.find(verb), std::string::npos) << verb;
  result = RunVornel(dir, Words("add --help"));
  EXPECT_EQ(result.Code, 0);
  EXPECT_NE(result.Out.find("vornel add --relative"), std::string::npos) << result.Out;
}

} // namespace
} // namespace vornel::test
