// Names reach the manifest and the archive entries in the client's code page; the archives keep
// the file system's names on disk; peers read the names back when told the code page.

#include "tests/app/BuildFixture.h"

#include "app/Verify.h"
#include "platform/CodePage.h"

namespace vornel::test {
namespace {

TEST(CodePage, ParsesWindowsNumbersAndUtf8Only) {
  const std::vector<std::pair<const char*, int>> accepted = {
      {"1251", 1251},   {" cp1252 ", 1252}, {"932", 932},     {"866", 866},
      {"UTF-8", 65001}, {"utf8", 65001},    {"65001", 65001}, {"437", 437}};
  for (const auto& [text, number] : accepted) {
    const auto page = ParseCodePage(text);
    ASSERT_TRUE(page) << text;
    EXPECT_EQ(page->Number, number) << text;
  }
  for (const char* text : {"", "abc", "0", "-1252", "1252x", "99999", "12345"})
    EXPECT_FALSE(ParseCodePage(text)) << text;
}

struct CodePageCase {
  const char* Page;
  std::vector<std::string> Paths; // as the file system spells them
};

TEST(CodePage, ManifestAndEntriesCarryTheClientsBytes) {
  SKIP_WITHOUT_PROGRAMS("python3");
  const std::vector<CodePageCase> cases = {
      {"1251",
       {"\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5/\xD0\xBA\xD0\xB0\xD1\x80\xD1"
        "\x82\xD0\xB0.map",
        "readme.txt"}},
      {"1252",
       {"caf\xC3\xA9_cr\xC3\xA8me.txt", "\xC3\x9Cn\xC3\xAF/stra\xC3\x9F"
                                        "e.dat"}},
      {"932",
       {"\xE5\x9C\xB0\xE5\x9B\xB3.dat",
        "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt"}},
      {"utf-8",
       {"\xD0\xBA\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0.map", "\xE5\x9C\xB0\xE5\x9B\xBE.dat",
        "sub/plain.txt"}},
  };
  for (const CodePageCase& c : cases) {
    SCOPED_TRACE(c.Page);
    TempDir dir;
    WriteFile(dir / "clean/Teskor.exe", "self");
    std::vector<std::string> check = {"python3", VORNEL_CHECK_NAMES, dir / "work/Upload", c.Page};
    for (const std::string& path : c.Paths) {
      WriteFile(dir / ("clean/" + path), "content of " + path);
      check.push_back(path);
    }
    Packer packer("Teskor.exe");
    RecordingView view;
    BuildOptions options;
    options.CodePage = c.Page;
    ASSERT_EQ(packer.Build(dir / "clean", dir / "work", view, options), BuildOutcome::Done)
        << view.Calls[0];
    EXPECT_EQ(RunProcess(check).Out, "");
    VerifyOptions verify;
    verify.Names = *ParseCodePage(c.Page);
    EXPECT_EQ(VerifyUploadSet(dir / "work/Upload", {}, verify).Problems,
              std::vector<std::string>{});
  }
}

// The window and the command line read the key at every build.
TEST(CodePage, SettingsKeyIsReadAtEveryBuild) {
  TempDir dir;
  WriteFile(dir / "clean/Teskor.exe", "self");
  WriteFile(dir / "clean/caf\xC3\xA9.txt", "x");
  Packer packer("Teskor.exe");
  RecordingView view;
  // Without a code page only plain ASCII names pass, unless the system has one of its own.
  if (!PlatformCodePage().IsSet()) {
    EXPECT_EQ(packer.Build(dir / "clean", dir / "work", view), BuildOutcome::Refused);
  }
  WriteFile(dir / "work/settings.ini", "[main]\nCodePage=1252\n");
  EXPECT_EQ(packer.Build(dir / "clean", dir / "work", view), BuildOutcome::Done);
  EXPECT_NE(ReadFile(dir / "work/Upload/updates.lst").find("F1=caf\xE9.txt|"), std::string::npos);
  WriteFile(dir / "work/settings.ini", "[main]\nCodePage=latin\n");
  view.Calls.clear();
  EXPECT_EQ(packer.Build(dir / "clean", dir / "work", view), BuildOutcome::Refused);
  EXPECT_EQ(view.Calls[0], "message:Unknown code page \"latin\": give a Windows code page number "
                           "such as 1252, or utf-8");
}

// Readers decode a name by its UTF-8 mark; a mark that disagrees with the code page garbles it.
TEST(CodePage, VerifyFindsNamesMarkedAgainstTheCodePage) {
  for (const char* page : {"utf-8", "1252"}) {
    SCOPED_TRACE(page);
    TempDir dir;
    WriteFile(dir / "clean/Teskor.exe", "self");
    WriteFile(dir / "clean/caf\xC3\xA9.txt", "x");
    WriteFile(dir / "work/settings.ini", "");
    Packer packer("Teskor.exe");
    RecordingView view;
    BuildOptions options;
    options.CodePage = page;
    ASSERT_EQ(packer.Build(dir / "clean", dir / "work", view, options), BuildOutcome::Done);
    VerifyOptions verify;
    verify.Names = *ParseCodePage(page);
    ASSERT_TRUE(VerifyUploadSet(dir / "work/Upload", {}, verify).AllGood());

    // Flip the mark (bit 11 of the flags) in the local header and in the central directory.
    const std::string zip = dir / "work/Upload/caf\xC3\xA9.txt.zip";
    std::string bytes = ReadFile(zip);
    bytes[7] = static_cast<char>(bytes[7] ^ 0x08);
    const std::size_t central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    bytes[central + 9] = static_cast<char>(bytes[central + 9] ^ 0x08);
    WriteFile(zip, bytes);
    const auto problems = VerifyUploadSet(dir / "work/Upload", {}, verify).Problems;
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("marked as UTF-8"), std::string::npos) << problems[0];
  }
}

} // namespace
} // namespace vornel::test
