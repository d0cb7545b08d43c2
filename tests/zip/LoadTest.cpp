// Loading: the end record search, the central directory, the fallback scan, damaged input.

#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/zip/ZipTestUtil.h"

#include <gtest/gtest.h>

using namespace vornel;
using ziptest::BuildArchive;
using ziptest::Item;
using ziptest::Layout;
using ziptest::OpenBytes;

namespace {

std::vector<Item> ThreeItems() {
  return {Item("one.txt", "first entry"), Item("dir/").Attributes(0x10),
          Item("dir/two.bin", test::RandomBytes(300, 2))};
}

} // namespace

TEST(Load, EmptyArchiveOpensWithoutEntries) {
  TPellum zip;
  int opens = 0;
  zip.OnZipOpen = [&](TPellum&, std::int32_t, std::int32_t) { ++opens; };
  OpenBytes(zip, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.Entries().Count(), 0);
  EXPECT_EQ(zip.GetEndRecord().OffsetOfStartOfCentralDirectory, 0u);
  EXPECT_EQ(zip.GetEndRecordPosition(), 0);
  EXPECT_EQ(zip.GetCommentPosition(), 22);
  EXPECT_EQ(opens, 0);
}

TEST(Load, CentralDirectoryGivesEntriesAndFiresOpenTwicePerEntry) {
  TPellum zip;
  std::vector<std::pair<int, int>> calls;
  zip.OnZipOpen = [&](TPellum& sender, std::int32_t current, std::int32_t total) {
    EXPECT_EQ(&sender, &zip);
    calls.emplace_back(current, total);
  };
  Layout layout;
  auto items = ThreeItems();
  items[0].centralExtra = "CX";
  items[0].localExtra = "LOCALX";
  items[0].fileComment = "note";
  OpenBytes(zip, BuildArchive(items, {}, &layout));
  ASSERT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(calls,
            (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {0, 3}, {1, 3}, {2, 3}}));
  const TPellumEntriesEntry& first = zip.Entries()[0];
  EXPECT_EQ(first.CentralHeader.FileName, "one.txt");
  EXPECT_EQ(first.CentralHeader.ExtraField, "CX");
  EXPECT_EQ(first.CentralHeader.FileComment, "note");
  EXPECT_EQ(first.LocalHeader.ExtraField, "LOCALX");
  EXPECT_TRUE(first.LocalHeader.FileData.empty());
  EXPECT_EQ(first.LocalSpan(), layout.localOffsets[1]);
  EXPECT_DOUBLE_EQ(first.Timestamp, EncodeDateTime(2024, 5, 6, 12, 34, 56, 0));
  EXPECT_TRUE(zip.Entries()[1].Folder);
  EXPECT_EQ(zip.Entries()[2].CentralHeader.RelativeOffsetOfLocalHeader, layout.localOffsets[2]);
  EXPECT_EQ(zip.GetEndRecordPosition(), layout.endOffset);
}

TEST(Load, FailingOpenHandlerMakesItNoArchive) {
  TPellum zip;
  std::vector<int> changes;
  zip.OnZipChange = [&](TPellum&, std::int32_t type) { changes.push_back(type); };
  zip.OnZipOpen = [](TPellum&, std::int32_t, std::int32_t) { throw std::runtime_error("stop"); };
  OpenBytes(zip, BuildArchive(ThreeItems()));
  EXPECT_FALSE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetArchiveStream(), nullptr);
  EXPECT_EQ(changes, (std::vector<int>{0, 1}));
}

TEST(Load, FailureInTheLocalHeaderPassLeavesItClosed) {
  TPellum zip;
  int calls = 0;
  zip.OnZipOpen = [&](TPellum&, std::int32_t, std::int32_t) {
    if (++calls == 4) // the first call of the local header pass
      throw std::runtime_error("stop");
  };
  EXPECT_THROW(OpenBytes(zip, BuildArchive(ThreeItems())), std::runtime_error);
  EXPECT_FALSE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetArchiveStream(), nullptr);
  EXPECT_EQ(zip.Entries().Count(), 0);
}

TEST(Load, EndRecordWindowsFindCommentsUpToTheLongest) {
  // A stream of 64 KiB and more searches all three windows.
  const std::vector<Item> items = {Item("big.bin", test::RandomBytes(70000, 3))};
  for (std::size_t length :
       {0, 1, 200, 233, 234, 235, 256, 300, 1000, 1258, 1259, 1300, 5000, 40000, 65000, 65535}) {
    std::string comment = test::RandomBytes(length, static_cast<unsigned>(length));
    for (std::size_t i = 0; i < comment.size(); i += 7)
      comment[i] = 'P'; // plenty of false starts
    Layout layout;
    TPellum zip;
    OpenBytes(zip, BuildArchive(items, comment, &layout));
    ASSERT_TRUE(zip.GetIsZipFile()) << length;
    EXPECT_EQ(zip.GetEndRecordPosition(), layout.endOffset) << length;
    EXPECT_EQ(zip.GetEndRecord().ZipFileCommentLength, length);
  }
}

