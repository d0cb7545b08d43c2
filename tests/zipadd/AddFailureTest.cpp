#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/zipadd/ZipAddSupport.h"
#include "zip/Pellum.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace vornel::test {
namespace {

// A source whose size announces one length while it holds another, as a file does that is
// changed while it is packed. It remembers the largest read asked of it.
class LyingStream final : public Stream {
public:
  LyingStream(std::string bytes, std::int64_t announced)
      : bytes_(std::move(bytes)), announced_(announced) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const std::size_t got = std::min(count, left);
    largestRead_ = std::max(largestRead_, count);
    std::memcpy(buffer, bytes_.data() + position_, got);
    position_ += got;
    return got;
  }
  void Write(const void*, std::size_t) override { RaiseIoError(io_error::AccessDenied); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    const std::int64_t base = origin == SeekOrigin::Begin     ? 0
                              : origin == SeekOrigin::Current ? static_cast<std::int64_t>(position_)
                                                              : announced_;
    position_ = static_cast<std::size_t>(base + offset);
    return static_cast<std::int64_t>(position_);
  }
  std::int64_t Size() override { return announced_; }
  std::size_t LargestRead() const { return largestRead_; }
  void SetSize(std::int64_t) override { RaiseIoError(io_error::AccessDenied); }

private:
  std::string bytes_;
  std::int64_t announced_;
  std::size_t position_ = 0;
  std::size_t largestRead_ = 0;
};

bool FolderIsEmpty(const std::string& dir) {
  return std::filesystem::is_empty(std::filesystem::path(dir));
}

const TDateTime SomeTime = EncodeDateTime(2024, 5, 6, 7, 8, 10, 0);

class AddFailure : public ::testing::TestWithParam<TZipSaveMethod> {
protected:
  void SetUp() override {
    zip.SetSaveMethod(GetParam());
    zip.SetStoreRelativePath(false);
    CreateAndOpen(zip, path);
    MemoryStream first(TextBytes(50000, 1));
    zip.Entries().AddEntry("first.txt", 0x20, first, SomeTime);
    before = ReadFile(path);
    zip.OnZipChange = [this](TPellum&, std::int32_t type) { changes.push_back(type); };
    zip.OnAddItem = [this](TPellum&, const std::string& name) { items.push_back(name); };
  }

  // Nothing changed: the same bytes on disk, the same single entry, no events; and the
  // component goes on working with the archive.
  void ExpectUntouched() {
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(zip.Entries().Count(), 1);
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(items.empty());
    MemoryStream next("still works");
    ASSERT_NE(zip.Entries().AddEntry("next.txt", 0x20, next, SomeTime), nullptr);
    zip.CloseArchive();
    ExpectPeersAccept(path);
  }

  TempDir dir;
  std::string path = dir / "archive.zip";
  TPellum zip;
  std::string before;
  std::vector<int> changes;
  std::vector<std::string> items;
};

TEST_P(AddFailure, PathsThatAreNoFileAddNothing) {
  EXPECT_EQ(zip.AddFileEntry(dir / "missing.txt"), nullptr);
  std::filesystem::create_directory(dir / "folder");
  EXPECT_THROW(zip.AddFileEntry(dir / "folder"), EFOpenError);
  ExpectUntouched();
}

TEST_P(AddFailure, SourceIsReadInBlocksNotWhole) {
  // Memory stays bounded however large the source: it is read 64 KiB at a time.
  LyingStream source(RandomBytes(3 << 20, 12), 3 << 20);
  ASSERT_NE(zip.Entries().AddEntry("large.bin", 0x20, source, SomeTime), nullptr);
  EXPECT_EQ(source.LargestRead(), 65536u);
}

TEST_P(AddFailure, SourceThatShrankRaisesReadBeyondEnd) {
  LyingStream shrunk(RandomBytes(300000, 2), 400000);
  try {
    zip.Entries().AddEntry("shrunk.bin", 0x20, shrunk, SomeTime);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), io_error::ReadBeyondEnd);
  }
  ExpectUntouched();
}

TEST_P(AddFailure, SourceThatGrewIsRefused) {
  for (std::int64_t announced : {0, 1, 200000}) {
    SCOPED_TRACE(announced);
    LyingStream grown(RandomBytes(200001, 3), announced);
    try {
      zip.Entries().AddEntry("grown.bin", 0x20, grown, SomeTime);
      FAIL() << "no error";
    } catch (const EPellumError& error) {
      EXPECT_STREQ(error.what(), "\"grown.bin\" changed while it was packed");
    }
  }
  ExpectUntouched();
}

TEST_P(AddFailure, HandlerThatRaisesWhileCompressingStopsTheAdd) {
  zip.OnCompressFile = [](TPellum&, std::int32_t, std::int32_t) {
    throw std::runtime_error("stop");
  };
  MemoryStream random(RandomBytes(1 << 20, 4));
  EXPECT_THROW(zip.Entries().AddEntry("random.bin", 0x20, random, SomeTime), std::runtime_error);
  zip.OnCompressFile = nullptr;
  ExpectUntouched();
}

TEST_P(AddFailure, HandlerThatRaisesAfterTheAddLeavesTheEntryInPlace) {
  zip.OnZipChange = [](TPellum&, std::int32_t) { throw std::runtime_error("handler"); };
  MemoryStream data("late");
  EXPECT_THROW(zip.Entries().AddEntry("late.txt", 0x20, data, SomeTime), std::runtime_error);
  EXPECT_TRUE(items.empty()); // the add stopped before OnAddItem
  EXPECT_EQ(zip.Entries().Count(), 2);
  zip.OnZipChange = nullptr;
  zip.CloseArchive();
  ExpectPeersAccept(path);
}

