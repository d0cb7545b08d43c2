#include "platform/FindFiles.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace vornel {
namespace {

using test::FsPath;
using test::PermissionsStopReads;
using test::SetLocalModifiedTime;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Names(const std::vector<FoundFile>& found) {
  std::vector<std::string> names;
  for (const auto& entry : found)
    names.push_back(entry.Name);
  return names;
}

TEST(EnumerationOrderTest, FoldsAsciiLettersAndBreaksTiesByRawBytes) {
  std::vector<std::string> names = {"b", "A", "a", "_x", "Z", "ab", "AB", "a.b", "\xC3\xA9"};
  std::sort(names.begin(), names.end(), EnumerationOrderLess);
  // '.' < letters; '_' (0x5F) sorts after 'Z' once lower case is folded; high bytes come last.
  const std::vector<std::string> expected = {"A", "a", "a.b", "AB",      "ab",
                                             "b", "Z", "_x",  "\xC3\xA9"};
  EXPECT_EQ(names, expected);
  EXPECT_FALSE(EnumerationOrderLess("a", "a"));
}

constexpr auto ReadOnly = std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                          std::filesystem::perms::others_read;

TEST(ListDirectoryTest, ListsEntriesInEnumerationOrderWithoutDots) {
  TempDir dir;
  // Windows' file names ignore letter case: "a" would be "A" again there.
  std::vector<std::string> expected = {"A", "a", "b", "sub", "Z", "_x"};
  if (test::OnWindows())
    expected.erase(expected.begin() + 1);
  for (const std::string& name : expected)
    if (name != "sub")
      WriteFile(dir / name, "");
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(dir / "sub")));
  const auto found = ListDirectory(dir.Str());
  EXPECT_EQ(Names(found), expected);
  EXPECT_EQ(Names(ListDirectory(dir.Str() + "/")), Names(found));
  EXPECT_TRUE(ListDirectory(dir / "missing").empty());
  EXPECT_TRUE(ListDirectory(dir / "a").empty()); // a file is no directory
}

TEST(ListDirectoryTest, EmptyNameMeansCurrentDirectory) {
  TempDir dir;
  WriteFile(dir / "only.txt", "1");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  const auto names = Names(ListDirectory(""));
  std::filesystem::current_path(before);
  EXPECT_EQ(names, std::vector<std::string>{"only.txt"});
}

TEST(ListDirectoryTest, EntriesThatCannotBeExaminedRaiseInsteadOfVanishing) {
  if (!PermissionsStopReads())
    GTEST_SKIP() << "permissions stop no search here (root, or Windows)";
  TempDir dir;
  WriteFile(dir / "closed/inside.txt", "x");
  std::filesystem::permissions(FsPath(dir / "closed"), ReadOnly); // readable, not searchable
  EXPECT_THROW(ListDirectory(dir / "closed"), EInOutError);
}

TEST(FindFileTest, ReportsAttributesSizeAndTime) {
  TempDir dir;
  WriteFile(dir / "plain.bin", std::string(1234, 'x'));
  WriteFile(dir / ".hidden", "h");
  WriteFile(dir / "locked.txt", "r");
  std::filesystem::permissions(FsPath(dir / "locked.txt"), ReadOnly);
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(dir / "folder")));

  // A fixed modification time: 2021-03-04 05:06:07.250 local time.
  SetLocalModifiedTime(dir / "plain.bin", 2021, 3, 4, 5, 6, 7, std::chrono::milliseconds(250));

  const auto plain = FindFile(dir / "plain.bin");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Name, "plain.bin");
  EXPECT_EQ(plain->Attributes, attr::Archive);
  EXPECT_EQ(plain->Size, 1234u);
  const DateTimeFields f = DecodeDateTime(plain->LastWriteTime);
  // mingw's run-time sets whole seconds only.
  const int millisecond = test::OnWindows() ? 0 : 250;
  EXPECT_EQ((std::vector<int>{f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.Millisecond}),
            (std::vector<int>{2021, 3, 4, 5, 6, 7, millisecond}));
  EXPECT_EQ(plain->DosTime, (41u * 512 + 3 * 32 + 4) << 16 | (5u * 2048 + 6 * 32 + 3));

  EXPECT_EQ(FindFile(dir / ".hidden")->Attributes, attr::Archive | attr::Hidden);
  EXPECT_EQ(FindFile(dir / "locked.txt")->Attributes, attr::Archive | attr::ReadOnly);
  EXPECT_EQ(FindFile(dir / "folder")->Attributes, attr::Directory);
  EXPECT_EQ(FindFile(dir / "folder/")->Name, "folder");
  EXPECT_FALSE(FindFile(dir / "nothing"));
  EXPECT_FALSE(FindFile(""));
}

TEST(FindFileTest, LargeSizesAreNotCut) {
  TempDir dir;
  const std::string path = dir / "sparse.bin";
  WriteFile(path, "");
  std::filesystem::resize_file(FsPath(path), 5'000'000'000ULL);
  EXPECT_EQ(FindFile(path)->Size, 5'000'000'000ULL);
}

TEST(SymbolicLinkTest, FileLinksAreFollowedAndDirectoryLinksLeftOutOfListings) {
  SKIP_WITHOUT_SYMLINKS();
  TempDir dir;
  WriteFile(dir / "real/data.bin", "12345");
  namespace fs = std::filesystem;
  fs::create_symlink("real/data.bin", FsPath(dir / "link.bin"));
  fs::create_directory_symlink("real", FsPath(dir / "dirlink"));
  fs::create_directory_symlink(".", FsPath(dir / "real/loop"));
  fs::create_symlink("gone", FsPath(dir / "dangling"));

  const auto link = FindFile(dir / "link.bin");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->Name, "link.bin");
  EXPECT_EQ(link->Size, 5u);
  EXPECT_EQ(link->Attributes, attr::Archive);

  EXPECT_EQ(FindFile(dir / "dirlink")->Attributes, attr::Directory);
  const auto dangling = FindFile(dir / "dangling");
  ASSERT_TRUE(dangling);
  EXPECT_EQ(dangling->Attributes, attr::Archive);
  EXPECT_EQ(dangling->Size, 0u);

  EXPECT_EQ(Names(ListDirectory(dir.Str())),
            (std::vector<std::string>{"dangling", "link.bin", "real"}));
  EXPECT_EQ(Names(ListDirectory(dir / "real")), std::vector<std::string>{"data.bin"});
}

} // namespace
} // namespace vornel
