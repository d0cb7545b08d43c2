#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
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
  const char* saved = std::getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  ::setenv("TMPDIR", "/var/tmp/", 1);
  EXPECT_EQ(TempDirectory(), "/var/tmp");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TempDirectory(), "/tmp");
  if (saved)
    ::setenv("TMPDIR", keep.c_str(), 1);
}

TEST(TempFileTest, UniqueFilesAreCreatedEmptyWithThePrefix) {
  TempDir dir;
  const std::string first = CreateUniqueTempFile(dir.Str(), "zip");
  const std::string second = CreateUniqueTempFile(dir.Str(), "zip");
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(BareName(first).substr(0, 3), "zip");
  EXPECT_TRUE(FileExists(first));
  EXPECT_EQ(test::ReadFile(first), "");
  EXPECT_EQ(CreateUniqueTempFile(dir / "missing", "zip"), "");
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
  EXPECT_EQ(CurrentDirectory(), std::filesystem::current_path().string());
}

} // namespace
} // namespace vornel
