// Removing entries in place and by rebuilding, with their events and failure paths.

#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/zip/ZipTestUtil.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace vornel;
using ziptest::ArchiveBytes;
using ziptest::BuildArchive;
using ziptest::Item;
using ziptest::Layout;
using ziptest::OpenBytes;

namespace {

std::vector<Item> Three() {
  return {Item("first.txt", "1111111111"), Item("second.bin", test::RandomBytes(200, 11)),
          Item("third.txt", "33")};
}

} // namespace

TEST(Remove, InPlaceMovesTheRestDown) {
  Layout layout;
  const std::string bytes = BuildArchive(Three(), {}, &layout);
  TPellum zip;
  std::vector<int> changes;
  zip.OnZipChange = [&](TPellum&, std::int32_t type) { changes.push_back(type); };
  OpenBytes(zip, bytes);
  const std::int64_t local = zip.Entries()[0].LocalSpan();
  const std::int64_t central = zip.Entries()[0].CentralSpan();
  changes.clear();
  zip.Entries().RemoveEntry(0);
  EXPECT_EQ(changes, (std::vector<int>{3}));
  const std::string after = ArchiveBytes(zip);
  EXPECT_EQ(after.size(), bytes.size() - local - central);
  ASSERT_EQ(zip.Entries().Count(), 2);
  EXPECT_EQ(zip.Entries()[0].CentralHeader.RelativeOffsetOfLocalHeader,
            layout.localOffsets[1] - local);
  EXPECT_EQ(zip.Entries()[1].CentralHeader.RelativeOffsetOfLocalHeader,
            layout.localOffsets[2] - local);
  EXPECT_EQ(after.substr(0, layout.centralOffset - local),
            bytes.substr(local, layout.centralOffset - local));
  EXPECT_EQ(zip.GetEndRecord().OffsetOfStartOfCentralDirectory, layout.centralOffset - local);
  EXPECT_EQ(zip.GetEndRecord().TotalEntries, 2);
  // The result is what a fresh load of it says.
  TPellum fresh;
  OpenBytes(fresh, after);
  ASSERT_EQ(fresh.Entries().Count(), 2);
  EXPECT_EQ(fresh.Entries()[1].CentralHeader.FileName, "third.txt");
}

TEST(Remove, LastEntryLeavesTheEmptyArchiveAndTheComment) {
  TPellum zip;
  OpenBytes(zip, BuildArchive({Item("only.txt", "x")}, "keep me"));
  zip.Entries().RemoveEntry(0);
  EXPECT_EQ(ArchiveBytes(zip), std::string("PK\x05\x06", 4) + std::string(16, '\0') +
                                   std::string("\x07\x00", 2) + "keep me");
  EXPECT_TRUE(zip.GetIsZipFile());
  EXPECT_EQ(zip.GetComment(), TStringList{"keep me"});
}

TEST(Remove, RebuildInMemoryMeasuresFirstAndReloads) {
  TPellum zip;
  OpenBytes(zip, BuildArchive(Three(), "comment"));
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  std::vector<std::string> events;
  zip.OnRemoveItems = [&](TPellum&, std::int32_t current, std::int32_t total) {
    events.push_back("remove " + std::to_string(current) + "/" + std::to_string(total));
  };
  zip.OnRebuildZip = [&](TPellum&, std::int32_t current, std::int32_t) {
    events.push_back("rebuild " + std::to_string(current));
  };
  zip.OnZipChange = [&](TPellum&, std::int32_t type) {
    events.push_back("change " + std::to_string(type));
  };
  zip.Entries().RemoveEntry(1);
  EXPECT_EQ(events,
            (std::vector<std::string>{"remove 0/1", "remove 1/1", "rebuild 0", "rebuild 1",
                                      "rebuild 0", "rebuild 1", "rebuild 100", "change 3"}));
  ASSERT_EQ(zip.Entries().Count(), 2);
  EXPECT_EQ(zip.Entries()[1].CentralHeader.FileName, "third.txt");
  EXPECT_EQ(ArchiveBytes(zip), BuildArchive({Three()[0], Three()[2]}, "comment"));
}

