#include "tests/perf/PerfFixture.h"

#include "app/PackFile.h"
#include "app/PellumSetup.h"
#include "app/ReuseRecord.h"
#include "app/SourceOpen.h"
#include "platform/FileSystem.h"
#include "zip/Pellum.h"

#include <filesystem>
#include <set>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class Reuse : public PerfFixture {
protected:
  std::string RecordPath() const { return Work(ReuseRecordFileName); }

  // Makes the record vouch for the archive's present bytes, as if this program had written
  // them: only the archive's own checks can then turn it down.
  void Vouch(const std::string& archive) const {
    ReuseRecord record = ReuseRecord::Load(RecordPath());
    ASSERT_NE(record.Find(archive), nullptr) << archive;
    const auto digest = DigestFile(Upload(archive));
    ASSERT_TRUE(digest.has_value());
    record.Set(archive, *digest);
    record.Save(RecordPath());
  }

  // A --reuse build after tampering must give what a full build of the tree gives now, and
  // pack exactly the files whose archives could not be kept.
  void ExpectReuseRepacks(std::int32_t repacked) {
    ThreadCheckingView view;
    ASSERT_EQ(BuildInto(Work(), Jobs(3, true), view), BuildOutcome::Done);
    EXPECT_EQ(view.Packed, repacked);
    EXPECT_EQ(view.Reused, TreeFiles - repacked);
    ASSERT_EQ(BuildInto(dir_ / "reference", Jobs(2)), BuildOutcome::Done);
    EXPECT_EQ(TakeSnapshot(Upload()), TakeSnapshot(dir_ / "reference/Upload"));
  }
};

TEST_F(Reuse, TamperedArchivesAndChangedSourcesArePackedAgain) {
  PutTree();
  ASSERT_EQ(BuildInto(Work(), Jobs(2)), BuildOutcome::Done);

  // A changed byte in the deflate data.
  std::string bytes = ReadFile(Upload("bin/app.exe.zip"));
  bytes[30 + 7 + 1000] = static_cast<char>(bytes[30 + 7 + 1000] ^ 0x10);
  WriteFile(Upload("bin/app.exe.zip"), bytes);
  Vouch("bin/app.exe.zip");

  // Another level: the same content, entry and records, other deflate bytes.
  {
    TPellum pellum;
    ConfigurePellum1(pellum);
    pellum.SetCompressionType(TZipCompressionType::ctFast);
    const std::string path = Clean("bin/lib/table.dat");
    const auto source =
        OpenCheckedSource(fs::canonical(path).string(), path, std::filesystem::file_size(path));
    PackOneFile(pellum, *source, path, Upload("bin/lib/table.dat.zip"), "bin/lib/table.dat",
                "table.dat");
  }

  // An extra entry.
  {
    TPellum pellum;
    ConfigurePellum1(pellum);
    pellum.OpenArchive(Upload("readme.txt.zip"));
    pellum.AddFileEntry(Clean("data/deep/er/still/x.cfg"));
    pellum.CloseArchive();
  }
  Vouch("readme.txt.zip");

  // An archive comment (its length is the end record's last field).
  bytes = ReadFile(Upload("many/f05.bin.zip"));
  bytes[bytes.size() - 2] = 5;
  WriteFile(Upload("many/f05.bin.zip"), bytes + "hello");
  Vouch("many/f05.bin.zip");

  // A source with another modification time, content unchanged.
  const auto f07 = fs::last_write_time(Clean("many/f07.bin"));
  fs::last_write_time(Clean("many/f07.bin"),
                      std::chrono::floor<std::chrono::seconds>(f07) - std::chrono::hours(1));

  // A source with other content of the same size and time.
  const auto f08 = fs::last_write_time(Clean("many/f08.bin"));
  std::string content = ReadFile(Clean("many/f08.bin"));
  content[content.size() / 2] = static_cast<char>(content[content.size() / 2] ^ 1);
  WriteFile(Clean("many/f08.bin"), content);
  fs::last_write_time(Clean("many/f08.bin"), f08);

  // A missing archive. The empty files' archives (stored, no data) are kept like any other.
  fs::remove(Upload("many/f09.bin.zip"));

  ExpectReuseRepacks(7);
}

// A --reuse build that keeps every archive and writes the same manifest publishes nothing: the
// live folder stays the very folder it was. One changed source is published as a whole again.
TEST_F(Reuse, UnchangedSetStaysTheLiveFolder) {
  PutTree();
  ASSERT_EQ(BuildInto(Work(), Jobs(2)), BuildOutcome::Done);
  const Snapshot before = TakeSnapshot(Upload());
  const std::string folder = FolderIdentity(Upload());
  ASSERT_EQ(BuildInto(Work(), Jobs(2, true)), BuildOutcome::Done);
  EXPECT_EQ(TakeSnapshot(Upload()), before);
  EXPECT_EQ(FolderIdentity(Upload()), folder);
  EXPECT_FALSE(fs::exists(Work("Upload.staging")));

  WriteFile(Clean("readme.txt"), "changed");
  ASSERT_EQ(BuildInto(Work(), Jobs(2, true)), BuildOutcome::Done);
  EXPECT_NE(TakeSnapshot(Upload()), before);
  ASSERT_EQ(BuildInto(dir_ / "reference", Jobs(2)), BuildOutcome::Done);
  EXPECT_EQ(TakeSnapshot(Upload()), TakeSnapshot(dir_ / "reference/Upload"));
}

