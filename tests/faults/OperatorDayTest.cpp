// What an operator does between patches: verify a set against the tree, clear out stale archives,
// feed a pipeline with JSON events, and the command line's small conveniences.

#include "tests/faults/FaultSupport.h"

#include <filesystem>
#include <functional>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class OperatorDay : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveVornel())
      GTEST_SKIP() << "vornel was not built";
    fs::create_directories(Work());
    fs::copy(VORNEL_SAMPLE_TREE, Clean(), fs::copy_options::recursive);
  }
  std::string Clean(const std::string& relative = "") const { return dir_ / ("clean/" + relative); }
  std::string Work() const { return dir_ / "work"; }
  std::string Upload(const std::string& relative = "") const {
    return dir_ / ("work/Upload/" + relative);
  }
  ProcessResult Vornel(const std::vector<std::string>& arguments) const {
    return RunVornel(Work(), arguments);
  }
  ProcessResult Build(const std::string& options = "") const {
    return Vornel(Command("build " + options, {Clean()}));
  }
  void Edit(const std::string& path, const std::string& from, const std::string& to) const {
    std::string text = ReadFile(path);
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    WriteFile(path, text.replace(at, from.size(), to));
  }

  TempDir dir_;
};

TEST_F(OperatorDay, VerifyFindsStoppedEditedAndStaleSets) {
  struct Case {
    const char* What;
    std::function<void()> Change;
    std::string Options;
    int Code;
    std::string Finding;
  };
  const std::string manifest = Upload("updates.lst");
  const std::vector<Case> cases = {
      {"sound", [] {}, "--strict --against ../clean", 0, "verified 5 archives: all good\n"},
      {"stopped",
       [&] { Edit(manifest, ReadFile(manifest).substr(ReadFile(manifest).find("F3=")), ""); }, "",
       1,
       "updates.lst line 7: fcount=4 but 2 F lines follow: the manifest was cut short, or the "
       "build that wrote it stopped before the end"},
      {"fcount edited", [&] { Edit(manifest, "fcount=4", "fcount=9"); }, "--against ../clean", 1,
       "fcount=9 but 4 F lines follow"},
      {"numbering", [&] { Edit(manifest, "F2=", "F7="); }, "", 1, "F2 was expected here, not F7"},
      {"stale", [&] { WriteFile(Upload("old/gone.dll.zip"), ReadFile(Upload("readme.txt.zip"))); },
       "", 0, "old/gone.dll.zip: no line of updates.lst lists it"},
      {"stale, strict",
       [&] { WriteFile(Upload("old/gone.dll.zip"), ReadFile(Upload("readme.txt.zip"))); },
       "--strict", 1, "all good; 1 archive not listed"},
      {"edited", [&] { WriteFile(Clean("readme.txt"), "patched"); }, "--against ../clean", 1,
       "readme.txt: changed since the build\n"},
      {"deleted", [&] { fs::remove(Clean("data/config.ini")); }, "--against ../clean", 1,
       "data/config.ini: listed, but no longer in the clean folder\n"},
      {"new", [&] { WriteFile(Clean("data/new.txt"), "new"); }, "--against ../clean", 1,
       "data/new.txt: in the clean folder, but not listed\n"},
      // A file named like the self file in a subfolder is counted, never listed: the tree or
      // the build's own record tells that from a stopped build.
      {"namesake, tree known",
       [&] {
         WriteFile(Clean("data/Teskor.exe"), "twin");
         ASSERT_EQ(Build().Code, 0);
       },
       "--against ../clean", 0, "all good"},
      {"namesake, tree unknown",
       [&] {
         WriteFile(Clean("data/Teskor.exe"), "twin");
         ASSERT_EQ(Build().Code, 0);
       },
       "", 0, "all good"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.What);
    fs::remove_all(Upload());
    fs::remove_all(Clean());
    fs::copy(VORNEL_SAMPLE_TREE, Clean(), fs::copy_options::recursive);
    ASSERT_EQ(Build().Code, 0);
    test.Change();
    const ProcessResult run = Vornel(Words("verify " + test.Options));
    EXPECT_EQ(run.Code, test.Code) << run.Out << run.Err;
    EXPECT_NE(run.Out.find(test.Finding), std::string::npos) << run.Out << run.Err;
  }
}

