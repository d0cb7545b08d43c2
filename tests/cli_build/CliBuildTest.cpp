#include "tests/support/TestSupport.h"
#include "tests/support/VornelRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class Cli : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(dir_ / "work");
    fs::copy(VORNEL_SAMPLE_TREE, dir_ / "clean", fs::copy_options::recursive);
  }

  std::string Work(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "work" : dir_ / ("work/" + relative);
  }
  std::string Clean(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "clean" : dir_ / ("clean/" + relative);
  }

  // Runs vornel in the working folder; its output goes to pipes, so never a terminal.
  ProcessResult Vornel(const std::vector<std::string>& arguments) const {
    return RunVornel(Work(), arguments);
  }

  TempDir dir_;
};

TEST_F(Cli, BuildsTheSampleTree) {
  const ProcessResult run = Vornel(Command("build", {Clean()}));
  EXPECT_EQ(run.Code, 0);
  EXPECT_EQ(run.Out, "Done.5 files packed.\n");
  EXPECT_EQ(run.Err, ""); // no progress bar when stderr is not a terminal
  EXPECT_TRUE(fs::is_regular_file(Work("Upload/system/engine.dll.zip")));

  // A relative clean folder, the options of the parallel engine, and the quiet flag.
  const ProcessResult again = Vornel(Words("build --quiet --jobs 2 --reuse ../clean/"));
  EXPECT_EQ(again.Code, 0) << again.Err;
  EXPECT_EQ(Vornel(Words("verify")).Out, "verified 5 archives: all good\n");

  SKIP_WITHOUT_PROGRAMS("python3");
  const ProcessResult checked =
      RunProcess({"python3", VORNEL_CHECK_UPLOAD, Clean(), Work("Upload")});
  EXPECT_EQ(checked.Code, 0) << checked.Out;
}

