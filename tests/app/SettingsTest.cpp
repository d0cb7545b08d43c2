#include "tests/app/BuildFixture.h"

#include "app/Settings.h"

namespace vornel::test {
namespace {

class Settings : public BuildFixture {
protected:
  void SetUp() override {
    BuildFixture::SetUp();
    Put("Teskor.exe");
    Put("Other.exe");
  }
  std::string Misc() {
    const std::string manifest = Manifest();
    const std::size_t from = manifest.find("[misc]");
    return manifest.substr(from, manifest.find("[files]") - from);
  }
};

TEST_F(Settings, DefaultsWithoutASettingsFile) {
  EXPECT_EQ(Packer::ReadCustomName(SettingsPathIn(Work())), "Teskor.exe");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_EQ(Misc(), "[misc]\r\nServer=127.0.0.1\r\nModifyHost=0\r\n");
}

TEST_F(Settings, ServerAndModHostAreReadAtEveryBuild) {
  const std::string settings = SettingsPathIn(Work());
  WriteFile(settings, "[main]\r\nServer=upd.example.net:8080\r\nModHost=1\r\n");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_EQ(Misc(), "[misc]\r\nServer=upd.example.net:8080\r\nModifyHost=1\r\n");
  // Changed between builds of the same packer; empty values are still written.
  WriteFile(settings, "[main]\r\nServer=\r\nModHost=a|b\r\n");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_EQ(Misc(), "[misc]\r\nServer=\r\nModifyHost=a|b\r\n");
  // The settings come from the working folder, never from the clean tree.
  WriteFile(Clean("settings.ini"), "[main]\r\nServer=wrong\r\n");
  ASSERT_EQ(BuildFixture::Build(), BuildOutcome::Done);
  EXPECT_EQ(Misc(), "[misc]\r\nServer=\r\nModifyHost=a|b\r\n");
}

TEST_F(Settings, CustomNameIsReadOnceAtStart) {
  const std::string settings = SettingsPathIn(Work());
  WriteFile(settings, "[main]\r\nCustomName=Other.exe\r\n");
  Packer packer(Packer::ReadCustomName(settings));
  ASSERT_EQ(packer.Build(Clean(), Work(), view_), BuildOutcome::Done);
  EXPECT_NE(Manifest().find("IAM=Other.exe|"), std::string::npos);
  EXPECT_NE(Manifest().find("F1=Teskor.exe|"), std::string::npos);

  WriteFile(settings, "[main]\r\nCustomName=Teskor.exe\r\n");
  ASSERT_EQ(packer.Build(Clean(), Work(), view_), BuildOutcome::Done);
  EXPECT_NE(Manifest().find("IAM=Other.exe|"), std::string::npos); // needs a new start
  EXPECT_PEERS_ACCEPT_UPLOAD("Other.exe");
}

} // namespace
} // namespace vornel::test
