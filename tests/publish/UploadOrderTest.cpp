#include "tests/publish/PublishFixture.h"

#include "app/ManifestFile.h"

#include <algorithm>
#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class UploadOrder : public PublishFixture {
protected:
  // The next release of the sample: one file changed, one new, one gone.
  void NextRelease() const {
    WriteFile(Clean("data/config.ini"), "[game]\nlevel=2\n");
    WriteFile(Clean("data/maps/second.map"), RandomBytes(5000, 7));
    fs::remove(Clean("readme.txt"));
  }

  // Lines of the manifest in `folder` whose archive is not there: what a player would fail on.
  static std::vector<std::string> LinesWithoutArchive(const std::string& folder) {
    std::vector<std::string> missing;
    for (const ListedArchive& listed : LoadManifest(folder, {}).Archives) {
      if (!fs::is_regular_file(folder + "/" + listed.RelativePath + ".zip"))
        missing.push_back(listed.RelativePath);
    }
    return missing;
  }
};

TEST_F(UploadOrder, DiffNamesWhatPlayersDownload) {
  Build();
  fs::rename(Work("Upload"), Work("Old"));
  NextRelease();
  Build();

  for (const auto& program : Programs()) {
    const std::string where = program.back() + "\n";
    ProcessResult run = Run(program, Words("diff Old Upload"));
    EXPECT_EQ(run.Code, 0) << where << run.Err;
    EXPECT_NE(run.Out.find("changed  data/config.ini.zip  "), std::string::npos)
        << where << run.Out;
    EXPECT_NE(run.Out.find("new      data/maps/second.map.zip  "), std::string::npos)
        << where << run.Out;
    EXPECT_NE(run.Out.find("removed  readme.txt.zip  "), std::string::npos) << where << run.Out;
    EXPECT_NE(
        run.Out.find("\nplayers download 2 archives, 5.1 KiB (1 new, 1 changed, 1 removed)\n"),
        std::string::npos)
        << where << run.Out;

    run = Run(program, Words("diff --json Old/updates.lst Upload"));
    EXPECT_EQ(run.Code, 0) << where << run.Err;
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 4)
        << where << run.Out; // three archives and the summary, a line each
    EXPECT_NE(run.Out.find("{\"type\":\"file\",\"path\":\"data/config.ini.zip\",\"change\":"
                           "\"changed\",\"size\":"),
              std::string::npos)
        << where << run.Out;
    EXPECT_NE(run.Out.find("{\"type\":\"summary\",\"archives\":2,\"bytes\":"), std::string::npos);

    run = Run(program, Words("diff --names-only Old Upload"));
    EXPECT_EQ(run.Out, "data/config.ini.zip\ndata/maps/second.map.zip\nupdates.lst\n");
  }

  // A missing or broken manifest refuses, naming it; nothing is printed on standard output.
  WriteFile(Work("Old/updates.lst"), "[self]\n");
  for (const std::string& old : {std::string("Nowhere"), std::string("Old")}) {
    const ProcessResult run = Vornel(Command("diff --names-only", {old, "Upload"}));
    EXPECT_EQ(run.Code, 1) << old;
    EXPECT_EQ(run.Out, "") << old;
    EXPECT_EQ(run.Err.rfind(old, 0), 0u) << run.Err;
  }
}

// Archives first, the manifest after them, stale archives last, each step by rsync as README
// shows: at no point does the served manifest list an archive the server lacks.
TEST_F(UploadOrder, RsyncInTheSafeOrder) {
  SKIP_WITHOUT_PROGRAMS("rsync");
  Build();
  const std::string served = Work("served");
  ASSERT_EQ(RunProcess({"rsync", "-a", Work("Upload/"), served + "/"}).Code, 0);
  NextRelease();
  Build();

  const ProcessResult names = Vornel(Command("diff --names-only", {served, "Upload"}));
  ASSERT_EQ(names.Code, 0) << names.Err;
  std::string archives;
  for (const std::string& name : Words(names.Out)) {
    if (name != "updates.lst")
      archives += name + "\n";
  }
  WriteFile(Work("archives.txt"), archives);

  const std::vector<std::vector<std::string>> steps = {
      {"rsync", "-a", "--files-from=archives.txt", "Upload/", served + "/"},
      {"rsync", "-a", "Upload/updates.lst", served + "/"},
      {"rsync", "-r", "--delete", "--existing", "--ignore-existing", "--include=*/",
       "--include=*.zip", "--exclude=*", "Upload/", served + "/"}};
  for (const auto& step : steps) {
    const ProcessResult run = RunProcess(step, {.WorkDir = Work()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(LinesWithoutArchive(served), std::vector<std::string>{}) << step[2];
  }
  // The stale archive went last; the server now holds exactly the new set.
  EXPECT_FALSE(fs::exists(served + "/readme.txt.zip"));
  ProcessResult run = Vornel(Command("verify --strict", {served}));
  EXPECT_EQ(run.Code, 0) << run.Out;
  run = Vornel(Command("diff", {served, "Upload"}));
  EXPECT_EQ(run.Out, "players download 0 archives, 0 bytes (0 new, 0 changed, 0 removed)\n");
}

} // namespace
} // namespace vornel::test
