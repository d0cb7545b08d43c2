// The format's limits: sources of 2 GiB and more, archives that would reach 2 GiB, more than
// 65,535 entries and names over 65,535 bytes are refused before the archive is written to, with
// an error that names the file.

#include "tests/faults/FaultSupport.h"

#include "platform/Errors.h"
#include "tests/support/FaultyStream.h"
#include "zip/Pellum.h"

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t TwoGiB = std::int64_t{1} << 31;
constexpr std::int64_t FourGiB = std::int64_t{1} << 32;

// The component on a stream it cannot write without the test seeing it.
struct OpenArchive {
  explicit OpenArchive(const std::string& bytes, TZipSaveMethod method) {
    auto stream = std::make_unique<FaultyStream>(bytes);
    Archive = stream.get();
    Zip.SetSaveMethod(method);
    Zip.SetStoreRelativePath(true);
    Zip.SetStoreFolders(false);
    Zip.OpenFromStream(std::move(stream));
  }
  TPellum Zip;
  FaultyStream* Archive;
};

class Limits : public ::testing::TestWithParam<TZipSaveMethod> {};

INSTANTIATE_TEST_SUITE_P(SaveMethods, Limits,
                         ::testing::Values(TZipSaveMethod::FastSave, TZipSaveMethod::RebuildAll));

TEST_P(Limits, SourcesOf2GiBAndMoreAreRefusedUnread) {
  for (const std::int64_t size : {TwoGiB, FourGiB + 5}) {
    SCOPED_TRACE(size);
    OpenArchive open(StoredArchive({{"kept", "k"}}), GetParam());
    ASSERT_TRUE(open.Zip.GetIsZipFile());
    const std::string before = open.Archive->Bytes();
    ZeroSource huge(size);
    try {
      open.Zip.Entries().AddEntry("dir\\huge.bin", 0x20, huge, 40000);
      ADD_FAILURE() << "a source of " << size << " bytes was added";
    } catch (const EPellumError& error) {
      EXPECT_NE(std::string(error.what()).find("huge.bin"), std::string::npos) << error.what();
    }
    EXPECT_EQ(huge.ReadCount(), 0u);
    EXPECT_EQ(open.Archive->Written(), 0u);
    EXPECT_EQ(open.Archive->Bytes(), before);
    EXPECT_EQ(open.Zip.Entries().Count(), 1);
  }
}

// An archive just below 2 GiB (a sparse file): a small add that would carry it past the limit is
// refused and the file is not touched.
TEST_P(Limits, AnAddThatWouldMakeTheArchive2GiBIsRefused) {
  TempDir dir;
  const std::string path = dir / "big.zip";
  if (!MakeSparseFile(path, TwoGiB - 100))
    GTEST_SKIP() << "no sparse files here";
  {
    FileStream file(path, FileStream::Mode::OpenReadWrite);
    std::string end(22, '\0');
    Put32(end, 0, 0x06054b50);
    Put32(end, 16, static_cast<std::uint32_t>(TwoGiB - 100 - 22)); // the empty directory
    file.SetPosition(TwoGiB - 100 - 22);
    file.WriteString(end);
  }
  TPellum zip;
  zip.SetSaveMethod(GetParam());
  zip.OpenArchive(path);
  ASSERT_TRUE(zip.GetIsZipFile());
  MemoryStream data(RandomBytes(200, 1));
  try {
    zip.Entries().AddEntry("small.bin", 0x20, data, 40000);
    ADD_FAILURE() << "the archive grew past 2 GiB";
  } catch (const EPellumError& error) {
    EXPECT_NE(std::string(error.what()).find("small.bin"), std::string::npos) << error.what();
  }
  zip.CloseArchive();
  EXPECT_EQ(fs::file_size(path), static_cast<std::uintmax_t>(TwoGiB - 100));
}