TEST_F(Cli, ExitCodesForRefusalAndError) {
  // Refused: no self file under the name the settings give.
  WriteFile(Work("settings.ini"), "[main]\nCustomName=Updater.exe\n");
  ProcessResult run = Vornel(Command("build", {Clean()}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "Updater.exe not found in \"clean\" directory\n");

  run = Vornel(Command("build", {dir_ / "nowhere"}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("does not exist"), std::string::npos);

  // The self file only in a subfolder: refused, saying where it lies, nothing written.
  fs::create_directories(Clean("bin"));
  WriteFile(Clean("bin/Updater.exe"), "x");
  run = Vornel(Command("build", {Clean()}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "Updater.exe not found in \"clean\" directory (it lies only in bin/)\n");
  EXPECT_FALSE(fs::exists(Work("Upload")));

  EXPECT_EQ(Vornel(Command("build --jobs 0", {Clean()})).Code, 1);
  EXPECT_EQ(Vornel(Words("build")).Code, 1);
  if (OnWindows())
    GTEST_SKIP() << "names Windows refuses and /proc exist only on Linux";

  // Every problem of the tree at once, one line each.
  WriteFile(Clean("Updater.exe"), "x");
  WriteFile(Clean("a|b.txt"), "x");
  run = Vornel(Command("build", {Clean()}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Err, "\"a|b.txt\": the name holds |, which Windows does not allow in names\n");
  EXPECT_FALSE(fs::exists(Work("Upload")));
  fs::remove(Clean("a|b.txt"));

  // An error while packing names the file after the message's own text.
  fs::create_symlink("/proc/self/status", Clean("data/changing.txt"));
  run = Vornel(Command("build --follow-links", {Clean()}));
  EXPECT_EQ(run.Code, 2);
  EXPECT_NE(run.Err.find("changed while it was packed"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("changing.txt\""), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.back(), '\n');
}

TEST_F(Cli, VerifyReportsEachBrokenPart) {
  ASSERT_EQ(Vornel(Command("build", {Clean()})).Code, 0);
  const std::string upload = Work("Upload");

  // A damaged archive: its end record is gone.
  const std::string readme = upload + "/readme.txt.zip";
  std::string bytes = ReadFile(readme);
  WriteFile(readme, bytes.substr(0, bytes.size() - 22) + std::string(22, '\0'));
  // A wrong size: one byte more on disk than listed.
  WriteFile(upload + "/data/config.ini.zip", ReadFile(upload + "/data/config.ini.zip") + "!");
  // A missing archive.
  fs::remove(upload + "/system/engine.dll.zip");
  ProcessResult run = Vornel(Words("verify"));
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Out.find("readme.txt.zip: "), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("data/config.ini.zip: the archive is "), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("system/engine.dll.zip: the archive is missing\n"), std::string::npos);
  EXPECT_NE(run.Out.find("\nverified 5 archives: "), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find(" in 3 archives\n"), std::string::npos) << run.Out;

  // A broken manifest: Unix line ends, checked from another folder by path.
  std::string manifest = ReadFile(upload + "/updates.lst");
  for (std::size_t at; (at = manifest.find("\r\n")) != std::string::npos;)
    manifest.erase(at, 1);
  WriteFile(upload + "/updates.lst", manifest);
  run = Vornel(Command("verify --quiet", {upload}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Out.find("updates.lst line 1: "), std::string::npos) << run.Out;

  // A folder that is not there, or a file given for the folder, is named as such.
  run = Vornel(Command("verify", {dir_ / "nowhere"}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Out, "\"" + dir_ / "nowhere" +
                         "\": no such folder; give the upload folder (default ./Upload)\n"
                         "verified 0 archives: 1 problem in updates.lst\n");
  run = Vornel(Command("verify", {upload + "/updates.lst"}));
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Out.find("updates.lst\" is a file; give the upload folder"), std::string::npos)
      << run.Out;
}

TEST_F(Cli, ProgressBarOnATerminal) {
  if (OnWindows())
    GTEST_SKIP()
        << "script gives a Linux terminal, which a Windows program does not take for a console";
  SKIP_WITHOUT_PROGRAMS("script") << ": it gives the build a terminal";
  // script gives the command a terminal; its output holds both streams. The paths reach the
  // command through the environment, so they need no quoting.
  const ProcessOptions paths = {.WorkDir = Work(),
                                .Env = {{"VORNEL_EXE", VornelPath()}, {"VORNEL_CLEAN", Clean()}}};
  ProcessResult run =
      RunProcess({"script", "-qec", "\"$VORNEL_EXE\" build \"$VORNEL_CLEAN\"", "/dev/null"}, paths);
  ASSERT_EQ(run.Code, 0);
  std::string output = run.Out;
  EXPECT_NE(output.find("\r[#"), std::string::npos);
  // The first frame knows the count: never a full bar that then falls back.
  EXPECT_NE(output.find("\r["), output.find("\r[" + std::string(24, '#') + "]")) << output;
  // Files finish in any order with several jobs; the last step names whichever ended last.
  EXPECT_NE(output.find(" 5/5, "), std::string::npos); // then bytes done and in all
  EXPECT_NE(output.find(" of 1.5 KiB"), std::string::npos);
  EXPECT_NE(output.find("\r\033[KDone.5 files packed."), std::string::npos); // cleared first

  run = RunProcess(
      {"script", "-qec", "\"$VORNEL_EXE\" build --quiet \"$VORNEL_CLEAN\"", "/dev/null"}, paths);
  ASSERT_EQ(run.Code, 0);
  EXPECT_EQ(run.Out.find('['), std::string::npos);
}

// Each settings file an operator may leave by mistake: read as the profile functions read it, or
// refused naming what is wrong, or built with a warning; never silently taken for defaults.
TEST_F(Cli, SettingsFilesThatMeanSomethingElse) {
  struct Case {
    const char* What;
    std::string Bytes; // empty: a folder named settings.ini
    int Code;
    std::string Said;     // in standard error
    std::string Manifest; // a line the manifest holds when built
  };
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("[main]\r\nServer=w\r\n"))
    utf16 += std::string{c, '\0'};
  const std::vector<Case> cases = {
      {"UTF-16 with its mark", utf16, 0, "", "Server=w"},
      {"random bytes", RandomBytes(300, 5) + std::string(1, '\0'), 1,
       "cannot be used: it holds binary data", ""},
      {"a folder", "", 1, "cannot be used: it is a folder", ""},
      {"keys before any section", "Server=x\r\n[main]\r\n", 0,
       "line 1: \"Server\" lies before any section and is ignored", "Server=127.0.0.1"},
      {"a key in another section", "[Main2]\r\nModHost=3\r\n", 0,
       "\"ModHost\" lies in section [Main2]", "ModifyHost=0"},
      {"misspelt key", "[main]\r\nExlude=*.pdb\r\nJobs=3\r\n", 0,
       "line 2: \"Exlude\" is no setting and is ignored; did you mean \"Exclude\"?",
       "Server=127.0.0.1"},
      {"yes as a flag", "[main]\r\nFollowLinks=Yes\r\n", 0, "", "Server=127.0.0.1"},
      {"a flag that means nothing", "[main]\r\nServer=s\r\nFollowLinks=maybe\r\n", 1,
       "settings.ini line 3: FollowLinks=maybe is neither yes nor no", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.What);
    fs::remove_all(Work());
    if (test.Bytes.empty())
      fs::create_directories(Work("settings.ini"));
    else
      WriteFile(Work("settings.ini"), test.Bytes);
    const ProcessResult run = Vornel(Command("build", {Clean()}));
    EXPECT_EQ(run.Code, test.Code) << run.Err;
    EXPECT_NE(run.Err.find(test.Said), std::string::npos) << run.Err;
    if (test.Code == 0)
      EXPECT_NE(ReadFile(Work("Upload/updates.lst")).find(test.Manifest + "\r\n"),
                std::string::npos);
    else
      EXPECT_FALSE(fs::exists(Work("Upload")));
  }
  // With --json every warning is an event too, and the start event names the settings in force.
  WriteFile(Work("settings.ini"), "[main]\r\nExlude=x\r\nCodePage=1252\r\n");
  const ProcessResult json = Vornel(Command("build --json", {Clean()}));
  EXPECT_NE(
      json.Out.find("{\"event\":\"warning\",\"message\":\"settings.ini line 2: \\\"Exlude\\\""),
      std::string::npos)
      << json.Out;
  EXPECT_NE(json.Out.find("\"server\":\"127.0.0.1\",\"modifyHost\":\"0\",\"codePage\":\"1252\""),
            std::string::npos)
      << json.Out;
}

// Every refusal and error of build, verify and add: the exit code of the one rule (1 for what
// was named on the command line, 2 for what failed while working), one line on standard error
// naming the path with "/"; and the warnings a build gives about its tree, also as JSON events.
TEST_F(Cli, MessagesNameThePathOnOneLine) {
  const std::string tooLong = std::string(200, 'd') + "/" + std::string(60, 'e') + "/f.txt";
  const std::string tight = std::string(100, 'g') + "/" + std::string(60, 'h'); // room: 85
  struct Case {
    const char* What;
    std::function<void()> Setup;
    std::vector<std::string> Args;
    int Code;
    std::string Said; // in standard error; with status 0 in either stream
    std::string Path; // named in the same output
    bool LongPaths = false;
  };
  const std::string archive = Work("t.zip");
  const std::vector<Case> cases = {
      {"Upload a file",
       [&] { WriteFile(Work("Upload"), "x"); },
       {"build", Clean()},
       1,
       "is not a folder",
       Work("Upload")},
      {"no clean folder",
       [] {},
       {"build", dir_ / "nowhere"},
       1,
       "does not exist",
       dir_ / "nowhere"},
      {"a path no client can create",
       [&] { WriteFile(Clean(tooLong), "x"); },
       {"build", Clean()},
       1,
       "the path is 261 characters long; the client cannot create it",
       "\"" + std::string(200, 'd') + "/" + std::string(60, 'e') + "\"",
       true},
      {"jobs not a number", [] {}, {"build", "--jobs", "x", Clean()}, 1, "--jobs takes", "\"x\""},
      {"unknown level",
       [] {},
       {"build", "--level", "most", Clean()},
       1,
       "does not suit zlib",
       "\"most\""},
      {"no folder to compare with",
       [&] {
         ASSERT_EQ(Vornel({"build", Clean()}).Code, 0);
       },
       {"verify", "--against", dir_ / "nowhere"},
       1,
       "does not exist",
       dir_ / "nowhere"},
      {"unknown code page",
       [] {},
       {"verify", "--codepage", "9999"},
       1,
       "Unknown code page",
       "\"9999\""},
      {"unusable URL", [] {}, {"verify", "--url", "ftp://x"}, 1, "not supported", "ftp://x"},
      {"an archive added to itself",
       [&] {
         ASSERT_EQ(Vornel({"add", archive, Clean("readme.txt")}).Code, 0);
       },
       {"add", "t.zip", "./t.zip"},
       1,
       "is the archive itself",
       "./t.zip"},
      {"numbers for add, words for build",
       [&] {
         ASSERT_EQ(Vornel({"add", "--level", "3", archive, Clean("readme.txt")}).Code, 0);
       },
       {"build", "--level", "maximum", Clean()},
       0,
       "",
       ""},
      {"leftovers of a build in the tree",
       [&] {
         fs::create_directories(Clean("old/Upload"));
         WriteFile(Clean("Upload.reuse"), "x");
       },
       {"build", "--json", Clean()},
       0,
       "{\"event\":\"warning\",\"message\":\"the clean folder holds what looks like a build's "
       "output or settings, not the client's files: \\\"old/Upload/\\\", \\\"Upload.reuse\\\"",
       "old/Upload/"},
      {"the clean folder as the working folder",
       [&] { WriteFile(Clean("settings.ini"), ""); },
       {"-C", Clean(), "build", "."},
       0,
       "is the working folder",
       "\"settings.ini\""},
      {"little room for the install folder",
       [&] { WriteFile(Clean(tight + "/f.txt"), "x"); },
       {"build", Clean()},
       0,
       "leaves only 85 characters for the client's install folder",
       "\"" + tight + "\"",
       true},
  };
  const auto fresh = [this] {
    fs::remove_all(Work());
    fs::remove_all(Clean());
    fs::create_directories(Work());
    fs::copy(VORNEL_SAMPLE_TREE, Clean(), fs::copy_options::recursive);
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.What);
    if (test.LongPaths && OnWindows())
      continue; // the test's own file calls stop at the limit there
    fresh();
    test.Setup();
    const std::string before = fs::exists(archive) ? ReadFile(archive) : "";
    const ProcessResult run = Vornel(test.Args);
    EXPECT_EQ(run.Code, test.Code) << run.Err;
    const std::string said = test.Code == 0 ? run.Out + run.Err : run.Err;
    EXPECT_NE(said.find(test.Said), std::string::npos) << said;
    std::string path = test.Path; // messages write every path with "/"
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_NE(said.find(path), std::string::npos) << said;
    if (test.Code != 0) {
      EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
      EXPECT_FALSE(fs::exists(Work("Upload.staging")));
    }
    if (!before.empty()) {
      EXPECT_EQ(ReadFile(archive), before);
    }
  }

  // The dry run's summary alone, counting every file and folder an exclusion leaves out.
  fresh();
  const ProcessResult dry = Vornel(Command("build --dry-run --quiet --exclude data/", {Clean()}));
  EXPECT_EQ(dry.Code, 0);
  EXPECT_EQ(dry.Out.find("dry run: "), 0u) << dry.Out;
  EXPECT_NE(dry.Out.find(", 2 files and 2 folders excluded; nothing was written\n"),
            std::string::npos)
      << dry.Out;
  EXPECT_EQ(dry.Out.find('\n'), dry.Out.size() - 1);
}

// A folder the build cannot make (the staging folder's path over the system's limit) is named
// with the system's reason, and the tree's folders made before it are gone again.
TEST_F(Cli, FolderOverTheSystemsLimit) {
  if (OnWindows())
    GTEST_SKIP() << "the test makes its working folder near Linux's 4096-byte limit";
  std::string deep = Work();
  while (deep.size() < 3990)
    deep += "/" + std::string(std::min<std::size_t>(200, 3990 - deep.size()), 'w');
  fs::create_directories(deep);
  fs::create_directories(Clean(std::string(60, 'a') + "/" + std::string(60, 'b')));
  const ProcessResult run = RunVornel(deep, {"build", Clean()});
  EXPECT_EQ(run.Code, 2);
  EXPECT_NE(run.Err.find(deep + "/Upload.staging/"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("The folder cannot be made ("), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1);
  EXPECT_TRUE(fs::is_empty(deep + "/Upload.staging"));
}

// A misspelt verb is named with the closest one; "/?" asks for help as on Windows.
TEST_F(Cli, UnknownVerbsAndWindowsHelp) {
  for (const auto& [line, suggestion] : std::vector<std::pair<std::string, std::string>>{
           {"buidl x", "build"}, {"-C . verfy", "verify"}, {"frob", "list"}}) {
    const ProcessResult run = Vornel(Words(line));
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("is no command; did you mean \"" + suggestion + "\"?"),
              std::string::npos)
        << run.Err;
  }
  const ProcessResult help = Vornel({"/?"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_NE(help.Out.find("Usage: vornel"), std::string::npos) << help.Out;
  EXPECT_NE(help.Out.find("130 a build stopped"), std::string::npos);
}

} // namespace
} // namespace vornel::test
