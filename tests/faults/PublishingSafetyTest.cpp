// What a build keeps and leaves behind: --reuse keeps only archives whose content it compared,
// and temporary files never outlive the operation that made them, whatever the outcome.

#include "tests/faults/FaultSupport.h"

#include "app/ReuseRecord.h"
#include "platform/Errors.h"
#include "tests/support/FaultyStream.h"
#include "zip/Pellum.h"

#include <zlib.h>

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

std::uint32_t Crc(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// Another content of the same length and CRC-32. CRC-32 is linear over GF(2), so the 32 bits
// of four bytes at `at` can be solved for any wanted checksum once another byte has changed.
std::string SameCrcOtherContent(const std::string& original, std::size_t at) {
  std::string bytes = original;
  bytes[0] = static_cast<char>(bytes[0] ^ 1);
  for (std::size_t i = 0; i < 4; ++i)
    bytes[at + i] = 0;
  const std::uint32_t zero = Crc(bytes);
  std::uint32_t basis[32] = {};
  std::uint32_t combination[32] = {};
  for (std::uint32_t bit = 0; bit < 32; ++bit) {
    std::string flipped = bytes;
    flipped[at + bit / 8] = static_cast<char>(1u << (bit % 8));
    std::uint32_t column = Crc(flipped) ^ zero;
    std::uint32_t used = 1u << bit;
    for (int b = 31; b >= 0 && column != 0; --b) {
      if (((column >> b) & 1) == 0)
        continue;
      if (basis[b] == 0) {
        basis[b] = column;
        combination[b] = used;
        break;
      }
      column ^= basis[b];
      used ^= combination[b];
    }
  }
  std::uint32_t wanted = Crc(original) ^ zero;
  std::uint32_t patch = 0;
  for (int b = 31; b >= 0; --b)
    if (((wanted >> b) & 1) != 0) {
      wanted ^= basis[b];
      patch ^= combination[b];
    }
  for (std::size_t i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<char>((patch >> (8 * i)) & 0xFF);
  return bytes;
}

class CountingView : public BuildView {
public:
  void SetProgressMax(std::int32_t) override {}
  void StepProgress(const std::string&) override {}
  void ResetProgress() override {}
  void ShowMessage(const std::string&) override {}
  void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) override {
    Reused = reused;
    Packed = packed;
  }
  std::int32_t Reused = -1;
  std::int32_t Packed = -1;
};

class PublishingSafety : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(Work());
    WriteFile(Clean("Teskor.exe"), "self");
  }
  // No temporary file outlives the case, wherever it was made.
  void TearDown() override {
    for (const auto& item : fs::recursive_directory_iterator(dir_.Path()))
      EXPECT_NE(item.path().extension(), ".tmp") << "left behind: " << item.path();
  }

  std::string Clean(const std::string& relative) const { return dir_ / ("clean/" + relative); }
  std::string Work(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "work" : dir_ / ("work/" + relative);
  }
  // Writes a source with a fixed time, so two contents give archives that differ only there.
  void PutSource(const std::string& relative, const std::string& bytes) const {
    WriteFile(Clean(relative), bytes);
    fs::last_write_time(Clean(relative), fs::last_write_time(Clean("Teskor.exe")));
  }
  BuildOutcome Build(const std::string& work, bool reuse, BuildView& view) {
    BuildOptions options;
    options.Reuse = reuse;
    return packer_.Build(dir_ / "clean", work, view, options);
  }

  TempDir dir_;
  Packer packer_{"Teskor.exe"};
};

