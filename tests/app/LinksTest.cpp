// Symbolic links in the clean tree and in Upload/: nothing from outside the clean folder is
// published unless asked for, nothing is written outside Upload/, no temporary file stays.

#include "tests/app/BuildFixture.h"

#include "app/PackFile.h"

#include <filesystem>
#include <functional>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

class Links : public BuildFixture {
protected:
  void SetUp() override {
    SKIP_WITHOUT_SYMLINKS();
    BuildFixture::SetUp();
    Put("Teskor.exe", "self");
    Put("a.txt", "first");
    WriteFile(Outside("secret.txt"), "secret");
    WriteFile(Outside("data/d.txt"), "outside data");
  }
  std::string Outside(const std::string& relative) const { return dir_ / ("outside/" + relative); }
  void Link(const std::string& target, const std::string& at) const {
    fs::create_directories(fs::path(at).parent_path());
    fs::create_symlink(target, at);
  }
  std::string Message() const {
    for (const std::string& call : view_.Calls)
      if (call.rfind("message:", 0) == 0)
        return call.substr(8);
    return {};
  }
  // No temporary archive or file of a build is left anywhere in the working folder.
  void ExpectNoTemporaries() const {
    for (const auto& entry : fs::recursive_directory_iterator(Work())) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find(".vornel-"), std::string::npos) << entry.path();
      EXPECT_FALSE(name.ends_with(".tmp")) << entry.path();
    }
  }
};

struct LinkCase {
  const char* Case;
  std::function<void()> Make;
  bool Follow;                        // --follow-links
  BuildOutcome Outcome;               //
  std::vector<std::string> Fragments; // in the refusal, or lines of the manifest when built
};

TEST_F(Links, OutOfTheTreeRefusedUnlessFollowedInsideWalked) {
  const std::vector<LinkCase> cases = {
      {"a file outside",
       [this] { Link(Outside("secret.txt"), Clean("sub/s.txt")); },
       false,
       BuildOutcome::Refused,
       {"\"sub/s.txt\": a symbolic link to \"", "outside the clean folder"}},
      {"a folder outside",
       [this] { Link(Outside("data"), Clean("data")); },
       false,
       BuildOutcome::Refused,
       {"\"data\": a symbolic link to \"", "outside the clean folder"}},
      {"a file and a folder outside, followed",
       [this] {
         Link(Outside("secret.txt"), Clean("sub/s.txt"));
         Link(Outside("data"), Clean("data"));
       },
       true,
       BuildOutcome::Done,
       {"F2=data\\d.txt|", "F3=sub\\s.txt|"}},
      {"followed as the settings say",
       [this] {
         Link(Outside("data"), Clean("data"));
         WriteFile(Work("settings.ini"), "[main]\nFollowLinks=1\n");
       },
       false,
       BuildOutcome::Done,
       {"F2=data\\d.txt|"}},
      {"a folder inside, walked like the folder it names",
       [this] {
         Put("real/r.txt", "real");
         Link("real", Clean("alias"));
         Link("../a.txt", Clean("real/a-again.txt"));
       },
       false,
       BuildOutcome::Done,
       {"F2=alias\\a-again.txt|", "F3=alias\\r.txt|", "F4=real\\a-again.txt|"}},
      {"planted in Upload: an archive, replaced and not written through",
       [this] {
         fs::create_directories(Upload());
         Link(Outside("secret.txt"), Upload("a.txt.zip"));
       },
       false,
       BuildOutcome::Done,
       {"F1=a.txt|"}},
      {"a loop back into the tree, even when followed",
       [this] { Link("..", Clean("sub/up")); },
       true,
       BuildOutcome::Refused,
       {"\"sub/up\": a symbolic link to \"", "the walk would never end"}},
      {"a link into the output folder",
       [this] {
         fs::create_directories(Upload());
         Link(Upload(), Clean("out"));
       },
       true,
       BuildOutcome::Refused,
       {"\"out\": a symbolic link into the build's own output"}},
      {"planted in Upload: a mirrored folder and the manifest",
       [this] {
         Put("sub/b.txt");
         fs::create_directories(Upload());
         Link(Outside("data"), Upload("sub"));
         Link(Outside("secret.txt"), Upload("updates.lst"));
       },
       false,
       BuildOutcome::Refused,
       {"Upload/sub\" is a symbolic link", "Upload/updates.lst\" is a symbolic link"}},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.Case);
    fs::remove_all(Clean());
    fs::remove_all(Work());
    SetUp();
    view_.Calls.clear();
    c.Make();
    BuildOptions options;
    options.FollowLinks = c.Follow;
    ASSERT_EQ(Build(options), c.Outcome) << Message();
    if (c.Outcome == BuildOutcome::Done) {
      for (const std::string& line : c.Fragments)
        EXPECT_NE(Manifest().find("\r\n" + line), std::string::npos) << line << "\n" << Manifest();
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Upload("a.txt.zip"))));
      EXPECT_PEERS_ACCEPT_UPLOAD();
    } else {
      for (const std::string& fragment : c.Fragments)
        EXPECT_NE(Message().find(fragment), std::string::npos) << fragment << "\n" << Message();
      EXPECT_FALSE(fs::exists(Upload("a.txt.zip")));
    }
    EXPECT_EQ(ReadFile(Outside("secret.txt")), "secret");
    EXPECT_FALSE(fs::exists(Outside("data/b.txt.zip")));
    ExpectNoTemporaries();
  }
}

// A view that swaps a source for a link once the self file is packed, after the tree check.
class SwappingView : public RecordingView {
public:
  std::function<void()> Swap;
  void StepProgress(const std::string& relativePath) override {
    RecordingView::StepProgress(relativePath);
    if (relativePath == "Teskor.exe" && Swap)
      std::exchange(Swap, nullptr)();
  }
};

TEST_F(Links, SourceSwappedForALinkAfterTheCheckIsNotPublished) {
  Put("b.txt", "checked");
  SwappingView view;
  view.Swap = [this] {
    fs::remove(Clean("b.txt"));
    fs::create_symlink(Outside("secret.txt"), Clean("b.txt"));
  };
  try {
    packer_.Build(Clean(), Work(), view);
    ADD_FAILURE() << "the swapped file was packed";
  } catch (const EFileChanged& error) {
    EXPECT_NE(std::string(error.what()).find("it is a symbolic link now"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(fs::exists(Upload()));
  EXPECT_FALSE(fs::exists(Staging("b.txt.zip")));
  ExpectNoTemporaries();
}

} // namespace
} // namespace vornel::test
