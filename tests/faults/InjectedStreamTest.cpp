// Streams that fail after N bytes, for every N: a full disk or a failing medium under the
// archive, and sources that end early or fail while they are read. Every fault is reported,
// none ends in a "success", and the archive is left as it was or in a state the next write
// repairs.

#include "tests/faults/FaultSupport.h"

#include "platform/Errors.h"
#include "tests/support/FaultyStream.h"
#include "zip/Pellum.h"

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

using WriteFault = FaultyStream::WriteFault;
using ReadFault = FaultyStream::ReadFault;

// The archive's entries by name and unpacked data, read through a fresh component.
std::vector<RawEntry> Contents(const std::string& bytes) {
  TPellum zip;
  zip.OpenFromStream(std::make_unique<MemoryStream>(bytes));
  std::vector<RawEntry> entries;
  if (!zip.GetIsZipFile())
    return {{"<not an archive>", ""}};
  MemoryStream stream(bytes);
  for (std::int32_t i = 0; i < zip.Entries().Count(); ++i) {
    TLocalFile local;
    zip.Entries().ReadEntryLocalHeader(stream, zip.Entries()[i], local, false);
    entries.push_back(
        {local.FileName, local.CompressionMethod == 8
                             ? RawInflate(local.FileData, 1 << 20).value_or("<damaged>")
                             : local.FileData});
  }
  return entries;
}

const std::vector<RawEntry>& Original() {
  static const std::vector<RawEntry> entries{{"one", RandomBytes(700, 1)}, {"two", "2"}};
  return entries;
}

std::string NewData() {
  return RandomBytes(3000, 2) + std::string(9000, 'z') + RandomBytes(500, 3);
}

std::vector<RawEntry> ThreeEntries() {
  std::vector<RawEntry> three = Original();
  three.push_back({"three", RandomBytes(2000, 9)});
  return three;
}

struct Open {
  Open(TZipSaveMethod method, const std::string& bytes = StoredArchive(Original())) {
    auto stream = std::make_unique<FaultyStream>(bytes);
    Archive = stream.get();
    Zip.SetSaveMethod(method);
    Zip.SetStoreRelativePath(false);
    Zip.SetStoreFolders(false);
    Zip.OpenFromStream(std::move(stream));
  }
  TPellum Zip;
  FaultyStream* Archive;
};

// Every N from 0 while N is small, then a stride that still lands on every record boundary
// region, up to the clean run's count.
std::vector<std::uint64_t> Budgets(std::uint64_t total) {
  std::vector<std::uint64_t> budgets;
  for (std::uint64_t n = 0; n < total; n += n < 600 ? 1 : 7)
    budgets.push_back(n);
  for (std::uint64_t n = total > 64 ? total - 64 : 0; n < total; ++n)
    budgets.push_back(n);
  return budgets;
}

class WriteFaults : public ::testing::TestWithParam<TZipSaveMethod> {};

INSTANTIATE_TEST_SUITE_P(SaveMethods, WriteFaults,
                         ::testing::Values(TZipSaveMethod::FastSave, TZipSaveMethod::RebuildAll));

std::uint64_t RemovalWrites(TZipSaveMethod method, const std::string& archive) {
  Open clean(method, archive);
  clean.Zip.Entries().RemoveEntry(0);
  return clean.Archive->Written();
}

