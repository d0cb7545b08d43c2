// Builds ended from outside: killed at any moment (nothing cut short under a final name, and
// --reuse then finishes the set), and stopped with Ctrl-C (a message that tells the truth).

#include "tests/faults/FaultSupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// vornel started in workDir without a shell, so a signal reaches it and nothing else.
pid_t StartVornel(const std::string& workDir, const std::vector<std::string>& arguments,
                  const std::string& errPath) {
  std::vector<std::string> words{VornelPath()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  const pid_t child = ::fork();
  if (child == 0) {
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_WRONLY);
    if (err < 0 || null < 0 || ::chdir(workDir.c_str()) != 0)
      ::_exit(127);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

int WaitStatus(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Text deflate works at, so packing takes a while; distinct per seed.
std::string Prose(std::size_t size, unsigned seed) {
  static const char* const words[] = {"patch ",     "client ", "update ", "server ",  "archive ",
                                      "folder\r\n", "map ",    "engine ", "texture ", "sound "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size)
    text += words[random() % 10] + std::to_string(random() % 1000) + " ";
  text.resize(size);
  return text;
}

void MakeProseTree(const std::string& root, int big, std::size_t bigSize, int small) {
  WriteFile(root + "/Teskor.exe", "self");
  for (int i = 0; i < big; ++i)
    WriteFile(root + "/big/b" + std::to_string(i) + ".dat", Prose(bigSize, 100 + i));
  for (int i = 0; i < small; ++i)
    WriteFile(root + "/small/s" + std::to_string(i) + ".txt", Prose(500 + 37 * i, 200 + i));
}

// Opens every *.zip below the folder and checks every entry's CRC; the listed sizes must match.
constexpr const char* WholeArchivesScript = R"(import os, sys, zipfile
upload = sys.argv[1]
for folder, _, names in os.walk(upload):
    for name in names:
        if name.endswith('.zip'):
            with zipfile.ZipFile(os.path.join(folder, name)) as archive:
                assert archive.testzip() is None, name
manifest = os.path.join(upload, 'updates.lst')
lines = open(manifest, 'rb').read().split(b'\r\n') if os.path.exists(manifest) else []
for line in lines:
    if line.startswith(b'IAM=') or (line.startswith(b'F') and b'=' in line):
        path, _, size = line.split(b'=', 1)[1].split(b'|')[:3]
        zip_path = os.path.join(upload, *path.decode().split('\\')) + '.zip'
        assert os.path.getsize(zip_path) == int(size), path
)";

std::string ReadIfThere(const std::string& path) {
  return fs::exists(path) ? ReadFile(path) : std::string();
}

std::string Bytes(const std::set<std::string>& files, const std::string& dir) {
  std::string all;
  for (const std::string& file : files)
    all += file + '\n' + ReadFile(dir + "/" + file) + '\n';
  return all;
}

class Interruption : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveVornel())
      GTEST_SKIP() << "vornel was not built";
    if (!HaveProgram("python3"))
      GTEST_SKIP() << "python3 is missing";
    fs::create_directories(Work());
  }
  std::string Clean() const { return dir_ / "clean"; }
  std::string Work() const { return dir_ / "work"; }
  std::string Upload() const { return dir_ / "work/Upload"; }

  TempDir dir_;
};

TEST_F(Interruption, KilledAtAnyMomentLeavesOnlyWholeArchives) {
  MakeProseTree(Clean(), 3, 300000, 12);
  const auto started = Clock::now();
  ASSERT_EQ(RunVornel(Work(), {"build", "--jobs", "2", Clean()}).Status, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);

  std::mt19937 random(14);
  for (int round = 0; round < 30; ++round) {
    const auto moment = std::chrono::microseconds(random() % (span.count() + 1));
    const pid_t child = StartVornel(
        Work(), {"build", "--jobs", round % 2 == 0 ? "2" : "1", Clean()}, dir_ / "stderr");
    std::this_thread::sleep_for(moment);
    ::kill(child, SIGKILL);
    WaitStatus(child);
    // Every file named like an archive is whole, listed or not, and what is listed is whole.
    const ProcessResult checked =
        RunProcess({"python3", "-c", WholeArchivesScript, Upload()}, {.ErrToOut = true});
    EXPECT_EQ(checked.Code, 0) << checked.Out << "after a kill at " << moment.count() << " us";
  }

  // --reuse finishes the set: the same bytes as a clean build, no temporary left behind.
  const CliRun reuse = RunVornel(Work(), {"build", "--reuse", Clean()});
  ASSERT_EQ(reuse.Status, 0) << reuse.Err;
  const std::string fresh = dir_ / "fresh";
  fs::create_directories(fresh);
  ASSERT_EQ(RunVornel(fresh, {"build", Clean()}).Status, 0);
  const std::set<std::string> files = FilesBelow(fresh + "/Upload");
  EXPECT_EQ(FilesBelow(Upload()), files);
  EXPECT_EQ(Bytes(files, Upload()), Bytes(files, fresh + "/Upload"));
}

TEST_F(Interruption, CtrlCSaysWhatWasFinishedAndListed) {
  MakeProseTree(Clean(), 10, 1500000, 4);
  const pid_t child = StartVornel(Work(), {"build", "--jobs", "2", Clean()}, dir_ / "stderr");
  // Stop once the self file is listed, with the big files still to come.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (ReadIfThere(Upload() + "/updates.lst").find("[files]") == std::string::npos &&
         Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ::kill(child, SIGINT);
  EXPECT_EQ(WaitStatus(child), 130);

  const std::string message = ReadFile(dir_ / "stderr");
  std::smatch numbers;
  ASSERT_TRUE(std::regex_match(message, numbers,
                               std::regex("Build stopped: ([0-9]+) archives? finished, "
                                          "updates\\.lst lists ([0-9]+) of them and is "
                                          "incomplete\\. Run 'vornel build --reuse .*' to "
                                          "finish: it keeps the finished archives\\.\n")))
      << message;
  int archives = 0;
  for (const std::string& file : FilesBelow(Upload()))
    archives += file.size() > 4 && file.compare(file.size() - 4, 4, ".zip") == 0 ? 1 : 0;
  EXPECT_EQ(std::stoi(numbers[1]), archives);
  EXPECT_EQ(std::stoi(numbers[2]), ListedCount(Upload()));
  EXPECT_LT(ListedCount(Upload()), 15);

  const CliRun verify = RunVornel(Work(), {"verify"});
  EXPECT_EQ(verify.Status, 1);
  EXPECT_NE(verify.Out.find("stopped before the end"), std::string::npos) << verify.Out;
  const CliRun reuse = RunVornel(Work(), {"build", "--reuse", Clean()});
  EXPECT_EQ(reuse.Status, 0);
  EXPECT_NE(reuse.Err.find("reused " + numbers[1].str() + " archives"), std::string::npos)
      << reuse.Err;
}

} // namespace
} // namespace vornel::test