TEST_F(PublishingSafety, ReuseRepacksAForgedArchiveWithTheSourcesCrcAndLength) {
  const std::string real = RandomBytes(20000, 7);
  const std::string forged = SameCrcOtherContent(real, 9000);
  ASSERT_NE(forged, real);
  ASSERT_EQ(Crc(forged), Crc(real));

  // The forged content packed by this program, so its archive and record line are genuine.
  PutSource("data/a.bin", forged);
  CountingView first;
  ASSERT_EQ(Build(Work(), false, first), BuildOutcome::Done);
  ASSERT_NE(ReuseRecord::Load(Work(ReuseRecordFileName)).Find("data/a.bin.zip"), nullptr);

  PutSource("data/a.bin", real);
  CountingView view;
  ASSERT_EQ(Build(Work(), true, view), BuildOutcome::Done);
  EXPECT_EQ(view.Packed, 1);
  EXPECT_EQ(view.Reused, 1); // the self file's archive is the same as before

  CountingView reference;
  ASSERT_EQ(Build(dir_ / "reference", false, reference), BuildOutcome::Done);
  EXPECT_TRUE(ReadFile(Work("Upload/data/a.bin.zip")) ==
              ReadFile(dir_ / "reference/Upload/data/a.bin.zip"));
  EXPECT_EQ(CheckListed(Work("Upload"), dir_ / "clean"), "");
}

// A link planted in Upload/ in place of an archive, even one to the genuine bytes, is never kept:
// the players would get whatever the link points at next.
TEST_F(PublishingSafety, ReuseReplacesAnArchiveThatIsALink) {
  SKIP_WITHOUT_SYMLINKS();
  PutSource("data/a.bin", RandomBytes(5000, 3));
  CountingView first;
  ASSERT_EQ(Build(Work(), false, first), BuildOutcome::Done);
  const std::string archive = Work("Upload/data/a.bin.zip");
  const std::string genuine = ReadFile(archive);
  WriteFile(dir_ / "outside/a.bin.zip", genuine);
  fs::remove(archive);
  fs::create_symlink(dir_ / "outside/a.bin.zip", archive);

  CountingView view;
  ASSERT_EQ(Build(Work(), true, view), BuildOutcome::Done);
  EXPECT_EQ(view.Packed, 1);
  EXPECT_FALSE(fs::is_symlink(archive));
  EXPECT_TRUE(ReadFile(archive) == genuine);
  EXPECT_TRUE(ReadFile(dir_ / "outside/a.bin.zip") == genuine);
}

TEST_F(PublishingSafety, AFailedCopyBackKeepsTheRebuiltImageAndSaysWhereItIs) {
  WriteFile(Clean("a.txt"), RandomBytes(30000, 1));
  WriteFile(Clean("b.txt"), RandomBytes(20000, 2));
  const std::string zip = Work("set.zip");
  std::string before;
  {
    TPellum pellum;
    pellum.CreateArchiveFile(zip);
    pellum.OpenArchive(zip);
    pellum.AddFileEntry(Clean("a.txt"));
    pellum.CloseArchive();
    before = ReadFile(zip);
  }
  for (const bool tempFiles : {true, false}) {
    SCOPED_TRACE(tempFiles ? "image in a temporary file" : "image in memory");
    const auto rebuild = [&](std::unique_ptr<Stream> archive) {
      TPellum pellum;
      pellum.SetSaveMethod(TZipSaveMethod::RebuildAll);
      pellum.SetUseTempFiles(tempFiles);
      pellum.SetFileName(zip);
      pellum.OpenFromStream(std::move(archive));
      pellum.AddFileEntry(Clean("b.txt"));
      Stream& result = *pellum.GetArchiveStream();
      result.SetPosition(0);
      return result.ReadString(static_cast<std::size_t>(result.Size()));
    };
    const std::string good = rebuild(std::make_unique<MemoryStream>(before));

    // The archive grows to the image's size, then the copy over it fails half way.
    auto faulty = std::make_unique<FaultyStream>(before);
    faulty->FailWritesAfter(good.size() - before.size() + good.size() / 2);
    std::string message;
    try {
      rebuild(std::move(faulty));
    } catch (const EInOutError& error) {
      message = error.what();
    }
    const std::string start =
        "Disk full. The archive was left incomplete; its rebuilt image is kept in \"";
    ASSERT_EQ(message.rfind(start, 0), 0u) << message;
    const std::string kept = message.substr(start.size(), message.size() - start.size() - 1);
    EXPECT_EQ(fs::path(kept).parent_path(), fs::path(Work()));
    EXPECT_TRUE(ReadFile(kept) == good);
    fs::remove(kept);
  }
}

} // namespace
} // namespace vornel::test
