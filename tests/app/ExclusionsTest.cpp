#include "app/Exclusions.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

namespace vornel::test {
namespace {

TEST(Exclusions, IgnoreFileRules) {
  struct Case {
    std::string Pattern;
    std::string Path;
    bool Folder;
    bool Excluded;
  };
  const Case cases[] = {
      {"*.pdb", "engine.pdb", false, true},
      {"*.pdb", "bin/x64/Engine.PDB", false, true}, // any depth, letter case ignored
      {"*.pdb", "engine.pdb.txt", false, false},
      {"*.pdb", ".hidden.pdb", false, true},
      {"Thumbs.db", "maps/thumbs.db", false, true},
      {".git/", ".git", true, true},
      {".git/", "sub/.git", true, true},
      {".git/", ".git", false, false}, // a file of that name stays
      {"logs/**", "logs/today.txt", false, true},
      {"logs/**", "logs/old/1.txt", false, true},
      {"logs/**", "logs", true, false},
      {"logs/**", "data/logs/x.txt", false, false}, // anchored at the clean folder
      {"/readme.txt", "readme.txt", false, true},
      {"/readme.txt", "docs/readme.txt", false, false},
      {"data/*.ini", "data/config.ini", false, true},
      {"data/*.ini", "data/sub/config.ini", false, false},
      {"**/cache/", "a/b/cache", true, true},
      {"**/cache/", "cache", true, true},
      {"a/**/z.txt", "a/z.txt", false, true},
      {"a/**/z.txt", "a/b/c/z.txt", false, true},
      {"data\\*.ini", "data/config.ini", false, true},
      {"save?.dat", "save1.dat", false, true},
      {"[ab].txt", "B.txt", false, true},
  };
  for (const Case& test : cases) {
    // Windows' pattern matching knows no [...] sets.
    if (OnWindows() && test.Pattern.find('[') != std::string::npos)
      continue;
    const auto match = Exclusions({test.Pattern}).Match(test.Path, test.Folder);
    EXPECT_EQ(match.has_value(), test.Excluded) << test.Pattern << " on " << test.Path;
  }
}

TEST(Exclusions, SettingListAndFirstMatchNamed) {
  const Exclusions exclude(Exclusions::SplitSetting(" *.pdb ; ;.git/;Thumbs.db;"));
  EXPECT_EQ(exclude.Match("x/a.pdb", false), "*.pdb");
  EXPECT_EQ(exclude.Match(".git", true), ".git/");
  EXPECT_EQ(exclude.Match("Thumbs.db", false), "Thumbs.db");
  EXPECT_FALSE(exclude.Match("readme.txt", false));
  EXPECT_TRUE(Exclusions(Exclusions::SplitSetting("")).Empty());
}

} // namespace
} // namespace vornel::test