// The disk fills after N bytes and stays full: the add fails; once there is room again, the
// next add writes an archive that holds everything it should.
TEST_P(WriteFaults, AddOnADiskThatFillsAfterNBytes) {
  std::uint64_t total = 0;
  {
    Open clean(GetParam());
    MemoryStream data(NewData());
    clean.Zip.Entries().AddEntry("new", 0x20, data, 40000);
    total = clean.Archive->Written();
  }
  int failures = 0;
  for (const std::uint64_t budget : Budgets(total)) {
    SCOPED_TRACE("disk full after " + std::to_string(budget) + " of " + std::to_string(total));
    Open open(GetParam());
    open.Archive->FailWritesAfter(budget, WriteFault::Persistent);
    MemoryStream data(NewData());
    try {
      open.Zip.Entries().AddEntry("new", 0x20, data, 40000);
      ADD_FAILURE() << "the add reported success";
    } catch (const EInOutError& error) {
      ++failures;
      EXPECT_EQ(error.ErrorCode(), io_error::DiskFull);
    }
    ASSERT_TRUE(open.Zip.GetIsZipFile());
    EXPECT_EQ(open.Zip.Entries().Count(), 2);

    open.Archive->Heal();
    MemoryStream later("later");
    open.Zip.Entries().AddEntry("later", 0x20, later, 40000);
    std::vector<RawEntry> expected = Original();
    expected.push_back({"later", "later"});
    ASSERT_EQ(Contents(open.Archive->Bytes()), expected);
  }
  std::cout << "[ faults   ] " << failures << " write faults injected, each reported\n";
}

// One write fails (a transient error) and the stream works again at once: an in-place add puts
// the archive back byte for byte; a rebuilding add leaves an archive the next add repairs.
TEST_P(WriteFaults, AddWithOneFailingWrite) {
  std::uint64_t total = 0;
  const std::string original = StoredArchive(Original());
  {
    Open clean(GetParam());
    MemoryStream data(NewData());
    clean.Zip.Entries().AddEntry("new", 0x20, data, 40000);
    total = clean.Archive->Written();
  }
  for (const std::uint64_t budget : Budgets(total)) {
    SCOPED_TRACE("one write fails after " + std::to_string(budget) + " of " +
                 std::to_string(total));
    Open open(GetParam());
    open.Archive->FailWritesAfter(budget, WriteFault::Once);
    MemoryStream data(NewData());
    EXPECT_THROW(open.Zip.Entries().AddEntry("new", 0x20, data, 40000), EInOutError);
    EXPECT_EQ(open.Zip.Entries().Count(), 2);
    if (GetParam() == TZipSaveMethod::FastSave) {
      EXPECT_EQ(open.Archive->Bytes(), original);
    }
    MemoryStream later("later");
    open.Zip.Entries().AddEntry("later", 0x20, later, 40000);
    std::vector<RawEntry> expected = Original();
    expected.push_back({"later", "later"});
    ASSERT_EQ(Contents(open.Archive->Bytes()), expected);
  }
}

// Removing on a stream whose writes fail after N bytes and keep failing (a broken medium; a
// removal never needs more room): every failure is reported.
TEST_P(WriteFaults, RemoveOnAStreamThatFailsAfterNBytes) {
  const std::string original = StoredArchive(ThreeEntries());
  const std::uint64_t total = RemovalWrites(GetParam(), original);
  for (const std::uint64_t budget : Budgets(total)) {
    SCOPED_TRACE("writes fail after " + std::to_string(budget) + " of " + std::to_string(total));
    Open open(GetParam(), original);
    open.Archive->FailWritesAfter(budget, WriteFault::Persistent);
    EXPECT_THROW(open.Zip.Entries().RemoveEntry(0), EInOutError);
  }
}

// One write of an in-place removal fails and the stream works again at once: the removal is
// reported and the archive is put back byte for byte, with the component describing it again.
// (A rebuilding removal copies its image over the archive; a copy that fails part way is
// reported, but what it overwrote is gone.)
TEST(RemoveInPlaceFaults, OneFailingWriteLeavesTheArchiveAsItWas) {
  const std::string original = StoredArchive(ThreeEntries());
  const std::uint64_t total = RemovalWrites(TZipSaveMethod::FastSave, original);
  for (const std::uint64_t budget : Budgets(total)) {
    SCOPED_TRACE("one write fails after " + std::to_string(budget) + " of " +
                 std::to_string(total));
    Open open(TZipSaveMethod::FastSave, original);
    open.Archive->FailWritesAfter(budget, WriteFault::Once);
    EXPECT_THROW(open.Zip.Entries().RemoveEntry(0), EInOutError);
    ASSERT_EQ(open.Archive->Bytes(), original);
    ASSERT_TRUE(open.Zip.GetIsZipFile());
    EXPECT_EQ(open.Zip.Entries().Count(), 3);
    // And the component goes on from there.
    open.Zip.Entries().RemoveEntry(1);
    std::vector<RawEntry> expected = ThreeEntries();
    expected.erase(expected.begin() + 1);
    ASSERT_EQ(Contents(open.Archive->Bytes()), expected);
  }
}

