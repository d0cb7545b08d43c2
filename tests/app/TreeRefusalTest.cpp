// Trees the client could not use are refused before anything is written, with every problem
// named at once.

#include "tests/app/BuildFixture.h"

#include "platform/FileSystem.h"

#include <filesystem>
#include <functional>
#include <map>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

// Every file and folder below root with its bytes, to show that nothing changed.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    found[relative] = entry.is_directory() ? "<folder>" : ReadFile(entry.path().string());
  }
  return found;
}

struct RefusedTree {
  const char* Case;
  std::function<void(const std::string& clean)> Make;
  std::vector<std::string> Lines; // the refusal, line by line
  const char* CodePage = "";
};

void Put(const std::string& clean, const std::string& relative, const std::string& bytes = "x") {
  WriteFile(clean + "/" + relative, bytes);
}

void Link(const std::string& clean, const std::string& target, const std::string& name) {
  fs::create_symlink(target, clean + "/" + name);
}

const std::vector<RefusedTree>& Cases() {
  static const std::vector<RefusedTree> cases = {
      {"characters and a reserved name at once",
       [](const std::string& c) {
         Put(c, "data/a|b.txt");
         Put(c, "con.txt");
       },
       {"\"con.txt\": the name is reserved for a device on Windows",
        "\"data/a|b.txt\": the name holds |, which Windows does not allow in names"}},
      {"question mark, control character, trailing dot and blank",
       [](const std::string& c) {
         Put(c, "q?.txt");
         Put(c, "bell\a");
         Put(c, "trail.");
         Put(c, "LPT1 ");
       },
       {"\"bell\\x07\": the name holds a control character, which Windows does not allow in names",
        "\"LPT1 \": the name ends in a dot or a blank, which Windows drops",
        "\"q?.txt\": the name holds ?, which Windows does not allow in names",
        "\"trail.\": the name ends in a dot or a blank, which Windows drops"}},
      {"names equal without regard to letter case",
       [](const std::string& c) {
         Put(c, "README.txt");
         Put(c, "readme.txt");
         Put(c, "Data/x");
         Put(c, "data/x");
       },
       {"\"data\": differs from \"Data\" only in letter case; Windows holds only one of them",
        "\"readme.txt\": differs from \"README.txt\" only in letter case; Windows holds only one "
        "of them"}},
      {"a file's archive in a folder's place",
       [](const std::string& c) {
         Put(c, "foo");
         Put(c, "FOO.zip/bar");
         fs::create_directories(c + "/updates.lst");
       },
       {"\"foo\": its archive would take the place of the folder \"FOO.zip\" in Upload",
        "\"updates.lst\": the folder would take the place of updates.lst in Upload"}},
      {"links that dangle or loop, and a pipe",
       [](const std::string& c) {
         Link(c, "missing", "dangling");
         Link(c, "loop", "loop");
         ASSERT_TRUE(MakeFifo(c + "/pipe"));
       },
       {"\"dangling\": a symbolic link whose target does not exist",
        "\"loop\": a symbolic link that leads back to itself",
        "\"pipe\": neither a file nor a folder (a pipe, socket or device)"}},
      {"a source of 2 GiB",
       [](const std::string& c) {
         Put(c, "big.pak", "");
         fs::resize_file(c + "/big.pak", std::uintmax_t{1} << 31); // sparse
       },
       {"\"big.pak\": the file is too large to pack (an archive must stay below 2 GiB)"}},
      {"names beyond ASCII without a code page, or beyond the code page",
       [](const std::string& c) { Put(c, "caf\xC3\xA9.txt"); },
       {"\"caf\xC3\xA9.txt\": the name is not plain ASCII and no code page is chosen for the "
        "client; choose the client's code page with --codepage or \"CodePage\" in settings.ini"}},
      {"a name beyond code page 1252",
       [](const std::string& c) { Put(c, "\xD0\xBA.map"); },
       {"\"\xD0\xBA.map\": the name cannot be written in code page 1252; choose the client's "
        "code page with --codepage or \"CodePage\" in settings.ini"},
       "1252"},
      {"a double-byte character whose second byte reads as a separator",
       [](const std::string& c) { Put(c, "\xE8\xA1\xA8.txt"); },
       {"\"\xE8\xA1\xA8.txt\": written in code page 932, the name holds a byte that reads as "
        "\"\\\" or \"|\""},
       "932"},
      {"the self file only in a subfolder",
       [](const std::string& c) {
         fs::remove(c + "/Teskor.exe");
         Put(c, "system/Teskor.exe");
       },
       {"Teskor.exe not found in \"clean\" directory (it lies only in system/)"}},
  };
  return cases;
}

TEST(TreeRefusal, EveryProblemNamedAndUploadLeftAsItWas) {
  if (OnWindows())
    GTEST_SKIP() << "the refused trees hold names Windows cannot create";
  for (const RefusedTree& tree : Cases()) {
    SCOPED_TRACE(tree.Case);
    TempDir dir;
    const std::string clean = dir / "clean";
    const std::string work = dir / "work";
    Put(clean, "Teskor.exe");
    Put(clean, "ok.txt");
    Put(work, "Upload/updates.lst", "earlier manifest\r\n");
    Put(work, "Upload/ok.txt.zip", "earlier archive");
    const auto before = Snapshot(work);
    tree.Make(clean);

    Packer packer("Teskor.exe");
    RecordingView view;
    BuildOptions options;
    options.CodePage = tree.CodePage;
    EXPECT_EQ(packer.Build(clean, work, view, options), BuildOutcome::Refused);
    std::string expected;
    for (const std::string& line : tree.Lines)
      expected += (expected.empty() ? "" : "\n") + line;
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"message:" + expected}));
    EXPECT_EQ(Snapshot(work), before);
    EXPECT_EQ(packer.FileCount, 0);
  }
}

TEST(TreeRefusal, ListTextCountsWhatItLeavesOut) {
  std::vector<TreeProblem> problems(12, TreeProblem{"a/b", "bad"});
  problems.front() = {"", "whole tree"};
  const std::string text = ProblemListText(problems, 10);
  EXPECT_EQ(text.substr(0, 23), "whole tree\n\"a/b\": bad\n\"");
  EXPECT_EQ(text.substr(text.size() - 30), "\"a/b\": bad\nand 2 more problems");
}

} // namespace
} // namespace vornel::test
