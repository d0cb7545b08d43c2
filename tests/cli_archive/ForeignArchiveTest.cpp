// Archives of other tools that the verbs cannot describe are refused untouched; data descriptors
// of both lengths survive every change, for every peer including a streaming reader.

#include "tests/cli_archive/CliHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel::test {
namespace {

// Each writes ARCHIVE (argv[1]).
const char* const kOverCount = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for i in range(65540):
        z.writestr("%05d" % i, b"x")
)";

const char* const kForceZip64Stream = R"(
import io, sys, zipfile
class Pipe(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(sys.argv[1], "wb") as f:
    with zipfile.ZipFile(Pipe(f), "w", zipfile.ZIP_DEFLATED) as z:
        for name in ["a", "b", "c"]:
            with z.open(name, "w", force_zip64=True) as e:
                e.write(name.encode() * 1000)
)";

const char* const kForceZip64 = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    with z.open("a", "w", force_zip64=True) as e:
        e.write(b"a" * 1000)
)";

const char* const kCommentEndRecord = R"(
import random, sys, zipfile
rng = random.Random(5)
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(3):
        z.writestr("f%d" % i, bytes(rng.getrandbits(8) for _ in range(48000)))
    z.comment = b"note" + b"PK\x05\x06" + bytes(18)
)";

// Three entries, but the end record counts two.
const char* const kUncounted = R"(
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for name in ["a", "b", "c"]:
        z.writestr(name, name * 10)
data = bytearray(open(sys.argv[1], "rb").read())
data[-14:-10] = struct.pack("<HH", 2, 2)
open(sys.argv[1], "wb").write(data)
)";

// Entries with bit 3 whose data descriptor has its signature (argv[2] "16") or not ("12").
const char* const kDescriptors = R"(
import struct, sys, zlib
files = [("one.txt", b"first entry " * 50), ("two.bin", bytes(range(256)) * 40),
         ("three.txt", b"3" * 999)]
out, central = bytearray(), bytearray()
for name, data in files:
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = c.compress(data) + c.flush()
    crc, offset, n = zlib.crc32(data), len(out), name.encode()
    out += struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 8, 8, 0, 0x21, 0, 0, 0, len(n), 0) + n
    out += packed + (struct.pack("<I", 0x08074b50) if sys.argv[2] == "16" else b"")
    out += struct.pack("<III", crc, len(packed), len(data))
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, 8, 8, 0, 0x21, crc,
                           len(packed), len(data), len(n), 0, 0, 0, 0, 0x20, offset) + n
start = len(out)
out += central + struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 3, 3, len(central), start, 0)
open(sys.argv[1], "wb").write(out)
)";

// Names in order after Python's zipfile has checked every CRC.
const char* const kNames = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    print(" ".join(z.namelist()))
)";

struct Refused {
  const char* label;
  const char* script; // Python that writes the archive a.zip, or
  const char* zip;    // zip's command that does (its input, and numbers.txt: many numbers)
  const char* entry;  // an entry to remove
  const char* reason; // what list and every refusal say
  bool listed = true; // list shows the entries (the reason a warning) instead of refusing
};

