#include "platform/FileSystem.h"
#include "platform/Errors.h"
#include "platform/TempFile.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace vornel {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(DirectoryTest, CreateDirIsSingleLevelAndFalseForExisting) {
  TempDir dir;
  EXPECT_TRUE(CreateDir(dir / "one"));
  EXPECT_FALSE(CreateDir(dir / "one"));
  EXPECT_FALSE(CreateDir(dir / "two/three"));
  EXPECT_TRUE(DirectoryExists(dir / "one"));
  EXPECT_FALSE(FileExists(dir / "one"));
}

TEST(DirectoryTest, ForceDirectoriesMakesEveryParent) {
  TempDir dir;
  EXPECT_TRUE(ForceDirectories(dir / "a/b//c/"));
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_TRUE(ForceDirectories(dir / "a/b")); // already there
  WriteFile(dir / "file", "x");
  EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
  EXPECT_FALSE(ForceDirectories(dir / "file"));
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(FileTest, ExistsAndDelete) {
  TempDir dir;
  WriteFile(dir / "f.txt", "x");
  EXPECT_TRUE(FileExists(dir / "f.txt"));
  EXPECT_TRUE(DeleteFileAt(dir / "f.txt"));
  EXPECT_FALSE(FileExists(dir / "f.txt"));
  EXPECT_FALSE(DeleteFileAt(dir / "f.txt"));
}

TEST(TempFileTest, TempDirectoryFollowsTmpdirWithoutTrailingSlash) {
  if (test::OnWindows())
    GTEST_SKIP() << "TMPDIR is POSIX's; Windows takes TMP or TEMP";
  {
    test::ScopedEnv tmp("TMPDIR", "/var/tmp/");
    EXPECT_EQ(TempDirectory(), "/var/tmp");
  }
  test::ScopedEnv none("TMPDIR", std::nullopt);
  EXPECT_EQ(TempDirectory(), "/tmp");
}

TEST(TempFileTest, MadeBesideItsTargetExclusivelyAndGoneUnlessRenamedOrKept) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string target = dir / "a.zip";
  std::string dropped;
  std::string kept;
  {
    TempFile renamed(target);
    TempFile left(target);
    TempFile keptFile(target);
    dropped = left.Path();
    EXPECT_NE(renamed.Path(), dropped);
    EXPECT_EQ(dropped.rfind(target + ".", 0), 0u);
    renamed.Stream().WriteString("abc");
    renamed.RenameOver(target);
    kept = keptFile.Keep();
  }
  EXPECT_EQ(test::ReadFile(target), "abc");
  EXPECT_FALSE(fs::exists(dropped));
  EXPECT_TRUE(fs::exists(kept));
  // Exclusive creation: a taken name, even a dangling link's, is refused and not followed.
  if (test::CanMakeSymlinks()) {
    fs::create_symlink(dir / "elsewhere", dir / "link");
    EXPECT_THROW(FileStream(dir / "link", FileStream::Mode::CreateNew), EFCreateError);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
  }
  EXPECT_THROW(TempFile(dir / "missing/a.zip"), EFCreateError);
}

// Only what a process that no longer runs left for this target goes.
TEST(TempFileTest, LeftoversOfEndedProcessesGo) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string target = dir / "a.zip";
  TempFile ours(target); // this process runs
  const std::string ended = target + ".abcdef-4294967290.tmp";
  const std::vector<std::string> stay = {target + ".abcdef.tmp",         // a kept image
                                         target + ".abc-4294967290.tmp", // not our pattern
                                         dir / "b.zip.abcdef-4294967290.tmp", target};
  for (const std::string& file : stay)
    WriteFile(file, "x");
  WriteFile(ended, "x");
  TempFile::RemoveLeftovers(target);
  EXPECT_FALSE(fs::exists(ended));
  EXPECT_TRUE(fs::exists(ours.Path()));
  for (const std::string& file : stay)
    EXPECT_TRUE(fs::exists(file)) << file;
}

TEST(PathTest, JoinAndBareName) {
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
  EXPECT_EQ(JoinPath("/", "b"), "/b");
  EXPECT_EQ(JoinPath("", "b/c"), "b/c");
  EXPECT_EQ(BareName("/a/b.txt"), "b.txt");
  EXPECT_EQ(BareName("b.txt"), "b.txt");
  EXPECT_EQ(BareName("a/"), "");
}

TEST(CurrentDirectoryTest, MatchesTheProcessDirectory) {
  EXPECT_EQ(CurrentDirectory(), std::filesystem::current_path().generic_string());
}

} // namespace
} // namespace vornel