TEST(Remove, RebuildThroughTempFileLeavesNothingBehind) {
  ziptest::ScopedTempEnv tmp;
  TPellum zip;
  OpenBytes(zip, BuildArchive(Three()));
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  zip.SetUseTempFiles(true);
  zip.SetSuppressChangeEvents(true);
  int fired = 0;
  zip.OnRemoveItems = [&](TPellum&, std::int32_t, std::int32_t) { ++fired; };
  zip.OnZipChange = [&](TPellum&, std::int32_t) { ++fired; };
  zip.Entries().RemoveEntry(0);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(ArchiveBytes(zip), BuildArchive({Three()[1], Three()[2]}));
  EXPECT_TRUE(tmp.Empty());
  // Also when the rebuild fails half way.
  zip.OnRebuildZip = [](TPellum&, std::int32_t, std::int32_t) { throw std::runtime_error("stop"); };
  EXPECT_THROW(zip.Entries().RemoveEntry(0), std::runtime_error);
  EXPECT_TRUE(tmp.Empty());
}

TEST(Remove, FailureKeepsCollectionAndArchiveInStep) {
  // A failing rebuild leaves the archive untouched and the entry back in the collection.
  TPellum zip;
  const std::string bytes = BuildArchive(Three());
  OpenBytes(zip, bytes);
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  zip.OnRebuildZip = [](TPellum&, std::int32_t current, std::int32_t) {
    if (current == 1)
      throw std::runtime_error("stop");
  };
  EXPECT_THROW(zip.Entries().RemoveEntry(2), std::runtime_error);
  EXPECT_EQ(ArchiveBytes(zip), bytes);
  EXPECT_EQ(zip.Entries().Count(), 3);
  EXPECT_TRUE(zip.GetIsZipFile());

  // Data cut short cannot be rewritten: the rebuild fails loudly and writes nothing.
  Layout layout;
  const std::string full = BuildArchive(
      {Item("a.txt", "aaa"), Item("b.txt", "bbb"), Item("c.bin", test::RandomBytes(200, 13))}, {},
      &layout);
  const std::string cut = full.substr(0, layout.centralOffset - 50);
  for (auto method : {TZipSaveMethod::RebuildAll, TZipSaveMethod::FastSave}) {
    OpenBytes(zip, cut);
    ASSERT_EQ(zip.Entries().Count(), 3);
    zip.OnRebuildZip = nullptr;
    zip.SetSaveMethod(method);
    try {
      zip.Entries().RemoveEntry(0);
      FAIL() << "no error";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode(), io_error::ReadBeyondEnd);
    }
    EXPECT_EQ(ArchiveBytes(zip), cut);
    EXPECT_EQ(zip.Entries().Count(), 3);
  }
}

TEST(Remove, DataDescriptorEntriesSurviveRewriting) {
  const std::string data = test::RandomBytes(300, 12);
  for (int length : {16, 12})
    for (auto method : {TZipSaveMethod::FastSave, TZipSaveMethod::RebuildAll}) {
      const std::vector<Item> items = {Item("a.txt", "aaa"), Item("piped", data).Descriptor(length),
                                       Item("z.txt", "zzz")};
      TPellum zip;
      OpenBytes(zip, BuildArchive(items));
      zip.SetSaveMethod(method);
      zip.Entries().RemoveEntry(0);
      std::string expected = BuildArchive({items[1], items[2]});
      {
        // Both ways rewrite: a rewritten local header carries the real CRC and sizes; data and
        // descriptor follow as they were.
        TCentralDirectoryFile central;
        central.DecodeFixed(reinterpret_cast<const unsigned char*>(
            expected.data() + zip.GetEndRecord().OffsetOfStartOfCentralDirectory));
        expected.replace(14, 12, ArchiveBytes(zip).substr(14, 12));
        EXPECT_EQ(ziptest::Le32(expected, 14), central.Crc32);
        EXPECT_EQ(ziptest::Le32(expected, 18), central.CompressedSize);
      }
      EXPECT_EQ(ArchiveBytes(zip), expected);
    }
}

