// The stronger compressors: every archive they write is one that verify, unzip and Python's
// zipfile accept; the reuse record knows which compressor wrote an archive.

#include "tests/support/TestSupport.h"
#include "tests/support/VornelRun.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class Compressors : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(dir_ / "work");
    fs::copy(VORNEL_SAMPLE_TREE, dir_ / "clean", fs::copy_options::recursive);
    // Beside the sample: data that do not compress, text that does (over one 64 KiB block of
    // deflate output either way) and an empty file.
    WriteFile(dir_ / "clean/data/noise.bin", RandomBytes(150000, 7));
    std::string text;
    for (int i = 0; text.size() < 300000; ++i)
      text += "line " + std::to_string(i * 7919 % 1000) + " of the client's locale file\n";
    WriteFile(dir_ / "clean/data/locale.txt", text);
    WriteFile(dir_ / "clean/data/empty.cfg", "");
  }

  ProcessResult Vornel(const std::vector<std::string>& arguments) const {
    return RunVornel(dir_ / "work", arguments);
  }
  // "vornel build OPTIONS CLEAN" with the options given as words.
  ProcessResult Build(const std::string& options) const {
    return Vornel(Command("build " + options, {Clean()}));
  }

  // True when this vornel was built with the compressor.
  bool BuiltIn(const std::string& name) const {
    const ProcessResult help = Vornel(Words("build --help"));
    const std::string list = help.Out.substr(help.Out.find("built in here:"));
    return list.substr(0, list.find(')')).find(name) != std::string::npos;
  }

  std::string Clean() const { return dir_ / "clean"; }

  TempDir dir_;
};

TEST_F(Compressors, EveryOutputPassesVerifyAndThePeers) {
  const struct {
    std::string Options;
    std::string Name;
  } cases[] = {
      {"--compressor zlib --level 1", "zlib"},
      {"--level 0", "zlib"},
      {"--compressor libdeflate --level 1", "libdeflate"},
      {"--compressor libdeflate --level 9", "libdeflate"},
      {"--compressor libdeflate", "libdeflate"}, // level 12
      {"--compressor zopfli --level 2", "zopfli"},
  };
  const bool python = HaveProgram("python3");
  for (const auto& item : cases) {
    SCOPED_TRACE(item.Options);
    if (!BuiltIn(item.Name))
      continue;
    fs::remove_all(dir_ / "work/Upload");
    const ProcessResult run = Build("--jobs 2 " + item.Options);
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(Vornel({"verify"}).Out, "verified 8 archives: all good\n");
    if (python) {
      const ProcessResult checked =
          RunProcess({"python3", VORNEL_CHECK_UPLOAD, Clean(), dir_ / "work/Upload"});
      EXPECT_EQ(checked.Code, 0) << checked.Out;
    }
  }
}

TEST_F(Compressors, ReuseKeepsOnlyWhatTheSameCompressorWrote) {
  if (!BuiltIn("libdeflate"))
    GTEST_SKIP() << "libdeflate is not built in";
  const std::string reuse = "--reuse";
  ASSERT_EQ(Build(reuse).Code, 0);
  const std::string zlibArchive = ReadFile(dir_ / "work/Upload/data/locale.txt.zip");

  // The settings file chooses as the command line does; a change of level packs everything.
  WriteFile(dir_ / "work/settings.ini", "[main]\nCompressor=libdeflate\nLevel=6\n");
  EXPECT_NE(Build(reuse + " --dry-run").Out.find("dry run: 8 archives to pack"), std::string::npos);
  ProcessResult run = Build(reuse);
  EXPECT_EQ(run.Err, "reused 0 archives, packed 8\n");
  const std::string level6 = ReadFile(dir_ / "work/Upload/data/locale.txt.zip");
  EXPECT_NE(level6, zlibArchive);
  run = Build(reuse);
  EXPECT_EQ(run.Err, "reused 8 archives, packed 0\n");
  EXPECT_EQ(ReadFile(dir_ / "work/Upload/data/locale.txt.zip"), level6);

  // The command line wins over the file, and its level goes with the file's compressor.
  run = Build(reuse + " --level 12");
  EXPECT_EQ(run.Err, "reused 0 archives, packed 8\n");
  EXPECT_EQ(Build(reuse + " --compressor zlib").Err, "reused 0 archives, packed 8\n");
  EXPECT_EQ(ReadFile(dir_ / "work/Upload/data/locale.txt.zip"), zlibArchive);
}

TEST_F(Compressors, BadChoicesAreOneLineRefusals) {
  const struct {
    std::string Options;
    std::string Settings;
    std::string Error;
  } cases[] = {
      {"--compressor lzma", "",
       "Unknown compressor \"lzma\"; the compressors are zlib, libdeflate and zopfli\n"},
      {"--level 10", "",
       "The level \"10\" does not suit zlib; it takes 0 to 9 or none, superfast, fast, normal, "
       "maximum\n"},
      {"--compressor zlib --level 9x", "",
       "The level \"9x\" does not suit zlib; it takes 0 to 9 or none, superfast, fast, normal, "
       "maximum\n"},
      {"", "Compressor=zlib\nLevel=-1\n",
       "The level \"-1\" does not suit zlib; it takes 0 to 9 or none, superfast, fast, normal, "
       "maximum (settings.ini, section \"main\")\n"},
      {"", "Compressor=gzip\n",
       "Unknown compressor \"gzip\"; the compressors are zlib, libdeflate and zopfli "
       "(settings.ini, "
       "section \"main\")\n"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.Options + item.Settings);
    WriteFile(dir_ / "work/settings.ini", "[main]\n" + item.Settings);
    const ProcessResult run = Build(item.Options);
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Err, item.Error);
    EXPECT_FALSE(fs::exists(dir_ / "work/Upload")); // refused before anything was written
  }
  if (!BuiltIn("libdeflate"))
    EXPECT_NE(Build("--compressor libdeflate").Err.find("is not built into"), std::string::npos);
  else
    EXPECT_EQ(Build("--compressor libdeflate --level 0").Err,
              "The level \"0\" does not suit libdeflate; it takes 1 to 12 or none, superfast, "
              "fast, normal, maximum\n");
}

} // namespace
} // namespace vornel::test
