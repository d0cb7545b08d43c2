#include "platform/StringList.h"
#include "platform/TextCompare.h"

#include <gtest/gtest.h>

namespace vornel {
namespace {

TEST(SameTextTest, FoldsAsciiAndUnicodeLetters) {
  EXPECT_TRUE(SameTextIgnoreCase("data/A.txt", "DATA/a.TXT"));
  EXPECT_FALSE(SameTextIgnoreCase("a.txt", "a.txt "));
  EXPECT_TRUE(SameTextIgnoreCase("", ""));
  // U+00E9 / U+00C9 and Cyrillic U+0434 / U+0414.
  EXPECT_TRUE(SameTextIgnoreCase("caf\xC3\xA9", "CAF\xC3\x89"));
  EXPECT_TRUE(SameTextIgnoreCase("\xD0\xB4", "\xD0\x94"));
  EXPECT_FALSE(SameTextIgnoreCase("\xC3\xA9", "E"));
}

TEST(SameTextTest, InvalidUtf8FallsBackToAsciiFolding) {
  // Latin-1 bytes: the letters fold as ASCII, the high bytes must match exactly.
  EXPECT_TRUE(SameTextIgnoreCase("caf\xE9", "CAF\xE9"));
  EXPECT_FALSE(SameTextIgnoreCase("caf\xE9", "caf\xC9"));
  // Overlong encoding of '/' is no valid UTF-8 and so no slash.
  EXPECT_FALSE(SameTextIgnoreCase("a\xC0\xAF", "a/"));
  EXPECT_TRUE(SameTextIgnoreCase("A\xC3", "a\xC3")); // truncated sequence
}

TEST(StringListTest, TextEndsEveryLineWithCrLf) {
  EXPECT_EQ(StringListText({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(StringListText({}), "");
}

TEST(StringListTest, SplitsAtEveryKindOfBreak) {
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (TStringList{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), TStringList{"a"});
  EXPECT_EQ(SplitLines("a\n\r"), (TStringList{"a", ""}));
  EXPECT_EQ(SplitLines("\r\n\r\n"), (TStringList{"", ""}));
  EXPECT_EQ(SplitLines(""), TStringList{});
  EXPECT_EQ(SplitLines(std::string("a\nb\0c\nd", 7)), (TStringList{"a", "b"}));
  const TStringList lines = {"one", "", "three"};
  EXPECT_EQ(SplitLines(StringListText(lines)), lines);
}

} // namespace
} // namespace vornel
