// Adding many files at once: the same archive as adding them one by one, an archive that reads
// as before or as after wherever the add is cut short, and the archive as it was after a failure.

#include "tests/support/FaultyStream.h"
#include "tests/support/TestSupport.h"
#include "tests/zipadd/ZipAddSupport.h"
#include "zip/Pellum.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vornel::test {
namespace {

// A memory stream that keeps the bytes as they stand after every write and resize: each is what
// a process killed right then would leave behind.
class RecordingStream final : public Stream {
public:
  explicit RecordingStream(std::string bytes, std::vector<std::string>& states)
      : data_(std::move(bytes)), states_(states) {}
  std::size_t Read(void* buffer, std::size_t count) override { return data_.Read(buffer, count); }
  void Write(const void* buffer, std::size_t count) override {
    data_.Write(buffer, count);
    states_.push_back(data_.Bytes());
  }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    return data_.Seek(offset, origin);
  }
  std::int64_t Size() override { return data_.Size(); }
  void SetSize(std::int64_t size) override {
    data_.SetSize(size);
    states_.push_back(data_.Bytes());
  }

private:
  MemoryStream data_;
  std::vector<std::string>& states_;
};

std::vector<std::string> Names(TPellum& zip) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < zip.Entries().Count(); ++i)
    names.push_back(zip.Entries()[i].CentralHeader.FileName);
  return names;
}

std::vector<std::string> NamesOf(const std::string& bytes) {
  TPellum zip;
  zip.OpenFromStream(std::make_unique<MemoryStream>(bytes));
  return zip.GetIsZipFile() ? Names(zip) : std::vector<std::string>{"(no archive)"};
}

class BatchAdd : public ::testing::Test {
protected:
  void SetUp() override {
    WriteFile(dir / "a.txt", "alpha\n");
    WriteFile(dir / "sub/b.bin", RandomBytes(3000, 4));
    WriteFile(dir / "big.bin", TextBytes(1500000, 5)); // packed straight into the archive
    WriteFile(dir / "other/A.TXT", "replacement\n");
    WriteFile(dir / "empty", "");
  }
  // An archive holding old.txt and a.txt, with a comment.
  std::string Start() {
    TPellum zip;
    MemoryStream empty;
    zip.WriteEmptyArchive(empty);
    zip.OpenFromStream(std::make_unique<MemoryStream>(empty.Bytes()));
    for (const char* name : {"old.txt", "a.txt"}) {
      MemoryStream data(std::string(name) + " before\n");
      zip.Entries().AddEntry(name, 0x20, data, 45000);
    }
    zip.SetComment({"kept"});
    return ArchiveBytesOf(zip);
  }
  static std::string ArchiveBytesOf(TPellum& zip) {
    Stream& stream = *zip.GetArchiveStream();
    stream.SetPosition(0);
    return stream.ReadString(static_cast<std::size_t>(stream.Size()));
  }
  std::vector<TBatchFile> Files(std::initializer_list<const char*> paths) {
    std::vector<TBatchFile> files;
    for (const char* path : paths)
      files.push_back({dir / path, path});
    return files;
  }
  TempDir dir;
};

TEST_F(BatchAdd, GivesTheArchiveThatAddingOneByOneGives) {
  // a.txt replaces the entry of the archive, other/A.TXT then replaces it again in the batch.
  const auto files = Files({"a.txt", "sub/b.bin", "empty", "big.bin", "other/A.TXT"});
  for (const bool relative : {false, true}) {
    TPellum single;
    TPellum batch;
    for (TPellum* zip : {&single, &batch}) {
      zip->OpenFromStream(std::make_unique<MemoryStream>(Start()));
      zip->SetStoreRelativePath(relative);
      zip->SetStoreFolders(false);
    }
    for (const TBatchFile& file : files)
      ASSERT_NE(single.Entries().AddFileAs(file.Path, file.EntryName), nullptr);
    batch.Entries().AddFiles(files);
    EXPECT_TRUE(ArchiveBytesOf(batch) == ArchiveBytesOf(single)) << "relative " << relative;
    EXPECT_EQ(Names(batch), NamesOf(ArchiveBytesOf(batch)));
  }
  // Folder entries come before the first file inside them, once; a file given twice ends up
  // last, as its second add replaces the first.
  TPellum zip;
  zip.OpenFromStream(std::make_unique<MemoryStream>(Start()));
  zip.Entries().AddFiles(Files({"sub/b.bin", "other/A.TXT", "sub/b.bin"}));
  EXPECT_EQ(Names(zip), (std::vector<std::string>{"old.txt", "a.txt", "sub/", "other/",
                                                  "other/A.TXT", "sub/b.bin"}));
}

TEST_F(BatchAdd, CutShortAnywhereReadsAsBeforeOrAsAfter) {
  const std::string before = Start();
  std::vector<std::string> states;
  TPellum zip;
  zip.OpenFromStream(std::make_unique<RecordingStream>(before, states));
  zip.Entries().AddFiles(Files({"sub/b.bin", "big.bin", "empty"}));
  const std::vector<std::string> old = NamesOf(before);
  const std::vector<std::string> all = Names(zip);
  ASSERT_EQ(all.size(), old.size() + 4); // the folder sub/ too
  ASSERT_GE(states.size(), 4u);
  for (std::size_t i = 0; i < states.size(); ++i) {
    const std::vector<std::string> names = NamesOf(states[i]);
    EXPECT_TRUE(names == old || names == all) << "state " << i << " of " << states.size();
  }
  EXPECT_EQ(states.back().size(), ArchiveBytesOf(zip).size());
  WriteFile(dir / "after.zip", states.back());
  ExpectPeersAccept(dir / "after.zip", true);
}

// Rebuilding, the whole batch (new files and a replaced one) is one new image of the archive.
TEST_F(BatchAdd, RebuildingWritesTheArchiveOnce) {
  TPellum zip;
  zip.OpenFromStream(std::make_unique<MemoryStream>(Start()));
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  int images = 0;
  zip.OnRebuildZip = [&](TPellum&, std::int32_t current, std::int32_t) {
    images += current == 100;
  };
  zip.Entries().AddFiles(Files({"sub/b.bin", "big.bin", "empty", "a.txt"}));
  EXPECT_EQ(images, 1);
  EXPECT_EQ(Names(zip), NamesOf(ArchiveBytesOf(zip)));
}

TEST_F(BatchAdd, AFailingWriteLeavesTheArchiveAsItWas) {
  const std::string before = Start();
  const auto files = Files({"sub/b.bin", "big.bin", "empty"});
  std::uint64_t written = 0;
  {
    auto stream = std::make_unique<FaultyStream>(before);
    FaultyStream& counted = *stream;
    TPellum zip;
    zip.OpenFromStream(std::move(stream));
    zip.Entries().AddFiles(files);
    written = counted.Written();
  }
  for (const std::uint64_t budget : {std::uint64_t{0}, written / 4, written / 2, written - 1}) {
    auto stream = std::make_unique<FaultyStream>(before);
    FaultyStream& faulty = *stream;
    TPellum zip;
    zip.OpenFromStream(std::move(stream));
    faulty.FailWritesAfter(budget, FaultyStream::WriteFault::Once);
    EXPECT_ANY_THROW(zip.Entries().AddFiles(files)) << budget;
    EXPECT_TRUE(faulty.Bytes() == before) << budget;
    EXPECT_EQ(Names(zip), NamesOf(before));
  }
}

} // namespace
} // namespace vornel::test