TEST(Remove, CommentOutOfTheSearchReachIsKept) {
  // 1,100 bytes with a 600-byte comment: found by the second window. Once a removal shrinks the
  // archive below 1,024 bytes, a fresh load no longer reaches the end record, but the component
  // goes on describing what it wrote.
  const std::string comment(600, 'k');
  const std::vector<Item> items = {Item("a.bin", std::string(200, 'a')), Item("b.txt", "bb")};
  std::string bytes = BuildArchive(items, comment);
  bytes =
      BuildArchive({Item("a.bin", std::string(200 + 1100 - bytes.size(), 'a')), items[1]}, comment);
  ASSERT_EQ(bytes.size(), 1100u);
  for (auto method : {TZipSaveMethod::FastSave, TZipSaveMethod::RebuildAll}) {
    TPellum zip;
    OpenBytes(zip, bytes);
    ASSERT_EQ(zip.GetEndRecord().ZipFileCommentLength, 600);
    zip.SetSaveMethod(method);
    zip.Entries().RemoveEntry(0);
    const std::string after = ArchiveBytes(zip);
    EXPECT_EQ(after, BuildArchive({items[1]}, comment));
    ASSERT_EQ(zip.Entries().Count(), 1);
    EXPECT_EQ(zip.Entries()[0].CentralHeader.RelativeOffsetOfLocalHeader, 0u);
    EXPECT_EQ(zip.GetEndRecordPosition(), static_cast<std::int64_t>(after.size()) - 622);
    EXPECT_EQ(zip.GetComment(), TStringList{comment});
    TPellum fresh;
    OpenBytes(fresh, after);
    EXPECT_TRUE(fresh.GetComment().empty()); // the directory came from the scan
  }
}

TEST(Remove, GapsBetweenRecordsAndMissingHeaders) {
  // Ten foreign bytes between the second and third record: removing in place must put the
  // directory behind the last record, not where the spans alone would end.
  Layout layout;
  const std::vector<Item> items = Three();
  std::string bytes = BuildArchive(items, {}, &layout);
  bytes.insert(layout.localOffsets[2], std::string(10, '#'));
  auto add10 = [&bytes](std::size_t at) {
    const std::uint32_t value = ziptest::Le32(bytes, at) + 10;
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  const std::size_t central = layout.centralOffset + 10;
  add10(central + 46 + 9 + 46 + 10 + 42); // third entry's local offset
  add10(bytes.size() - 22 + 16);          // directory offset
  TPellum zip;
  OpenBytes(zip, bytes);
  ASSERT_EQ(zip.Entries().Count(), 3);
  zip.Entries().RemoveEntry(0);
  TPellum fresh;
  OpenBytes(fresh, ArchiveBytes(zip));
  ASSERT_EQ(fresh.Entries().Count(), 2);
  TLocalFile record;
  fresh.Entries().ReadEntryLocalHeader(*fresh.GetArchiveStream(), fresh.Entries()[1], record,
                                       false);
  EXPECT_EQ(record.FileData, items[2].data);

  // An entry whose local header is not where the directory says cannot be rewritten: the
  // rebuild refuses instead of writing thirty zero bytes in its place.
  bytes = BuildArchive(items, {}, &layout);
  bytes[layout.localOffsets[1]] = 'X';
  OpenBytes(zip, bytes);
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  EXPECT_THROW(zip.Entries().RemoveEntry(0), EPellumError);
  EXPECT_EQ(ArchiveBytes(zip), bytes);
  EXPECT_EQ(zip.Entries().Count(), 3);
}