TEST(Load, SmallArchiveWithLongCommentFallsToTheScan) {
  // 1,000 bytes with a 300-byte comment: the first window stops 278 bytes before the end and
  // the second needs 1,024 bytes, so the directory comes from the local headers.
  const std::string comment(300, 'c');
  Item item("pad.bin");
  item.data = std::string(1000 - 300 - 22 - 46 - 30 - 2 * item.name.size(), 'x');
  Layout layout;
  const std::string bytes = BuildArchive({item}, comment, &layout);
  ASSERT_EQ(bytes.size(), 1000u);
  TPellum zip;
  OpenBytes(zip, bytes);
  ASSERT_TRUE(zip.GetIsZipFile());
  ASSERT_EQ(zip.Entries().Count(), 1);
  EXPECT_EQ(zip.Entries()[0].CentralHeader.ExternalFileAttributes, 0x20u);
  EXPECT_TRUE(zip.GetComment().empty());
  EXPECT_EQ(zip.GetEndRecord().ZipFileCommentLength, 0);
  // The scan stops at the central header, 4 bytes into it.
  EXPECT_EQ(zip.GetEndRecord().OffsetOfStartOfCentralDirectory, layout.centralOffset + 4);
  // A stream shorter than the empty archive is scanned too.
  TPellum tiny;
  OpenBytes(tiny, "PK\x03");
  EXPECT_FALSE(tiny.GetIsZipFile());
}

TEST(Load, ScanOfATruncatedArchive) {
  Layout layout;
  const std::string bytes = BuildArchive(ThreeItems(), {}, &layout);
  struct Cut {
    std::size_t length;
    int entries;
  };
  const Cut cuts[] = {{layout.centralOffset, 3},        // directory gone: ends right after the data
                      {layout.centralOffset - 100, 3},  // the last data cut short
                      {layout.localOffsets[2] + 20, 2}, // the last header cut short
                      {layout.localOffsets[1], 1}};
  for (const Cut& cut : cuts) {
    TPellum zip;
    // An earlier archive's positions must not survive into the scanned one.
    OpenBytes(zip, BuildArchive(ThreeItems(), std::string(500, 'z')));
    OpenBytes(zip, bytes.substr(0, cut.length));
    ASSERT_TRUE(zip.GetIsZipFile()) << cut.length;
    ASSERT_EQ(zip.Entries().Count(), cut.entries) << cut.length;
    EXPECT_EQ(zip.Entries()[0].CentralHeader.ExternalFileAttributes, 0x20u);
    if (cut.entries > 1) {
      EXPECT_EQ(zip.Entries()[1].CentralHeader.ExternalFileAttributes, 0x10u);
    }
    EXPECT_EQ(zip.Entries()[0].LocalHeader.LocalFileHeaderSignature, 0u);
    const TEndOfDirectory& end = zip.GetEndRecord();
    EXPECT_EQ(end.TotalEntries, cut.entries);
    EXPECT_LE(end.OffsetOfStartOfCentralDirectory, cut.length);
    EXPECT_EQ(zip.GetEndRecordPosition(), end.OffsetOfStartOfCentralDirectory);
    EXPECT_EQ(zip.GetCommentPosition(), end.OffsetOfStartOfCentralDirectory + 22);
    EXPECT_TRUE(zip.GetComment().empty());
  }
}

TEST(Load, NoDateEntriesLoadAndBadDatesFail) {
  // Our own writer stores times outside 1980..2107 as 0; such archives must open again.
  TPellum zip;
  OpenBytes(zip, BuildArchive({Item("old.txt").Dos(0, 0)}));
  ASSERT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.Entries()[0].Timestamp, 0.0);

  const std::vector<Item> bad = {Item("a.txt"), Item("b.txt").Dos(0x58A0, 0x645C)};
  OpenBytes(zip, BuildArchive(bad));
  EXPECT_FALSE(zip.GetIsZipFile());
  // Without a directory the scan stops at the bad entry and keeps those before it.
  Layout layout;
  const std::string bytes = BuildArchive(bad, {}, &layout);
  OpenBytes(zip, bytes.substr(0, layout.centralOffset));
  ASSERT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.Entries().Count(), 1);
}

