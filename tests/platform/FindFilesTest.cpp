#include "platform/FindFiles.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace vornel {
namespace {

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

TEST(ListDirectoryTest, ListsEntriesInEnumerationOrderWithoutDots) {
  TempDir dir;
  for (const char* name : {"b", "A", "a", "_x", "Z"})
    WriteFile(dir / name, "");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0777), 0);
  const auto found = ListDirectory(dir.Str());
  EXPECT_EQ(Names(found), (std::vector<std::string>{"A", "a", "b", "sub", "Z", "_x"}));
  EXPECT_EQ(Names(ListDirectory(dir.Str() + "/")), Names(found));
  EXPECT_TRUE(ListDirectory(dir / "missing").empty());
  EXPECT_TRUE(ListDirectory(dir / "a").empty()); // a file is no directory
}

TEST(ListDirectoryTest, EmptyNameMeansCurrentDirectory) {
  TempDir dir;
  WriteFile(dir / "only.txt", "1");
  const std::string before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  const auto names = Names(ListDirectory(""));
  std::filesystem::current_path(before);
  EXPECT_EQ(names, std::vector<std::string>{"only.txt"});
}

TEST(ListDirectoryTest, EntriesThatCannotBeExaminedRaiseInsteadOfVanishing) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "root may search any folder";
  TempDir dir;
  WriteFile(dir / "closed/inside.txt", "x");
  ASSERT_EQ(::chmod((dir / "closed").c_str(), 0444), 0); // readable, not searchable
  EXPECT_THROW(ListDirectory(dir / "closed"), EInOutError);
}

TEST(FindFileTest, ReportsAttributesSizeAndTime) {
  TempDir dir;
  WriteFile(dir / "plain.bin", std::string(1234, 'x'));
  WriteFile(dir / ".hidden", "h");
  WriteFile(dir / "locked.txt", "r");
  ASSERT_EQ(::chmod((dir / "locked.txt").c_str(), 0444), 0);
  ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0777), 0);

  // A fixed modification time: 2021-03-04 05:06:07.250 local time.
  std::tm local{};
  local.tm_year = 121, local.tm_mon = 2, local.tm_mday = 4;
  local.tm_hour = 5, local.tm_min = 6, local.tm_sec = 7, local.tm_isdst = -1;
  const timeval times[2] = {{std::mktime(&local), 250'000}, {std::mktime(&local), 250'000}};
  ASSERT_EQ(::utimes((dir / "plain.bin").c_str(), times), 0);

  const auto plain = FindFile(dir / "plain.bin");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Name, "plain.bin");
  EXPECT_EQ(plain->Attributes, attr::Archive);
  EXPECT_EQ(plain->Size, 1234u);
  const DateTimeFields f = DecodeDateTime(plain->LastWriteTime);
  EXPECT_EQ((std::vector<int>{f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.Millisecond}),
            (std::vector<int>{2021, 3, 4, 5, 6, 7, 250}));
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
  ASSERT_EQ(::truncate(path.c_str(), 5'000'000'000LL), 0);
  EXPECT_EQ(FindFile(path)->Size, 5'000'000'000ULL);
}

TEST(SymbolicLinkTest, FileLinksAreFollowedAndDirectoryLinksLeftOutOfListings) {
  TempDir dir;
  WriteFile(dir / "real/data.bin", "12345");
  ASSERT_EQ(::symlink("real/data.bin", (dir / "link.bin").c_str()), 0);
  ASSERT_EQ(::symlink("real", (dir / "dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(".", (dir / "real/loop").c_str()), 0);
  ASSERT_EQ(::symlink("gone", (dir / "dangling").c_str()), 0);

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