TEST_F(OperatorDay, PruneRemovesOnlyStaleArchivesAndEmptiedFolders) {
  ASSERT_EQ(Build().Code, 0);
  const std::string archive = ReadFile(Upload("readme.txt.zip"));
  WriteFile(Upload("old/gone.dll.zip"), archive);
  WriteFile(Upload("old/deep/gone.map.zip"), archive);
  WriteFile(Upload("old/notes.txt"), "the operator's own file");
  WriteFile(Upload("data/old.ini.zip.bak"), "not an archive's name");
  fs::create_directories(Upload("empty"));
  WriteFile(dir_ / "outside/kept.zip", archive);
  // Links in Upload/ go, but never what they point to (where links can be made).
  const bool links = CanMakeSymlinks();
  if (links) {
    fs::create_symlink(dir_ / "outside/kept.zip", Upload("link.zip"));
    fs::create_directory_symlink(dir_ / "outside", Upload("elsewhere"));
  }
  const std::string archives = links ? "3 archives" : "2 archives";

  // A refused build prunes nothing, and a plain build only tells.
  WriteFile(Work() + "/settings.ini", "[main]\nCustomName=Nope.exe\n");
  EXPECT_EQ(Build("--prune").Code, 1);
  fs::remove(Work() + "/settings.ini");
  const std::set<std::string> planted = FilesBelow(Upload());
  // Where folders cannot be swapped at once (Windows), every build says so first.
  const auto withoutSwapNote = [](ProcessResult run) {
    if (run.Err.starts_with("warning: the new archives were put in place one by one"))
      run.Err.erase(0, run.Err.find('\n') + 1);
    return run;
  };
  ProcessResult run = withoutSwapNote(Build());
  EXPECT_EQ(run.Code, 0);
  EXPECT_EQ(run.Err, "Upload/ holds " + archives +
                         " and 3 folders that this build did not produce "
                         "(files deleted from the clean folder); --prune removes them\n");
  EXPECT_EQ(FilesBelow(Upload()), planted);

  run = withoutSwapNote(Build("--prune"));
  EXPECT_EQ(run.Code, 0);
  EXPECT_EQ(run.Err, "removed " + archives +
                         " and 2 folders from Upload/ that this build did not produce\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(Upload("link.zip"))));
  EXPECT_FALSE(fs::exists(Upload("old/deep")));
  EXPECT_FALSE(fs::exists(Upload("empty")));
  EXPECT_EQ(ReadFile(Upload("old/notes.txt")), "the operator's own file");
  EXPECT_TRUE(fs::exists(Upload("data/old.ini.zip.bak")));
  EXPECT_EQ(ReadFile(dir_ / "outside/kept.zip"), archive);
  EXPECT_EQ(fs::is_symlink(Upload("elsewhere")), links);
  EXPECT_EQ(Vornel(Words("verify --strict")).Code, 0);
}

TEST_F(OperatorDay, JsonEventsParseAndMatchTheManifest) {
  SKIP_WITHOUT_PROGRAMS("python3");
  // Windows allows no double quote in a name; a blank and an apostrophe travel as they are.
  WriteFile(Clean("data/a 'quoted' name.txt"), "quoted");
  const ProcessResult run = Build("--json --jobs 2");
  ASSERT_EQ(run.Code, 0) << run.Err;
  WriteFile(dir_ / "events", run.Out);
  const std::string script = R"(import json, sys
events = [json.loads(line) for line in open(sys.argv[1], encoding='utf-8')]
listed = {}
for line in open(sys.argv[2], 'rb').read().decode('utf-8').split('\r\n'):
    if line.startswith('IAM=') or (line.startswith('F') and '=' in line):
        path, crc, size = line.split('=', 1)[1].split('|')[:3]
        listed[path.replace('\\', '/')] = (int(crc), int(size))
start, end = events[0], events[-1]
archives = [e for e in events if e['event'] == 'archive']
assert start['event'] == 'start' and start['archives'] == len(listed), start
assert start['bytes'] == sum(e['bytes'] for e in archives), start
assert {e['path']: (e['crc'], e['size']) for e in archives} == listed, archives
assert end == dict(end, event='end', outcome='done', exit=0, archives=len(listed),
                   listed=len(listed)), end
assert len(events) == len(listed) + 2, events
)";
  const ProcessResult checked = RunProcess(
      {"python3", "-c", script, dir_ / "events", Upload("updates.lst")}, {.ErrToOut = true});
  EXPECT_EQ(checked.Code, 0) << checked.Out << run.Out;
}

// Every entry below dir with its kind, size, time and bytes: what "writes nothing" promises.
std::string Snapshot(const std::string& dir) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const fs::file_status status = entry.symlink_status();
    all += entry.path().string() + " " + std::to_string(static_cast<int>(status.type())) + " " +
           std::to_string(entry.last_write_time().time_since_epoch().count()) + "\n";
    if (fs::is_regular_file(status))
      all += ReadFile(entry.path().string()) + "\n";
  }
  return all;
}

