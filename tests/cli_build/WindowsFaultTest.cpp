// What Windows adds to a build's faults: a source another program holds open without sharing,
// archives and a manifest with the read-only attribute, and paths over 260 characters. Each
// either works or fails naming its file, and never reports success over stale output.

#include "tests/support/TestSupport.h"
#include "tests/support/VornelRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

constexpr fs::perms kReadOnly =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

class WindowsFaults : public ::testing::Test {
protected:
  void SetUp() override {
    if (!OnWindows())
      GTEST_SKIP() << "sharing modes and the read-only attribute are Windows' own";
    fs::create_directories(dir_ / "work");
    fs::copy(VORNEL_SAMPLE_TREE, Clean(), fs::copy_options::recursive);
  }
  std::string Clean(const std::string& relative = "") const { return dir_ / ("clean/" + relative); }
  std::string Upload(const std::string& relative = "") const {
    return dir_ / ("work/Upload/" + relative);
  }
  ProcessResult Vornel(const std::vector<std::string>& arguments) const {
    return RunVornel(dir_ / "work", arguments, 120);
  }
  ProcessResult Build() const { return Vornel({"build", "--quiet", Clean()}); }

  TempDir dir_;
};

TEST_F(WindowsFaults, EachWorksOrFailsNamingItsFile) {
  const std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e') + "/long.txt";
  struct Case {
    std::string Label;
    std::function<void()> Before; // after a first build
    std::string Named;            // what an error must name
    std::string Changed;          // a source whose archive must be fresh
  };
  const std::vector<Case> cases = {
      {"a source held open without sharing", [] {}, "config.ini", ""},
      {"a read-only archive",
       [this] {
         WriteFile(Clean("readme.txt"), "changed text");
         fs::permissions(Upload("readme.txt.zip"), kReadOnly);
       },
       "readme.txt.zip", "readme.txt"},
      {"a read-only manifest",
       [this] {
         WriteFile(Clean("data/new.txt"), "new");
         fs::permissions(Upload("updates.lst"), kReadOnly);
       },
       "updates.lst", "data/new.txt"},
      {"a path over 260 characters", [&] { WriteFile(Clean(deep), "deep"); }, "long.txt", deep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    fs::remove_all(dir_ / "work/Upload");
    ASSERT_EQ(Build().Code, 0);
    c.Before();
    ProcessResult run;
    if (c.Changed.empty()) {
      fs::remove(Upload("data/config.ini.zip"));
      HeldOpen held(Clean("data/config.ini"));
      ASSERT_TRUE(held.Held());
      run = Build();
      EXPECT_FALSE(fs::exists(Upload("data/config.ini.zip"))) << "half-written archive left";
    } else {
      run = Build();
    }
    if (run.Code == 0) {
      EXPECT_FALSE(c.Changed.empty()) << "a source nobody may read was packed";
      EXPECT_EQ(Vornel({"verify", "--against", Clean()}).Code, 0) << "stale output";
      EXPECT_TRUE(fs::exists(Upload(c.Changed + ".zip")));
    } else {
      EXPECT_NE(run.Err.find(c.Named), std::string::npos) << run.Err;
    }
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(dir_ / "work/Upload", ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
}

} // namespace
} // namespace vornel::test