TEST_F(Reuse, ArchiveOfAnotherShapeIsNotKept) {
  Put("Teskor.exe", "self");
  Put("a.txt", std::string(5000, 'a'));
  Put("b.txt", "bbbb");
  ASSERT_EQ(BuildInto(Work(), Jobs(2)), BuildOutcome::Done);

  // A gap between the data and the directory: the entry still reads, but the layout is not
  // the one a fresh pack writes.
  std::string bytes = ReadFile(Upload("a.txt.zip"));
  const std::size_t directory = bytes.size() - 22 - 46 - 5;
  bytes.insert(directory, "gap!");
  bytes[bytes.size() - 6] = static_cast<char>(bytes[bytes.size() - 6] + 4); // directory offset
  WriteFile(Upload("a.txt.zip"), bytes);
  Vouch("a.txt.zip");

  // Other attributes: read-only now, which the entry records.
  fs::permissions(Clean("b.txt"), fs::perms::owner_write, fs::perm_options::remove);
  ThreadCheckingView view;
  ASSERT_EQ(BuildInto(Work(), Jobs(2, true), view), BuildOutcome::Done);
  EXPECT_EQ(view.Packed, 2);
  EXPECT_EQ(view.Reused, 1);
  ASSERT_EQ(BuildInto(dir_ / "reference", Jobs(1)), BuildOutcome::Done);
  EXPECT_EQ(TakeSnapshot(Upload()), TakeSnapshot(dir_ / "reference/Upload"));
}

// The record is a cache: missing, damaged or written for another compressor, it only means
// every file is packed again.
TEST_F(Reuse, RecordThatCannotBeTrustedMeansAFullBuild) {
  Put("Teskor.exe", "self");
  Put("x/a.txt", "a");
  ASSERT_EQ(BuildInto(Work(), Jobs(2)), BuildOutcome::Done);
  const Snapshot built = TakeSnapshot(Upload());
  const std::string good = ReadFile(RecordPath());
  ASSERT_EQ(good.rfind(ReuseRecord::Header() + "\n", 0), 0u);

  const std::string header = ReuseRecord::Header();
  for (const std::string& bad :
       {std::string("garbage\n"), "vornel-reuse 1 zlib 0.0 level 9" + good.substr(header.size()),
        good.substr(0, good.size() - 1), header + "\n12 x 3 x/a.txt.zip\n"}) {
    WriteFile(RecordPath(), bad);
    EXPECT_EQ(ReuseRecord::Load(RecordPath()).Size(), 0u) << bad;
    ThreadCheckingView view;
    ASSERT_EQ(BuildInto(Work(), Jobs(2, true), view), BuildOutcome::Done);
    EXPECT_EQ(view.Reused, 0) << bad;
    EXPECT_EQ(TakeSnapshot(Upload()), built);
    EXPECT_EQ(ReadFile(RecordPath()), good); // written anew by the build
  }
  fs::remove(RecordPath());
  ThreadCheckingView view;
  ASSERT_EQ(BuildInto(Work(), Jobs(1, true), view), BuildOutcome::Done);
  EXPECT_EQ(view.Reused, 0);
  EXPECT_EQ(ReadFile(RecordPath()), good);
  // No temporary record is left beside it.
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(Work()))
    names.insert(item.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"Upload", ReuseRecordFileName, "Upload.build"}));
}

// The record lies beside Upload/; with the working folder inside the clean tree it is left out
// of the walk like Upload/ is, so consecutive builds list the same files.
TEST_F(Reuse, RecordInsideTheCleanTreeIsNotPacked) {
  Put("Teskor.exe", "self");
  Put("a.txt", "a");
  const std::string work = Clean("tools/work");
  ASSERT_EQ(BuildInto(work, Jobs(2)), BuildOutcome::Done);
  ASSERT_TRUE(fs::exists(work + "/" + ReuseRecordFileName));
  const std::string first = ReadFile(work + "/Upload/updates.lst");
  ASSERT_EQ(BuildInto(work, Jobs(2, true)), BuildOutcome::Done);
  EXPECT_EQ(ReadFile(work + "/Upload/updates.lst"), first);
  EXPECT_EQ(first.find("reuse"), std::string::npos);
  EXPECT_NE(first.find("fcount=1\r\n"), std::string::npos);
}

// Lines in any order: each archive counts with its last line; a saved record reads back the same.
TEST(ReuseRecordFile, LastLineOfAnArchiveCountsAndSavingKeepsEveryEntry) {
  TempDir dir;
  const std::string path = dir / "record";
  WriteFile(path,
            ReuseRecord::Header() + "\n5 1 1 b/x.zip\n6 2 2 a.zip\n7 3 3 b/x.zip\n8 4 4 a b.zip\n");
  ReuseRecord record = ReuseRecord::Load(path);
  record.Set("c.zip", {9, 5, 5});
  record.Erase("a.zip");
  record.Save(path);
  const ReuseRecord again = ReuseRecord::Load(path);
  const std::vector<std::pair<std::string, std::int64_t>> expected = {
      {"a b.zip", 8}, {"b/x.zip", 7}, {"c.zip", 9}};
  ASSERT_EQ(again.Size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(again.Key(i), expected[i].first);
    ASSERT_NE(again.Find(expected[i].first), nullptr);
    EXPECT_EQ(again.Find(expected[i].first)->Size, expected[i].second);
  }
  EXPECT_EQ(again.Find("a.zip"), nullptr);
}

} // namespace
} // namespace vornel::test
