// The component: creating and opening archive files, change events, comment, image writers.

#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/zip/ZipTestUtil.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace vornel;
using ziptest::ArchiveBytes;
using ziptest::BuildArchive;
using ziptest::Item;
using ziptest::OpenBytes;

namespace {

struct Recorder {
  std::vector<int> changes;
  void Attach(TPellum& zip) {
    zip.OnZipChange = [this, &zip](TPellum& sender, std::int32_t type) {
      EXPECT_EQ(&sender, &zip);
      changes.push_back(type);
    };
  }
};

} // namespace

TEST(Component, DefaultsAndPlainProperties) {
  TPellum zip;
  EXPECT_FALSE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetSaveMethod(), TZipSaveMethod::FastSave);
  EXPECT_EQ(zip.GetCompressionType(), TZipCompressionType::ctMaximum);
  EXPECT_TRUE(zip.GetStoreRelativePath());
  EXPECT_TRUE(zip.GetStoreFolders());
  EXPECT_EQ(zip.GetComponentVersion(), "2.0");
  zip.SetCompressionType(TZipCompressionType::ctUnknown);
  EXPECT_EQ(zip.GetCompressionType(), TZipCompressionType::ctNormal);
  zip.SetCompressionType(TZipCompressionType::ctNone);
  EXPECT_EQ(zip.GetCompressionType(), TZipCompressionType::ctNone);
  zip.SetIsZipFile(true);
  zip.SetComponentVersion("9");
  EXPECT_FALSE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetComponentVersion(), "2.0");
  Recorder recorder;
  recorder.Attach(zip);
  zip.SetActive(true); // no file name: nothing happens
  EXPECT_TRUE(recorder.changes.empty());
}

TEST(Component, CreateOpenAndCloseFireTheChangeSequence) {
  test::TempDir dir;
  const std::string path = dir / "new.zip";
  TPellum zip;
  Recorder recorder;
  recorder.Attach(zip);
  zip.CreateArchiveFile(path);
  EXPECT_TRUE(recorder.changes.empty());
  EXPECT_EQ(test::ReadFile(path), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  zip.OpenArchive(path);
  EXPECT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetFileName(), path);
  EXPECT_FALSE(zip.GetReadOnly());
  EXPECT_EQ(zip.GetEndRecord().OffsetOfStartOfCentralDirectory, 0u);
  zip.SetActive(false);
  EXPECT_FALSE(zip.GetIsZipFile());
  zip.SetActive(true);
  EXPECT_TRUE(zip.GetIsZipFile());
  zip.CloseArchive();
  EXPECT_EQ(recorder.changes, (std::vector<int>{0, 1, 0, 0, 1, 0}));

  // Not an archive: the file is opened, found wanting, closed again.
  test::WriteFile(dir / "plain.txt", "just text, no archive");
  recorder.changes.clear();
  zip.OpenArchive(dir / "plain.txt");
  EXPECT_FALSE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetArchiveStream(), nullptr);
  EXPECT_EQ(recorder.changes, (std::vector<int>{0, 0, 1}));

  // Missing: only the first close, then the component's own error; the name stays.
  recorder.changes.clear();
  const std::string missing = dir / "missing.zip";
  try {
    zip.OpenArchive(missing);
    FAIL() << "no error";
  } catch (const EPellumError& error) {
    EXPECT_EQ(std::string(error.what()), "File \"" + missing + "\" not found!");
  }
  EXPECT_EQ(recorder.changes, (std::vector<int>{0}));
  EXPECT_EQ(zip.GetFileName(), dir / "plain.txt");
}

TEST(Component, ReadOnlyFileOpensReadOnly) {
  test::TempDir dir;
  const std::string path = dir / "ro.zip";
  test::WriteFile(path, BuildArchive({Item("a.txt", "abc")}));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read);
  TPellum zip;
  zip.OpenArchive(path);
  ASSERT_TRUE(zip.GetIsZipFile());
  EXPECT_TRUE(zip.GetReadOnly());
  EXPECT_THROW(zip.SetComment({"x"}), EInOutError);
  EXPECT_THROW(zip.Entries().RemoveEntry(0), EInOutError);
  EXPECT_EQ(test::ReadFile(path), BuildArchive({Item("a.txt", "abc")}));
  zip.CloseArchive();
  EXPECT_FALSE(zip.GetReadOnly());
}

