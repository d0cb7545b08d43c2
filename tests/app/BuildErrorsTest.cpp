#include "tests/app/BuildFixture.h"

#include "app/PackFile.h"
#include "app/SourceOpen.h"
#include "platform/Errors.h"
#include "zip/Pellum.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

// A failing file stops the build there: nothing is published, and the failing file's archive is
// not even left aside.
class BuildErrors : public BuildFixture {
protected:
  void SetUp() override {
    BuildFixture::SetUp();
    Put("Teskor.exe", "self");
    Put("a.txt", "first");
  }

  // Runs the build expecting an error of type E whose message contains fragment.
  template <typename E> void ExpectError(const std::string& fragment) {
    try {
      BuildFixture::Build();
      ADD_FAILURE() << "no error";
    } catch (const E& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
    EXPECT_EQ(packer_.FileNumber, 1);
    EXPECT_EQ(packer_.FileCount, 0);
  }

  void ExpectNothingPublished(const std::string& failed) {
    EXPECT_FALSE(fs::exists(Upload()));
    EXPECT_TRUE(fs::exists(Staging("a.txt.zip")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Staging(failed + ".zip"))));
  }
};

TEST_F(BuildErrors, FileChangingWhilePackedIsNotListed) {
  // A /proc file reports a size of 0 but reads as text: the checksummed content and the packed
  // content cannot agree, just as with a file written to during the build.
  if (!fs::exists("/proc/self/status"))
    GTEST_SKIP() << "no /proc";
  SKIP_WITHOUT_SYMLINKS();
  fs::create_symlink("/proc/self/status", Clean("b.status"));
  WriteFile(Work("settings.ini"), "[main]\nFollowLinks=1\n");
  // Whichever notices first, the component or the build, names the file.
  ExpectError<std::runtime_error>("b.status\"");
  ExpectNothingPublished("b.status");
}

TEST_F(BuildErrors, ArchiveIsRenamedOverWhatLiesAtItsName) {
  // A link planted at an archive's name is replaced, never written through (every write to
  // /dev/full would fail).
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "/dev/full is missing";
  Put("b.txt", "second");
  fs::create_directories(Upload());
  fs::create_symlink("/dev/full", Upload("b.txt.zip"));
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Upload("b.txt.zip"))));
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// A file in Upload/ where the tree has a folder is the operator's: the build refuses rather than
// drop it.
TEST_F(BuildErrors, FileWhereTheMirrorNeedsAFolderRefusesTheBuild) {
  Put("sub/b.txt");
  WriteFile(Upload("sub"), "a file where the folder belongs");
  EXPECT_EQ(BuildFixture::Build(), BuildOutcome::Refused);
  EXPECT_NE(view_.Calls.at(0).find(Upload("sub") + "\" is a file"), std::string::npos)
      << view_.Calls.at(0);
  EXPECT_EQ(ReadFile(Upload("sub")), "a file where the folder belongs");
  EXPECT_FALSE(fs::exists(Upload("updates.lst")));
}

TEST(PackOneFile, ReturnsTheManifestData) {
  TempDir dir;
  WriteFile(dir / "src/x.bin", "123456789");
  TPellum pellum;
  pellum.SetStoreRelativePath(false);
  pellum.SetStoreFolders(false);
  const auto source = OpenCheckedSource(fs::canonical(dir / "src/x.bin").string(), "src/x.bin", 9);
  const PackedFile packed =
      PackOneFile(pellum, *source, dir / "src/x.bin", dir / "x.bin.zip", "src/x.bin", "x.bin");
  EXPECT_EQ(packed.RelativePath, "src/x.bin");
  EXPECT_EQ(packed.Crc, 0xCBF43926u);
  EXPECT_EQ(packed.ArchiveSize, static_cast<std::int32_t>(fs::file_size(dir / "x.bin.zip")));
  EXPECT_FALSE(pellum.GetIsZipFile()); // closed again
}

// A file rewritten in place (same size) after it was opened, as it is read: packing it would give
// an archive of old bytes here and new ones there. Small files (packed in memory) and large ones
// (streamed) alike stop the build, and nothing is left at the archive's name.
TEST(PackOneFile, SourceRewrittenInPlaceIsNotPacked) {
  for (const std::size_t size : {std::size_t{5000}, std::size_t{2} * 1024 * 1024}) {
    SCOPED_TRACE(size);
    TempDir dir;
    WriteFile(dir / "src/x.bin", RandomBytes(size, 3));
    // Times come from a coarse clock: let it move on before the rewrite.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    TPellum pellum;
    pellum.SetStoreRelativePath(false);
    pellum.SetStoreFolders(false);
    const auto source =
        OpenCheckedSource(fs::canonical(FsPath(dir / "src/x.bin")).string(), "src/x.bin", size);
    {
      std::fstream rewrite(FsPath(dir / "src/x.bin"),
                           std::ios::in | std::ios::out | std::ios::binary);
      rewrite.seekp(static_cast<std::streamoff>(size / 2));
      rewrite.write("changed", 7);
    }
    EXPECT_THROW(
        PackOneFile(pellum, *source, dir / "src/x.bin", dir / "x.bin.zip", "src/x.bin", "x.bin"),
        EFileChanged);
    EXPECT_FALSE(fs::exists(FsPath(dir / "x.bin.zip")));
  }
}

} // namespace
} // namespace vornel::test