TEST(Load, DataDescriptorValuesComeFromTheCentralHeader) {
  const std::string data = test::RandomBytes(500, 9);
  Layout layout;
  const std::string bytes =
      BuildArchive({Item("piped", data).Descriptor(), Item("after.txt")}, {}, &layout);
  TPellum zip;
  OpenBytes(zip, bytes);
  ASSERT_TRUE(zip.GetIsZipFile());
  const TPellumEntriesEntry& entry = zip.Entries()[0];
  EXPECT_EQ(entry.LocalHeader.CompressedSize, 500u);
  EXPECT_EQ(entry.LocalHeader.Crc32, TPellumEntries::StringCrc32(data));
  EXPECT_EQ(entry.LocalSpan(), layout.localOffsets[1]);
  TLocalFile record;
  zip.Entries().ReadLocalHeader(*zip.GetArchiveStream(), 0, record, false);
  EXPECT_EQ(record.FileData.substr(0, 500), data);
  EXPECT_EQ(record.FileData.substr(500, 4), std::string("PK\x07\x08", 4));

  // Without a directory such an entry has no known end: the scan stops before it.
  OpenBytes(zip, bytes.substr(0, layout.centralOffset));
  EXPECT_FALSE(zip.GetIsZipFile());
}

TEST(Load, ReadingDataPastTheEndFailsLoudly) {
  Layout layout;
  std::string bytes = BuildArchive({Item("a.txt", std::string(100, 'a'))}, {}, &layout);
  bytes[18] = 0x10; // the local compressed size becomes 0x1010, past the end
  bytes[19] = 0x10;
  TPellum zip;
  OpenBytes(zip, bytes);
  ASSERT_TRUE(zip.GetIsZipFile());
  TLocalFile record;
  try {
    zip.Entries().ReadLocalHeader(*zip.GetArchiveStream(), 0, record, false);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), io_error::ReadBeyondEnd);
  }
  // Headers alone still read.
  zip.Entries().ReadLocalHeader(*zip.GetArchiveStream(), 0, record, true);
  EXPECT_EQ(record.FileName, "a.txt");
  zip.Entries().ReadLocalHeader(*zip.GetArchiveStream(), 7, record, true);
  EXPECT_EQ(record.LocalFileHeaderSignature, 0u);
}

TEST(Load, DamagedDirectoriesEndCleanly) {
  Layout layout;
  const std::string good = BuildArchive(ThreeItems(), "comment", &layout);
  const std::size_t end = layout.endOffset;
  auto patched = [&](std::size_t at, std::uint32_t value, int width) {
    std::string bytes = good;
    for (int i = 0; i < width; ++i)
      bytes[at + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  const std::string damaged[] = {
      patched(end + 16, 0x7FFFFFF0, 4),             // directory offset past the end
      patched(end + 8, 0xFFFF, 2),                  // 65,535 entries claimed
      patched(end + 16, layout.endOffset - 10, 4),  // directory runs into the end record
      patched(layout.centralOffset + 28, 60000, 2), // a name past the end
      patched(layout.centralOffset + 30, 60000, 2), // an extra field past the end
      patched(layout.centralOffset + 32, 60000, 2), // a file comment past the end
  };
  for (const std::string& bytes : damaged) {
    TPellum zip;
    OpenBytes(zip, bytes);
    EXPECT_FALSE(zip.GetIsZipFile());
  }
  // A claimed comment longer than the stream is cut at the end.
  TPellum zip;
  OpenBytes(zip, patched(end + 20, 5000, 2));
  ASSERT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetComment(), TStringList{"comment"});
  // A local header offset past the end leaves that entry's local header empty.
  OpenBytes(zip, patched(layout.centralOffset + 42, 0x00FFFFFF, 4));
  ASSERT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.Entries()[0].LocalHeader.LocalFileHeaderSignature, 0u);
}

TEST(Load, EveryTruncationAndGarbageEndCleanly) {
  const std::string bytes = BuildArchive(ThreeItems(), "a comment");
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    TPellum zip;
    OpenBytes(zip, bytes.substr(0, length));
    if (!zip.GetIsZipFile())
      continue;
    zip.GetComment();
    zip.GetFileNames();
    zip.SetSaveMethod(length % 2 ? TZipSaveMethod::FastSave : TZipSaveMethod::RebuildAll);
    try {
      zip.Entries().RemoveEntry(0);
    } catch (const std::exception&) {
    }
  }
  for (unsigned seed = 0; seed < 300; ++seed) {
    std::string garbage = test::RandomBytes(seed * 7, seed);
    if (seed % 3 == 0 && garbage.size() >= 4)
      garbage.replace(0, 4, "PK\x03\x04"); // lure the scan
    if (seed % 3 == 1 && garbage.size() >= 22)
      garbage.replace(garbage.size() - 22, 4, "PK\x05\x06"); // lure the directory reader
    TPellum zip;
    OpenBytes(zip, garbage);
    if (zip.GetIsZipFile()) {
      zip.GetComment();
      zip.GetFileNames();
    }
  }
}
