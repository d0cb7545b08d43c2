#include "platform/Ini.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace vornel {
namespace {

using test::TempDir;
using test::WriteFile;

class IniTest : public ::testing::Test {
protected:
  std::string Lookup(const std::string& content, const std::string& section, const std::string& key,
                     const std::string& fallback = "DEF", std::size_t bufferSize = 2048) {
    WriteFile(path_, content);
    return GetPrivateProfileString(section, key, fallback, path_, bufferSize);
  }

  TempDir dir_;
  std::string path_ = dir_ / "settings.ini";
};

TEST_F(IniTest, SectionAndKeyIgnoreCaseAndSurroundingBlanks) {
  const std::string ini = "; comment\r\n  [ Main ]  \r\n\tserver = 10.0.0.1 \t\r\nMODHOST=1\r\n";
  EXPECT_EQ(Lookup(ini, "main", "Server"), "10.0.0.1");
  EXPECT_EQ(Lookup(ini, "MAIN", "ModHost"), "1");
  EXPECT_EQ(Lookup(ini, "main", "CustomName"), "DEF");
  EXPECT_EQ(Lookup(ini, "other", "Server"), "DEF");
}

TEST_F(IniTest, OnePairOfMatchingQuotesIsStripped) {
  const std::string ini = "[main]\n"
                          "a=\" spaced \"\n"
                          "b='single'\n"
                          "c=\"mixed'\n"
                          "d=\"\"x\"\"\n"
                          "e=\"\n"
                          "f=in \"the\" middle\n";
  EXPECT_EQ(Lookup(ini, "main", "a"), " spaced ");
  EXPECT_EQ(Lookup(ini, "main", "b"), "single");
  EXPECT_EQ(Lookup(ini, "main", "c"), "\"mixed'");
  EXPECT_EQ(Lookup(ini, "main", "d"), "\"x\"");
  EXPECT_EQ(Lookup(ini, "main", "e"), "\"");
  EXPECT_EQ(Lookup(ini, "main", "f"), "in \"the\" middle");
}

TEST_F(IniTest, EmptyValueIsNotTheDefault) {
  EXPECT_EQ(Lookup("[main]\nServer=\n", "main", "Server"), "");
  EXPECT_EQ(Lookup("[main]\nServer=   \n", "main", "Server"), "");
}

TEST_F(IniTest, FirstMatchWinsAndOnlyTheFirstSectionOfANameCounts) {
  const std::string ini = "[main]\nk=1\nk=2\n[other]\nj=3\n[MAIN]\nk=4\nlate=5\n";
  EXPECT_EQ(Lookup(ini, "main", "k"), "1");
  EXPECT_EQ(Lookup(ini, "main", "late"), "DEF");
  EXPECT_EQ(Lookup(ini, "other", "j"), "3");
}

TEST_F(IniTest, KeysOutsideTheSectionCommentsAndOddLinesAreIgnored) {
  const std::string ini = "k=top\n[main]\n;k=commented\nno equals sign\n=nameless\nk=x=y\n";
  EXPECT_EQ(Lookup(ini, "main", "k"), "x=y");
  EXPECT_EQ(Lookup(ini, "", "k"), "DEF");
}

TEST_F(IniTest, ValuesAndDefaultsAreCutToTheBuffer) {
  const std::string longValue(3000, 'v');
  EXPECT_EQ(Lookup("[main]\nServer=" + longValue + "\n", "main", "Server"), std::string(2047, 'v'));
  EXPECT_EQ(Lookup("[main]\n", "main", "Server", longValue), std::string(2047, 'v'));
  EXPECT_EQ(Lookup("[main]\nServer=abcdef\n", "main", "Server", "DEF", 4), "abc");
  EXPECT_EQ(Lookup("[main]\nServer=abcdef\n", "main", "Server", "DEF", 0), "");
  EXPECT_EQ(Lookup(std::string("[main]\nServer=ab\0cd\n", 19), "main", "Server"), "ab");
}

TEST_F(IniTest, MissingFileOrFolderGivesTheDefaultUnchanged) {
  EXPECT_EQ(GetPrivateProfileString("main", "Server", " 127.0.0.1 ", dir_ / "none.ini"),
            " 127.0.0.1 ");
  EXPECT_EQ(GetPrivateProfileString("main", "Server", "d", dir_.Str()), "d");
}

TEST_F(IniTest, ByteOrderMarkAndLastLineWithoutBreak) {
  EXPECT_EQ(Lookup("\xEF\xBB\xBF[main]\r\nCustomName=Teskor.exe", "main", "CustomName"),
            "Teskor.exe");
}

TEST_F(IniTest, ArbitraryBytesNeverBreakTheLookup) {
  for (unsigned seed = 0; seed < 200; ++seed) {
    std::string bytes = test::RandomBytes(seed * 7 % 900, seed);
    // Sprinkle in the structure characters so the parser takes its other branches too.
    for (std::size_t i = 0; i < bytes.size(); i += 13)
      bytes[i] = "[]=\n\r;\"' "[seed % 9];
    const std::string value = Lookup("[main]\n" + bytes, "main", "k", "DEF", 64);
    EXPECT_LE(value.size(), 63u);
  }
}

TEST(IniFileTest, ReadsThroughTheLookup) {
  TempDir dir;
  WriteFile(dir / "settings.ini", "[main]\nCustomName=\"Client Updater.exe\"\n");
  const IniFile ini(dir / "settings.ini");
  EXPECT_EQ(ini.ReadString("main", "CustomName", "Teskor.exe"), "Client Updater.exe");
  EXPECT_EQ(ini.ReadString("main", "Server", "127.0.0.1"), "127.0.0.1");
}

} // namespace
} // namespace vornel
