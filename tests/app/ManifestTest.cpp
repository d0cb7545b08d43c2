#include "app/Manifest.h"
#include "app/ManifestReader.h"

#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vornel {
namespace {

TEST(ManifestFormat, WritesPlainDecimals) {
  EXPECT_EQ(FormatSelfLine("Teskor.exe", 0, 98), "IAM=Teskor.exe|0|98");
  // A CRC with the top bit set is a ten-digit positive number, never negative.
  EXPECT_EQ(FormatFileLine(1, "system\\engine.dll", 0xCBF43926u, 120),
            "F1=system\\engine.dll|3421780262|120|n");
  EXPECT_EQ(FormatFileLine(12, "a", 0xFFFFFFFFu, -1), "F12=a|4294967295|-1|n");
  // Names pass verbatim, a "|" included.
  EXPECT_EQ(FormatFileLine(3, "odd|name", 7, 100), "F3=odd|name|7|100|n");
}

TEST(ManifestWriter, WritesEachStepWithCrLf) {
  test::TempDir dir;
  ManifestWriter writer(dir / "updates.lst");
  test::WriteFile(writer.Path(), "an old manifest, longer than the new one\r\n");
  writer.Start();
  EXPECT_EQ(test::ReadFile(writer.Path()), "[self]\r\n");
  writer.AppendSelf("Teskor.exe", 1, 2);
  writer.AppendMisc("", "0", 0); // an empty value is still written
  writer.AppendFile(1, "a\\b", 3, 4);
  writer.Finish();
  EXPECT_EQ(test::ReadFile(writer.Path()),
            "[self]\r\nIAM=Teskor.exe|1|2\r\n[misc]\r\nServer=\r\n"
            "ModifyHost=0\r\n[files]\r\nfcount=0\r\nF1=a\\b|3|4|n\r\n");
}

TEST(ManifestWriter, ReportsRunTimeErrors) {
  test::TempDir dir;
  // Appending to a manifest that vanished is an error, not a fresh file.
  ManifestWriter missing(dir / "gone.lst");
  try {
    missing.AppendSelf("Teskor.exe", 1, 2);
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.what(), "File not found: \"" + dir / "gone.lst" + "\".");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "gone.lst"));

  // Every write is checked: a full disk is reported, not passed over.
  if (!std::filesystem::exists("/dev/full"))
    GTEST_SKIP() << "/dev/full is missing";
  ManifestWriter full("/dev/full");
  EXPECT_THROW(
      {
        try {
          full.Start();
        } catch (const EInOutError& e) {
          EXPECT_STREQ(e.what(), "Disk full: \"/dev/full\".");
          throw;
        }
      },
      EInOutError);
}

ParsedManifest Parse(const std::string& text) {
  return ParseManifest(text);
}

const std::string Head = "[self]\r\nIAM=Teskor.exe|1|98\r\n[misc]\r\nServer=s\r\nModifyHost=0\r\n"
                         "[files]\r\nfcount=2\r\n";

TEST(ManifestReader, ReadsWhatTheWriterWrites) {
  const auto parsed = Parse(Head + "F1=a|b.txt|4294967295|100|n\r\nF2=dir\\c.bin|0|-1|n\r\n");
  EXPECT_TRUE(parsed.Problems.empty());
  ASSERT_EQ(parsed.Archives.size(), 3u);
  EXPECT_TRUE(parsed.Archives[0].IsSelf);
  EXPECT_EQ(parsed.Archives[0].RelativePath, "Teskor.exe");
  EXPECT_EQ(parsed.Archives[1].RelativePath, "a|b.txt"); // fields are taken from the right
  EXPECT_EQ(parsed.Archives[1].Crc, 4294967295u);
  EXPECT_EQ(parsed.Archives[2].RelativePath, "dir/c.bin");
  EXPECT_EQ(parsed.Archives[2].Size, -1);
  EXPECT_EQ(parsed.Archives[2].Line, 9);
}

// Each broken manifest yields a problem on the line named.
TEST(ManifestReader, NamesEachDeparture) {
  struct Case {
    std::string Text;
    std::int32_t Line;
    std::string Fragment;
  };
  const std::string f1 = "F1=a|1|2|n\r\n";
  const std::vector<Case> cases = {
      {"", 0, "empty"},
      {Head + "F1=a|1|2|n", 8, "CR LF"},
      {Head + "F1=a|1|2|n\nF2=b|1|2|n\r\n", 8, "ends with LF alone"},
      {Head + "F1=a\rb|1|2|n\r\n", 8, "lone CR"},
      {"[self]\r\nIAM=Teskor.exe|1|98\r\n[misc]\r\n", 4, "missing"},
      {"[Self]\r\n" + Head.substr(8) + f1, 1, "\"[self]\""},
      {Head.substr(0, Head.size() - 10) + "fcount=x\r\n" + f1, 7, "fcount"},
      {Head + "F1=a|1|2|n\r\nF3=b|1|2|n\r\n", 9, "F2 was expected"},
      {Head + "F01=a|1|2|n\r\n", 8, "an F line"},
      {Head + f1 + "F2=b|1|2|n\r\nF3=c|1|2|n\r\n", 7, "less than the 3 F lines"},
      {Head + "F1=..\\x|1|2|n\r\n", 8, "not a relative path"},
      {Head + "F1=\\x|1|2|n\r\n", 8, "not a relative path"},
      {Head + "F1=a|01|2|n\r\n", 8, "not a CRC-32"},
      {Head + "F1=a|4294967296|2|n\r\n", 8, "not a CRC-32"},
      {Head + "F1=a|1|2147483648|n\r\n", 8, "not an archive size"},
      {Head + "F1=a|1|2|y\r\n", 8, "was expected"},
      {Head + "F1=Data\\A.txt|1|2|n\r\nF2=data\\a.TXT|1|2|n\r\n", 9, "more than once"},
      {Head + f1 + "\r\n", 9, "an F line"},
  };
  for (const Case& c : cases) {
    const auto parsed = Parse(c.Text);
    bool found = false;
    for (const auto& problem : parsed.Problems)
      found |= problem.Line == c.Line && problem.Text.find(c.Fragment) != std::string::npos;
    EXPECT_TRUE(found) << "no problem on line " << c.Line << " mentioning \"" << c.Fragment
                       << "\" for:\n"
                       << c.Text;
  }
}

// One fault is one problem: the numbering goes on from a number out of step, and a line that
// ends in LF alone is still a line, so the lines after either are judged on their own.
TEST(ManifestReader, OneFaultIsOneProblem) {
  std::string lines;
  for (int i = 1; i <= 50; ++i)
    if (i != 5)
      lines +=
          "F" + std::to_string(i) + "=f" + std::to_string(i) + "|1|2|n" + (i == 30 ? "\n" : "\r\n");
  std::string head = Head;
  head.replace(head.find("fcount=2"), 8, "fcount=49");
  const auto parsed = Parse(head + lines);
  ASSERT_EQ(parsed.Problems.size(), 2u);
  EXPECT_NE(parsed.Problems[0].Text.find("F5 was expected here, not F6"), std::string::npos);
  EXPECT_NE(parsed.Problems[1].Text.find("ends with LF alone"), std::string::npos);
  EXPECT_EQ(parsed.Archives.size(), 50u); // the self file's line too
}

} // namespace
} // namespace vornel