TEST(ForeignArchives, UndescribableArchivesAreListedAndNeverChanged) {
  SKIP_WITHOUT_PROGRAMS("python3") << ": it writes the archives";
  const std::vector<Refused> cases = {
      {"more than 65,535 entries", kOverCount, nullptr, "00001", "zip64 archive"},
      {"zip64 descriptors from a pipe", nullptr, "zip -q - -", "-", "zip64 archive"},
      {"zip64 streamed by Python", kForceZip64Stream, nullptr, "b", "zip64 archive"},
      {"zip64 forced by Python", kForceZip64, nullptr, "a", "zip64 archive"},
      {"zip64 forced by zip", nullptr, "zip -q -fz a.zip numbers.txt", "numbers.txt",
       "zip64 archive", false},
      {"split into parts", nullptr, "zip -q -s 64k a.zip random.bin", "random.bin",
       "split archive"},
      {"encrypted", nullptr, "zip -q -P secret a.zip numbers.txt", "numbers.txt",
       "encrypted entry \"numbers.txt\""},
      {"an end record in the comment", kCommentEndRecord, nullptr, "f1",
       "the directory does not end where its end record begins"},
      {"more records than counted", kUncounted, nullptr, "a",
       "the directory holds more than the entries its end record counts"},
  };
  const std::vector<std::string> changes = {"comment --set hi a.zip", "remove a.zip ENTRY",
                                            "remove --rebuild a.zip ENTRY", "add a.zip new.txt",
                                            "add --rebuild --temp-files a.zip new.txt"};
  std::string numbers;
  for (int i = 1; i <= 100000; ++i)
    numbers += std::to_string(i) + "\n";
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    WriteFile(dir / "new.txt", "new\n");
    WriteFile(dir / "numbers.txt", numbers);
    WriteFile(dir / "random.bin", RandomBytes(200000, 3));
    if (c.zip) {
      if (!HaveProgram("zip"))
        continue;
      // Written to a pipe, zip cannot seek back: sizes follow in zip64 data descriptors.
      const bool piped = std::string(c.zip).ends_with(" -");
      const ProcessResult zipped =
          RunProcess(Words(c.zip), {.WorkDir = dir.Str(), .Input = piped ? numbers : ""});
      ASSERT_EQ(zipped.Code, 0) << zipped.Err;
      if (piped)
        WriteFile(dir / "a.zip", zipped.Out);
    } else {
      const ProcessResult made = RunPython(dir, c.script, {"a.zip"});
      ASSERT_EQ(made.Code, 0) << made.Err;
    }
    const std::string before = ReadFile(dir / "a.zip");
    ProcessResult result = RunVornel(dir, Words("list a.zip"));
    EXPECT_EQ(result.Code, c.listed ? 0 : 1) << result.Err;
    EXPECT_NE(result.Err.find(c.reason), std::string::npos) << result.Err;
    for (std::string change : changes) {
      std::vector<std::string> args = Words(change);
      for (std::string& arg : args)
        if (arg == "ENTRY")
          arg = c.entry;
      result = RunVornel(dir, args);
      EXPECT_EQ(result.Code, 1) << change << ": " << result.Err;
      EXPECT_NE(result.Err.find(c.reason), std::string::npos) << change << ": " << result.Err;
      EXPECT_NE(result.Err.find("not supported"), std::string::npos)
          << change << ": " << result.Err;
      EXPECT_EQ(ReadFile(dir / "a.zip"), before) << change;
    }
  }
}

TEST(ForeignArchives, DescriptorsOfBothLengthsSurviveEveryChange) {
  SKIP_WITHOUT_PROGRAMS("python3", "unzip") << ": they check the archives";
  const bool streaming = HaveProgram("bsdtar");
  struct Change {
    std::string args;
    std::string names;
  };
  const std::vector<Change> changes = {
      {"remove a.zip two.bin", "one.txt three.txt"},
      {"remove --rebuild a.zip two.bin", "one.txt three.txt"},
      {"remove a.zip one.txt", "two.bin three.txt"},
      {"add a.zip new.txt", "one.txt two.bin three.txt new.txt"},
      {"add --rebuild a.zip new.txt", "one.txt two.bin three.txt new.txt"},
      {"comment --set hi a.zip", "one.txt two.bin three.txt"},
  };
  for (const char* length : {"12", "16"}) {
    for (const Change& change : changes) {
      SCOPED_TRACE(std::string(length) + "-byte descriptors: " + change.args);
      TempDir dir;
      WriteFile(dir / "new.txt", "new\n");
      const ProcessResult made = RunPython(dir, kDescriptors, {"a.zip", length});
      ASSERT_EQ(made.Code, 0) << made.Err;
      const ProcessResult result = RunVornel(dir, Words(change.args));
      ASSERT_EQ(result.Code, 0) << result.Err;
      EXPECT_TRUE(UnzipTestPasses(dir / "a.zip"));
      const ProcessResult names = RunPython(dir, kNames, {"a.zip"});
      EXPECT_EQ(names.Out, change.names + "\n") << names.Err;
      if (streaming) {
        // A streaming reader sees only the local records, one after another.
        const std::string zip = ReadFile(dir / "a.zip");
        const ProcessResult extracted = RunProcess({"bsdtar", "-xOf", "-"}, {.Input = zip});
        EXPECT_EQ(extracted.Code, 0) << extracted.Err;
        const ProcessResult listed = RunProcess({"bsdtar", "-tf", "-"}, {.Input = zip});
        EXPECT_EQ(listed.Code, 0) << listed.Err;
        EXPECT_EQ(Words(listed.Out), Words(change.names));
      }
    }
  }
}

} // namespace
} // namespace vornel::test
