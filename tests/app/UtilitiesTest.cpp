#include "app/BuildPaths.h"
#include "app/BuildProcedure.h"
#include "app/TreeCheck.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <unistd.h>

namespace vornel {
namespace {

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanning) {
  EXPECT_EQ(ReplaceAll("a.b.c", ".", "\\"), "a\\b\\c");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");             // non-overlapping, from the left
  EXPECT_EQ(ReplaceAll("abab", "ab", "abab"), "abababab");   // the replacement is not rescanned
  EXPECT_EQ(ReplaceAll("Path/path", "path", "X"), "Path/X"); // letter case counts
  EXPECT_EQ(ReplaceAll("/root/x", "/root/", ""), "x");
  EXPECT_EQ(ReplaceAll("unchanged", "", "x"), "unchanged");
  EXPECT_EQ(ReplaceAll("", "a", "b"), "");
}

TEST(FoundFileSize, GivesTheSizeOrMinusOne) {
  test::TempDir dir;
  test::WriteFile(dir / "five", "12345");
  test::WriteFile(dir / "empty", "");
  EXPECT_EQ(FoundFileSize(dir / "five"), 5);
  EXPECT_EQ(FoundFileSize(dir / "empty"), 0);
  EXPECT_EQ(FoundFileSize(dir / "missing"), -1);
  EXPECT_EQ(FoundFileSize(dir.Str()), -1); // a folder is no file

  // Only the low 32 bits are kept (a sparse file costs no disk space).
  const std::string big = dir / "big";
  test::WriteFile(big, "");
  std::filesystem::resize_file(big, (std::uint64_t{1} << 32) + 7);
  EXPECT_EQ(FoundFileSize(big), 7);
  std::filesystem::resize_file(big, std::uint64_t{0xFFFFFFFF});
  EXPECT_EQ(FoundFileSize(big), -1);
}

TEST(CleanRoot, IsMadeAbsoluteWithOneSeparator) {
  EXPECT_EQ(NormaliseCleanRoot("/"), "/");
  if (!test::OnWindows()) { // there a leading "//" starts a network path
    EXPECT_EQ(NormaliseCleanRoot("///"), "/");
  }
  EXPECT_EQ(NormaliseCleanRoot("/srv/clean/"), "/srv/clean");
  EXPECT_EQ(NormaliseCleanRoot("/srv//./clean/."), "/srv/clean");
  EXPECT_EQ(NormaliseCleanRoot("/srv/a/../clean"), "/srv/a/../clean"); // ".." may cross a link
  EXPECT_EQ(NormaliseCleanRoot("clean/"), JoinPath(CurrentDirectory(), "clean"));
  EXPECT_EQ(NormaliseCleanRoot(""), "");
  // Joining below the file-system root keeps a single separator.
  EXPECT_EQ(JoinPath(NormaliseCleanRoot("/"), "Teskor.exe"), "/Teskor.exe");
}

TEST(CleanRoot, ContainmentComparesWholeComponents) {
  EXPECT_TRUE(IsSameOrInside("/w/Upload", "/w/Upload"));
  EXPECT_TRUE(IsSameOrInside("/w/Upload/data", "/w/Upload"));
  EXPECT_FALSE(IsSameOrInside("/w/Uploads", "/w/Upload"));
  EXPECT_FALSE(IsSameOrInside("/w", "/w/Upload"));
  EXPECT_TRUE(IsSameOrInside("/anything", "/"));
  EXPECT_FALSE(IsSameOrInside("", "/w"));
}

TEST(ManifestPath, UsesBackslashes) {
  EXPECT_EQ(ManifestPath("system/engine.dll"), "system\\engine.dll");
  EXPECT_EQ(ManifestPath("readme.txt"), "readme.txt");
}

// Relative paths come from the walk itself, not from replacing the root's text in a full path,
// so a root whose text recurs below it (as a relative root or "/" always does) is harmless.
TEST(TreeCheck, RelativePathsDoNotDependOnTheRootsText) {
  test::TempDir dir;
  test::WriteFile(dir / "c/c/c.txt", "x");
  test::WriteFile(dir / "c/cc", "y");
  const std::string previous = CurrentDirectory();
  ASSERT_EQ(::chdir(dir.Str().c_str()), 0);
  const CleanTree tree = CheckCleanTree({"c", CanonicalPath("c"), "", "Teskor.exe"});
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  EXPECT_EQ(tree.RelativePaths(), (std::vector<std::string>{"c/c.txt", "cc"}));
  EXPECT_EQ(tree.FolderPaths(), (std::vector<std::string>{"c"}));
}

TEST(TreeCheck, OrdersDepthFirstInEnumerationOrder) {
  test::TempDir dir;
  for (const char* file : {"b.txt", "A/z.txt", "A/m/1", "a.txt", "C", "Teskor.exe", "A/Teskor.exe"})
    test::WriteFile(dir / file, "x");
  std::filesystem::create_directories(dir / "A/empty");
  const CleanTree tree = CheckCleanTree({dir.Str(), CanonicalPath(dir.Str()), "", "Teskor.exe"});
  EXPECT_EQ(tree.FileCount, 7);
  EXPECT_TRUE(tree.SelfFound);
  EXPECT_EQ(tree.RelativePaths(),
            (std::vector<std::string>{"A/m/1", "A/z.txt", "a.txt", "b.txt", "C"}));
  // Folders after their contents, as they are created.
  EXPECT_EQ(tree.FolderPaths(), (std::vector<std::string>{"A/empty", "A/m", "A"}));
}

// A file's paths are composed from the names the walk kept: the client's spelling where it
// differs, and the real path from the nearest link on the way up.
TEST(TreeCheck, ComposesEachFilesPathsFromItsNames) {
  test::TempDir dir;
  const std::string cyrillic = "\xD0\x96"; // one letter, 0xC6 in code page 1251
  test::WriteFile(dir / ("clean/" + cyrillic + "/a.txt"), "x");
  test::WriteFile(dir / "clean/real/b.txt", "y");
  test::WriteFile(dir / "clean/Teskor.exe", "self");
  const bool links = test::CanMakeSymlinks(); // the paths through links only where they exist
  if (links) {
    std::filesystem::create_directory_symlink(dir / "clean/real", dir / "clean/linked");
    std::filesystem::create_symlink(dir / "clean/real/b.txt", dir / "clean/c.txt");
  }
  const std::string root = CanonicalPath(dir / "clean");
  WalkScope scope{dir / "clean", root, "", "Teskor.exe"};
  scope.Target = *ParseCodePage("1251");
  const CleanTree tree = CheckCleanTree(scope);
  ASSERT_TRUE(tree.Problems.empty()) << ProblemLine(tree.Problems.front());

  struct Expected {
    std::string Client, Name, Real;
  };
  std::map<std::string, Expected> expected = {
      {cyrillic + "/a.txt", {"\xC6\\a.txt", "a.txt", root + "/" + cyrillic + "/a.txt"}},
      {"linked/b.txt", {"linked\\b.txt", "b.txt", root + "/real/b.txt"}},
      {"real/b.txt", {"real\\b.txt", "b.txt", root + "/real/b.txt"}},
      {"c.txt", {"c.txt", "c.txt", root + "/real/b.txt"}},
  };
  if (!links) {
    expected.erase("linked/b.txt");
    expected.erase("c.txt");
  }
  ASSERT_EQ(tree.PackCount(), expected.size());
  for (std::size_t i = 0; i < tree.PackCount(); ++i) {
    const std::string relative = tree.RelativePath(i);
    SCOPED_TRACE(relative);
    ASSERT_EQ(expected.count(relative), 1u);
    const Expected& want = expected[relative];
    std::string client, name, real;
    tree.AppendClientPath(i, client);
    tree.AppendClientName(i, name);
    tree.AppendRealPath(i, real);
    EXPECT_EQ(client, want.Client);
    EXPECT_EQ(name, want.Name);
    EXPECT_EQ(real, want.Real);
    EXPECT_EQ(tree.Sizes()[i], 1u);
  }
}

} // namespace
} // namespace vornel