TEST_P(AddFailure, ReadOnlyArchiveFailsWithThePlatformsError) {
  zip.CloseArchive();
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  zip.OpenArchive(path);
  ASSERT_TRUE(zip.GetReadOnly());
  changes.clear();
  MemoryStream data("data");
  try {
    zip.Entries().AddEntry("more.txt", 0x20, data, SomeTime);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), io_error::AccessDenied);
  }
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(zip.Entries().Count(), 1);
  EXPECT_TRUE(changes.empty());
}

TEST_P(AddFailure, SourcesOf2GiBAreRefusedBeforeAnythingIsWritten) {
  // Sparse files: nothing is read from them, the sizes alone refuse them.
  const std::string huge = dir / "huge.bin";
  WriteFile(huge, "");
  std::filesystem::resize_file(huge, 0x80000000ull);
  try {
    zip.AddFileEntry(huge);
    FAIL() << "no error";
  } catch (const EPellumError& error) {
    EXPECT_EQ(std::string(error.what()),
              "\"" + huge + "\" is too large for a zip archive (2 GiB or more)");
  }
  // One byte less fits the data fields but not the archive around it.
  std::filesystem::resize_file(huge, 0x7FFFFFFFull);
  try {
    zip.AddFileEntry(huge);
    FAIL() << "no error";
  } catch (const EPellumError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Adding \"" + huge + "\" would make the archive 2 GiB or larger");
  }
  ExpectUntouched();
}

TEST_P(AddFailure, NamesOfMoreThan65535BytesAreRefused) {
  zip.SetStoreRelativePath(true);
  zip.SetStoreFolders(false);
  MemoryStream data("x");
  EXPECT_THROW(zip.Entries().AddEntry(std::string(65536, 'n'), 0x20, data, SomeTime), EPellumError);
  EXPECT_EQ(ReadFile(path), before);
  const std::string longest(65535, 'n');
  TPellumEntriesEntry* entry = zip.Entries().AddEntry(longest, 0x20, data, SomeTime);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->CentralHeader.FilenameLength, 65535);
  EXPECT_EQ(zip.GetArchiveStream()->Size(),
            static_cast<std::int64_t>(before.size()) + 98 - 22 + 2 * 65535 + 3);
}

TEST_P(AddFailure, The65536thEntryIsRefused) {
  // Blank collection entries stand in for a full directory; the check looks at the count only.
  while (zip.Entries().Count() < 65535)
    zip.Entries().Add();
  MemoryStream data("x");
  try {
    zip.Entries().AddEntry("one-too-many.txt", 0x20, data, SomeTime);
    FAIL() << "no error";
  } catch (const EPellumError& error) {
    EXPECT_STREQ(error.what(),
                 "The archive already holds 65535 entries; \"one-too-many.txt\" cannot be added");
  }
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(zip.Entries().Count(), 65535);
}

INSTANTIATE_TEST_SUITE_P(Strategies, AddFailure,
                         ::testing::Values(TZipSaveMethod::FastSave, TZipSaveMethod::RebuildAll),
                         [](const auto& info) {
                           return info.param == TZipSaveMethod::FastSave ? "FastSave"
                                                                         : "RebuildAll";
                         });

TEST(AddRebuild, LeavesNoTemporaryFileBehind) {
  TempDir dir;
  TempDir temp;
  test::ScopedTempFolder override(temp.Str());
  const std::string path = dir / "archive.zip";
  TPellum zip;
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  zip.SetUseTempFiles(true);
  CreateAndOpen(zip, path);
  MemoryStream good(TextBytes(100000, 5));
  ASSERT_NE(zip.Entries().AddEntry("good.txt", 0x20, good, SomeTime), nullptr);
  MemoryStream replacement(TextBytes(1000, 6));
  ASSERT_NE(zip.Entries().AddEntry("GOOD.txt", 0x20, replacement, SomeTime), nullptr);
  EXPECT_TRUE(FolderIsEmpty(temp.Str()));

  const std::string before = ReadFile(path);
  int changes = 0;
  zip.OnZipChange = [&](TPellum&, std::int32_t) { ++changes; };
  LyingStream shrunk(RandomBytes(1000, 6), 5000);
  EXPECT_THROW(zip.Entries().AddEntry("shrunk.bin", 0x20, shrunk, SomeTime), EInOutError);
  EXPECT_TRUE(FolderIsEmpty(temp.Str()));
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(zip.Entries().Count(), 1);
  EXPECT_EQ(changes, 0);
}

TEST(AddFast, RefusesAnArchiveWhoseRecordsReachPastItsEnd) {
  TempDir dir;
  const std::string path = dir / "lying.zip";
  {
    TPellum maker;
    CreateAndOpen(maker, path);
    MemoryStream data("abc");
    maker.Entries().AddEntry("a.txt", 0x20, data, SomeTime);
  }
  // The central header claims 256 MiB of data for its entry.
  std::string bytes = ReadFile(path);
  const std::size_t directory = Le32(bytes, bytes.size() - 22 + 16);
  bytes[directory + 20 + 3] = 0x10;
  WriteFile(path, bytes);
  TPellum zip;
  zip.OpenArchive(path);
  ASSERT_TRUE(zip.GetIsZipFile());
  MemoryStream data("new");
  EXPECT_THROW(zip.Entries().AddEntry("b.txt", 0x20, data, SomeTime), EPellumError);
  zip.CloseArchive();
  EXPECT_EQ(ReadFile(path), bytes);
}

TEST(AddWithoutArchive, IsRefused) {
  TPellum zip;
  MemoryStream data("x");
  EXPECT_THROW(zip.Entries().AddEntry("x.txt", 0x20, data, SomeTime), EPellumError);
}

} // namespace
} // namespace vornel::test