// The comment is written with a disk that fills after N bytes: reported, never a success.
TEST_P(WriteFaults, CommentOnAStreamThatFailsAfterNBytes) {
  for (std::uint64_t budget = 0; budget < 40; ++budget) {
    Open open(GetParam());
    open.Archive->FailWritesAfter(budget, WriteFault::Persistent);
    EXPECT_THROW(open.Zip.SetComment({"a comment line", "and another"}), EInOutError) << budget;
  }
}

struct SourceCase {
  TZipSaveMethod Method;
  bool TempFiles;
  ReadFault Fault;
};

class SourceReadFaults : public ::testing::TestWithParam<SourceCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceReadFaults,
    ::testing::Values(SourceCase{TZipSaveMethod::FastSave, false, ReadFault::Short},
                      SourceCase{TZipSaveMethod::FastSave, false, ReadFault::Error},
                      SourceCase{TZipSaveMethod::RebuildAll, false, ReadFault::Short},
                      SourceCase{TZipSaveMethod::RebuildAll, true, ReadFault::Error}));

// A source that ends early or whose medium fails after N bytes: the add fails with "Read beyond
// end of file" or the device error, and the archive is exactly as it was.
TEST_P(SourceReadFaults, AddFromASourceThatFailsAfterNBytes) {
  TempDir tmp;
  ScopedTempFolder tmpdir(tmp.Str());
  const SourceCase& param = GetParam();
  const std::string data = RandomBytes(150000, 4);
  const std::string original = StoredArchive(Original());
  std::vector<std::uint64_t> budgets{0, 1, 2, 65535, 65536, 65537, 131072, 149999};
  for (std::uint64_t n = 3; n < data.size(); n += 4999)
    budgets.push_back(n);
  for (const std::uint64_t budget : budgets) {
    SCOPED_TRACE("source fails after " + std::to_string(budget));
    Open open(param.Method);
    open.Zip.SetUseTempFiles(param.TempFiles);
    FaultyStream source(data);
    source.FailReadsAfter(budget, param.Fault);
    try {
      open.Zip.Entries().AddEntry("source", 0x20, source, 40000);
      ADD_FAILURE() << "the add reported success";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode(),
                param.Fault == ReadFault::Short ? io_error::ReadBeyondEnd : io_error::DeviceError);
    }
    EXPECT_EQ(open.Zip.Entries().Count(), 2);
    EXPECT_EQ(open.Archive->Bytes(), original);
    EXPECT_TRUE(fs::is_empty(tmp.Path()));
  }
}

// The archive's own medium fails after N bytes while it is opened: the open raises, or finds no
// archive, or finds the whole directory. It never presents part of the directory as the archive.
TEST(ArchiveReadFaults, OpenNeverPresentsAPartialDirectory) {
  std::vector<RawEntry> entries = Original();
  entries.push_back({"three", "3"});
  const std::string bytes = StoredArchive(entries);
  for (const ReadFault fault : {ReadFault::Short, ReadFault::Error}) {
    for (std::uint64_t budget = 0; budget <= bytes.size() + 200; ++budget) {
      SCOPED_TRACE("reads fail after " + std::to_string(budget) +
                   (fault == ReadFault::Short ? " (short)" : " (error)"));
      auto stream = std::make_unique<FaultyStream>(bytes);
      stream->FailReadsAfter(budget, fault);
      TPellum zip;
      try {
        zip.OpenFromStream(std::move(stream));
      } catch (const std::exception&) {
        continue;
      }
      if (zip.GetIsZipFile()) {
        EXPECT_EQ(zip.Entries().Count(), 3);
      }
    }
  }
}

} // namespace
} // namespace vornel::test