TEST_F(OperatorDay, DryRunWritesNothingAndTellsWhatABuildWould) {
  struct Case {
    const char* What;
    std::function<void()> Before;
    std::string Options;
    int Code;
    std::string Summary;
  };
  const std::vector<Case> cases = {
      {"nothing built yet", [] {}, "", 0,
       "dry run: 5 archives to pack (1.5 KiB), 0 to keep (0 B), 0 archives stale, 0 files and 0 "
       "folders excluded; "
       "nothing was written\n"},
      {"an earlier build, a change, a deleted file",
       [&] {
         ASSERT_EQ(Build().Code, 0);
         WriteFile(Clean("readme.txt"), "patched");
         fs::remove(Clean("data/maps/start.map"));
       },
       "--reuse --prune --exclude system/", 0,
       "pack readme.txt (7 B)\nkeep Teskor.exe (361 B)\nkeep data/config.ini (37 B)\n"
       "stale data/maps/start.map.zip\nstale system/engine.dll.zip\nstale system/\n"
       "dry run: 1 archive to pack (7 B), 2 to keep (398 B), 2 archives and 1 folder stale, 1 "
       "file and 1 folder excluded; nothing was written\n"},
      {"a refused tree",
       [&] { WriteFile(Work() + "/settings.ini", "[main]\nCustomName=Nope.exe\n"); }, "", 1, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.What);
    test.Before();
    const std::string before = Snapshot(dir_.Str());
    const ProcessResult run = Build("--dry-run " + test.Options);
    EXPECT_EQ(run.Code, test.Code) << run.Err;
    EXPECT_EQ(Snapshot(dir_.Str()), before);
    EXPECT_NE(run.Out.find(test.Summary), std::string::npos) << run.Out;
  }
}

TEST_F(OperatorDay, ExclusionsFromCommandLineAndSettings) {
  WriteFile(Clean(".git/HEAD"), "ref");
  WriteFile(Clean("logs/old/1.log"), "log");
  WriteFile(Clean("system/engine.PDB"), "symbols");
  WriteFile(Clean("data/maps/thumbs.db"), "cache");
  struct Case {
    std::string Setting;
    std::string Options;
    std::string Fcount;
    int Code;
  };
  const Case cases[] = {
      {"", "", "fcount=8", 0}, // nothing is left out by default
      {"", "--exclude *.pdb --exclude .git/ --exclude logs/** --exclude Thumbs.db", "fcount=4", 0},
      {"*.pdb; .git/ ;logs/**", "--exclude Thumbs.db", "fcount=4", 0},
      {"*.pdb", "--exclude *.EXE", "", 1}, // the self file is refused, not left out
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Setting + " " + test.Options);
    fs::remove_all(Upload());
    WriteFile(Work() + "/settings.ini", "[main]\nExclude=" + test.Setting + "\n");
    const ProcessResult run = Build("--prune " + test.Options);
    EXPECT_EQ(run.Code, test.Code) << run.Err;
    if (test.Code != 0) {
      EXPECT_EQ(run.Err, "Teskor.exe is left out by the exclusion pattern \"*.EXE\", but the "
                         "update set needs it\n");
      EXPECT_FALSE(fs::exists(Upload()));
      continue;
    }
    EXPECT_NE(ReadFile(Upload("updates.lst")).find(test.Fcount + "\r\n"), std::string::npos);
    const bool all = test.Fcount == "fcount=8";
    EXPECT_EQ(fs::exists(Upload(".git/HEAD.zip")), all);
    EXPECT_EQ(fs::exists(Upload("logs/old")), all);
    EXPECT_EQ(fs::exists(Upload("system/engine.PDB.zip")), all);
    // The comparison with the tree leaves out what the build left out.
    const std::string exclude = test.Options.empty() ? "" : " --exclude Thumbs.db";
    const ProcessResult verify = Vornel(Words("verify --strict --against ../clean " +
                                              (test.Setting.empty() ? test.Options : exclude)));
    EXPECT_EQ(verify.Code, 0) << verify.Out;
  }
}

TEST_F(OperatorDay, CommandLineConveniences) {
  for (const std::string jobs : {"0", "65", "two", "-1"}) {
    const ProcessResult run = Build("--jobs " + jobs);
    EXPECT_EQ(run.Code, 1) << jobs;
    EXPECT_EQ(run.Err,
              "vornel build: --jobs takes a whole number from 1 to 64, not \"" + jobs + "\"\n");
  }
  const ProcessResult empty = Vornel({"build", "--jobs", "", Clean()});
  EXPECT_EQ(empty.Code, 1);
  EXPECT_EQ(empty.Err, "vornel build: --jobs takes a whole number from 1 to 64, not \"\"\n");
  EXPECT_EQ(Build("--jobs 64").Code, 0);
  // -C: settings and Upload/ are those of the folder named, relative paths taken from there.
  WriteFile(dir_ / "other/settings.ini", "[main]\nServer=10.1.2.3\n");
  const ProcessResult run = RunVornel(dir_.Str(), Words("-C other build ../clean"));
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_NE(ReadFile(dir_ / "other/Upload/updates.lst").find("Server=10.1.2.3\r\n"),
            std::string::npos);
  EXPECT_EQ(RunVornel(dir_.Str(), Words("-C other verify")).Code, 0);
  EXPECT_EQ(RunVornel(dir_.Str(), Words("-C nowhere verify")).Code, 1);
}

} // namespace
} // namespace vornel::test