// 65,534 entries take one more; the 65,536th is refused (the end record counts in 16 bits).
TEST_P(Limits, MoreThan65535EntriesAreRefused) {
  std::vector<RawEntry> entries;
  for (int i = 0; i < 65534; ++i)
    entries.push_back({"e" + std::to_string(i), ""});
  OpenArchive open(StoredArchive(entries), GetParam());
  ASSERT_EQ(open.Zip.Entries().Count(), 65534);

  MemoryStream last("last");
  open.Zip.Entries().AddEntry("last", 0x20, last, 40000);
  ASSERT_EQ(open.Zip.Entries().Count(), 65535);
  const std::string full = open.Archive->Bytes();
  const std::uint64_t written = open.Archive->Written();

  MemoryStream more("more");
  try {
    open.Zip.Entries().AddEntry("one-too-many", 0x20, more, 40000);
    ADD_FAILURE() << "a 65,536th entry was added";
  } catch (const EPellumError& error) {
    EXPECT_NE(std::string(error.what()).find("one-too-many"), std::string::npos) << error.what();
  }
  EXPECT_EQ(open.Archive->Written(), written);
  EXPECT_EQ(open.Archive->Bytes(), full);

  // Replacing an entry keeps the count, so it is still allowed.
  MemoryStream again("again");
  open.Zip.Entries().AddEntry("E7", 0x20, again, 40000);
  TPellum reopened;
  reopened.OpenFromStream(std::make_unique<MemoryStream>(open.Archive->Bytes()));
  EXPECT_EQ(reopened.Entries().Count(), 65535);
  EXPECT_EQ(reopened.Entries()[65534].CentralHeader.FileName, "E7");
}

TEST_P(Limits, NamesOver65535BytesAreRefused) {
  OpenArchive open(StoredArchive({{"kept", "k"}}), GetParam());
  const std::string longest = std::string(65534, 'n') + "1";
  const std::string tooLong = std::string(65535, 'n') + "2";

  MemoryStream data("x");
  try {
    open.Zip.Entries().AddEntry(tooLong, 0x20, data, 40000);
    ADD_FAILURE() << "a name of 65,536 bytes was stored";
  } catch (const EPellumError& error) {
    EXPECT_NE(std::string(error.what()).find("nnnn2"), std::string::npos);
  }
  EXPECT_EQ(open.Archive->Written(), 0u);

  // A path whose bare name fits is stored as its bare name when paths are not kept.
  open.Zip.SetStoreRelativePath(false);
  data.SetPosition(0);
  open.Zip.Entries().AddEntry(std::string(70000, 'd') + "/short", 0x20, data, 40000);
  EXPECT_EQ(open.Zip.Entries()[1].CentralHeader.FileName, "short");

  open.Zip.SetStoreRelativePath(true);
  data.SetPosition(0);
  open.Zip.Entries().AddEntry(longest, 0x20, data, 40000);
  TPellum reopened;
  reopened.OpenFromStream(std::make_unique<MemoryStream>(open.Archive->Bytes()));
  ASSERT_EQ(reopened.Entries().Count(), 3);
  EXPECT_EQ(reopened.Entries()[2].CentralHeader.FileName, longest);
}

// A clean tree with sparse files of 2 GiB and 4 GiB + 5 bytes (which would wrap to 5 in 32
// bits): the build is refused naming it, before anything is written or read.
class HugeSource : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(Jobs, HugeSource, ::testing::Values(1, 2));

TEST_P(HugeSource, BuildRefusesIt) {
  for (const std::int64_t size : {TwoGiB, FourGiB + 5}) {
    SCOPED_TRACE(size);
    TempDir dir;
    WriteFile(dir / "clean/Teskor.exe", "self");
    WriteFile(dir / "clean/a.txt", "a");
    fs::create_directories(dir / "clean/big");
    if (!MakeSparseFile(dir / "clean/big/huge.bin", size))
      GTEST_SKIP() << "no sparse files here";
    fs::create_directories(dir / "work");
    Packer packer("Teskor.exe");
    HookedView view;
    BuildOptions options;
    options.Jobs = GetParam();
    EXPECT_EQ(packer.Build(dir / "clean", dir / "work", view, options), BuildOutcome::Refused);
    ASSERT_EQ(view.Messages.size(), 1u);
    EXPECT_EQ(view.Messages[0].rfind("\"big/huge.bin\": the file is too large to pack", 0), 0u)
        << view.Messages[0];
    EXPECT_TRUE(fs::is_empty(dir / "work"));
  }
}

} // namespace
} // namespace vornel::test
