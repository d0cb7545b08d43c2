// Name conversions, look-up by name and the file-name list.

#include "tests/zip/ZipTestUtil.h"

#include <gtest/gtest.h>

using namespace vornel;
using ziptest::BuildArchive;
using ziptest::Item;
using ziptest::OpenBytes;

TEST(Names, ZipAndDiskForms) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Data\\a.txt", "Data/a.txt"},
      {"\\\\server\\share\\data\\a.txt", "data/a.txt"},
      {"dir\\sub\\a.txt", "dir/sub/a.txt"},
      {"\\lead.txt", "/lead.txt"},
      {"a//b/c/d", "d"},
      {"x:/y//srv/shr/z.txt", "z.txt"},
      {"plain.txt", "plain.txt"},
      {"", ""}};
  for (const auto& [path, expected] : cases)
    EXPECT_EQ(TPellumEntries::ToZipName(path), expected) << path;
  EXPECT_EQ(TPellumEntries::ToDiskName("C:\\Data\\sub/a.txt"), "Data\\sub\\a.txt");
  EXPECT_EQ(TPellumEntries::ToDiskName("\\\\srv\\shr\\a\\b"), "a\\b");

  EXPECT_EQ(TPellum::DiskFilePath("dir/sub/f.txt"), "dir\\sub\\");
  EXPECT_EQ(TPellum::DiskFileName("dir/sub/f.txt"), "f.txt");
  EXPECT_EQ(TPellum::DiskFileName("C:/x/y.txt"), "y.txt");
  EXPECT_EQ(TPellum::DiskFilePath("C:/x/y.txt"), "x\\");
  EXPECT_EQ(TPellum::DiskFilePath("a//b"), "a\\");
  EXPECT_EQ(TPellum::DiskFileName("folder/"), "");
  EXPECT_EQ(TPellum::DiskFilePath("top.txt"), "");
}

TEST(Names, IndexOfNameIgnoresCaseAndPrefixes) {
  TPellum zip;
  OpenBytes(zip,
            BuildArchive({Item("other.txt"), Item("data/a.txt"), Item("DATA/A.TXT"), Item("d")}));
  ASSERT_TRUE(zip.GetIsZipFile());
  TPellumEntries& entries = zip.Entries();
  for (const char* query :
       {"data/a.txt", "DATA\\A.TXT", "C:\\data\\a.txt", "\\\\server\\share\\data\\a.txt"})
    EXPECT_EQ(entries.IndexOfName(query), 1) << query; // the first of the two case variants
  EXPECT_EQ(entries.IndexOfName("a//b/c/d"), 3);
  EXPECT_EQ(entries.IndexOfName("a.txt"), -1);
  EXPECT_EQ(entries.IndexOfName(""), -1);
}

TEST(Names, FileNamesListsDiskFormsAndFollowsChanges) {
  TPellum zip;
  OpenBytes(zip, BuildArchive({Item("a/b.txt"), Item("c.txt")}));
  EXPECT_EQ(zip.GetFileNames(), (TStringList{"a\\b.txt", "c.txt"}));
  zip.SetFileNames({"ignored"});
  EXPECT_EQ(zip.GetFileNames().size(), 2u);
  zip.Entries().RemoveEntry(0);
  EXPECT_EQ(zip.GetFileNames(), (TStringList{"c.txt"}));
  zip.CloseArchive();
  EXPECT_TRUE(zip.GetFileNames().empty());
}