TEST(Component, CommentWriteReadAndClear) {
  TPellum zip;
  OpenBytes(zip, BuildArchive({Item("a.txt", "abc")}));
  const std::int64_t bare = zip.GetArchiveStream()->Size();
  zip.SetComment({"abc"});
  EXPECT_EQ(ArchiveBytes(zip).size(), static_cast<std::size_t>(bare + 5));
  EXPECT_EQ(ArchiveBytes(zip).substr(bare), "abc\r\n");
  EXPECT_EQ(zip.GetEndRecord().ZipFileCommentLength, 5);
  EXPECT_EQ(zip.GetComment(), TStringList{"abc"});
  zip.SetComment({"line one", "line two"});
  EXPECT_EQ(zip.GetComment(), (TStringList{"line one", "line two"}));
  zip.SetComment({});
  EXPECT_EQ(zip.GetArchiveStream()->Size(), bare);
  EXPECT_TRUE(zip.GetComment().empty());

  // Clearing works without reading the comment first.
  OpenBytes(zip, BuildArchive({Item("a.txt")}, "stored"));
  zip.SetComment({});
  EXPECT_EQ(zip.GetEndRecord().ZipFileCommentLength, 0);
  EXPECT_EQ(ArchiveBytes(zip).size(), zip.GetEndRecordPosition() + 22u);

  // The same lines write nothing: a stored comment without a final line break stays as it is.
  const std::string stored = BuildArchive({Item("a.txt")}, "no break");
  OpenBytes(zip, stored);
  zip.SetComment({"no break"});
  EXPECT_EQ(ArchiveBytes(zip), stored);

  // A directory rebuilt by the scan is written out with the comment, so the archive loads as
  // it was seen.
  ziptest::Layout layout;
  const std::string scanned =
      BuildArchive({Item("a.txt", "abc"), Item("b.txt", "def")}, {}, &layout)
          .substr(0, layout.centralOffset);
  OpenBytes(zip, scanned);
  ASSERT_EQ(zip.Entries().Count(), 2);
  zip.SetComment({"after the scan"});
  TPellum again;
  OpenBytes(again, ArchiveBytes(zip));
  ASSERT_TRUE(again.GetIsZipFile());
  EXPECT_EQ(again.Entries().Count(), 2);
  EXPECT_EQ(again.GetComment(), TStringList{"after the scan"});

  // Closed: the value is dropped.
  zip.CloseArchive();
  zip.SetComment({"dropped"});
  EXPECT_TRUE(zip.GetComment().empty());
  EXPECT_THROW(
      {
        OpenBytes(zip, stored);
        zip.SetComment({std::string(70000, 'x')});
      },
      EPellumError);
}

TEST(Component, ArchiveImageCopiesEntriesAndReportsProgress) {
  const std::string data = test::RandomBytes(400, 5);
  TPellum zip;
  // A local extra field of its own length and a comment with a lone line feed.
  std::string bytes = BuildArchive(
      {Item("a.bin", data).LocalExtra("LX"), Item("b.txt", "bee"), Item("c/").Attributes(0x10)},
      "one\ntwo");
  OpenBytes(zip, bytes);
  ASSERT_EQ(zip.Entries().Count(), 3);
  std::vector<std::pair<int, int>> progress;
  zip.OnRebuildZip = [&](TPellum&, std::int32_t current, std::int32_t total) {
    progress.emplace_back(current, total);
  };
  MemoryStream image;
  zip.WriteArchiveImage(image);
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{
                          {0, 2}, {1, 2}, {2, 2}, {0, 2}, {1, 2}, {2, 2}, {100, 100}}));
  EXPECT_EQ(image.Bytes(), bytes); // laid out as we lay out: the same bytes
  TPellum copy;
  OpenBytes(copy, image.Bytes());
  ASSERT_EQ(copy.Entries().Count(), 3);
  EXPECT_EQ(copy.Entries()[0].LocalHeader.ExtraField, "LX");
  EXPECT_EQ(copy.GetEndRecord().ZipFileCommentLength, 7);
}
