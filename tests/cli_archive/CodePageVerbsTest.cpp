// --codepage on the archive verbs and on verify: entry names written, shown and matched in the
// chosen code page; without it UTF-8 names are flagged as such.

#include "tests/cli_archive/CliHarness.h"

#include <gtest/gtest.h>

namespace vornel::test {
namespace {

// Prints each entry's name (read in the code page given, else as zipfile decides) and flags.
const char* const kNames = R"(
import sys, zipfile
options = {"metadata_encoding": sys.argv[2]} if len(sys.argv) > 2 else {}
with zipfile.ZipFile(sys.argv[1], **options) as z:
    for i in z.infolist():
        print("%s %#x" % (i.filename, i.flag_bits))
)";

const std::string kMap = "\xD0\xBA\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0.map"; // "карта.map"

TEST(CodePageVerbs, NamesInTheChosenCodePageOrFlaggedUtf8) {
  SKIP_WITHOUT_PROGRAMS("python3") << ": it reads the names";
  TempDir dir;
  WriteFile(dir / kMap, "map");
  WriteFile(dir / "clean/Teskor.exe", "self");
  WriteFile(dir / ("clean/" + kMap), "map");

  EXPECT_EQ(RunVornel(dir, {"add", "--codepage", "1251", "a.zip", kMap}).Code, 0);
  EXPECT_EQ(RunPython(dir, kNames, {"a.zip", "cp1251"}).Out, kMap + " 0x0\n");
  EXPECT_EQ(RunVornel(dir, Words("list --codepage 1251 a.zip")).Out.substr(0, kMap.size() + 1),
            kMap + "\t");
  // Letter case is ignored beyond ASCII too: "КАРТА.MAP" names "карта.map".
  const std::string upper = "\xD0\x9A\xD0\x90\xD0\xA0\xD0\xA2\xD0\x90.MAP";
  EXPECT_EQ(RunVornel(dir, {"remove", "--codepage", "1251", "a.zip", upper}).Code, 0);
  EXPECT_EQ(RunVornel(dir, Words("list a.zip")).Out, "");

  EXPECT_EQ(RunVornel(dir, {"add", "u.zip", kMap}).Code, 0);
  EXPECT_EQ(RunPython(dir, kNames, {"u.zip"}).Out, kMap + " 0x800\n");

  const ProcessResult refused = RunVornel(dir, {"add", "--codepage", "1252", "x.zip", kMap});
  EXPECT_EQ(refused.Code, 1);
  EXPECT_EQ(refused.Err, "\"" + kMap + "\" cannot be written in code page 1252\n");
  EXPECT_EQ(RunVornel(dir, Words("list --codepage latin u.zip")).Code, 1);

  // verify finds the archives again only when told the build's code page.
  ASSERT_EQ(RunVornel(dir, Words("build --quiet --codepage 1251 clean")).Code, 0);
  EXPECT_EQ(RunVornel(dir, Words("verify --codepage 1251")).Out, "verified 2 archives: all good\n");
  EXPECT_EQ(RunVornel(dir, Words("verify")).Code, 1);
}

} // namespace
} // namespace vornel::test
