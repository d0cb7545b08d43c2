#include "platform/DateTime.h"
#include "tests/support/TestSupport.h"
#include "tests/zipadd/ZipAddSupport.h"
#include "zip/Pellum.h"

#include <gtest/gtest.h>

#include <zlib.h>

namespace vornel::test {
namespace {

struct Strategy {
  const char* Name;
  TZipSaveMethod Method;
  bool TempFiles;
};

class AddPeers : public ::testing::TestWithParam<Strategy> {
protected:
  void SetUp() override {
    SKIP_WITHOUT_PROGRAMS("python3", "unzip");
    zip.SetSaveMethod(GetParam().Method);
    zip.SetUseTempFiles(GetParam().TempFiles);
  }

  TempDir dir;
  std::string path = dir / "archive.zip";
  TPellum zip;
};

TEST_P(AddPeers, ArchivesPassUnzipAndPythonAndReopen) {
  struct Source {
    std::string EntryName;
    std::string Stored;
    std::string Bytes;
  };
  const std::vector<Source> sources = {
      {"docs\\readme.txt", "docs/readme.txt", TextBytes(1 << 20, 1)},
      {"bin\\tool.exe", "bin/tool.exe", RandomBytes(300000, 2)},
      {"empty.cfg", "empty.cfg", ""},
      {"docs\\deep\\one.bin", "docs/deep/one.bin", "1"},
      {"DOCS\\README.TXT", "DOCS/README.TXT", TextBytes(70000, 3)}, // replaces docs/readme.txt
  };
  zip.SetStoreRelativePath(true);
  zip.SetStoreFolders(true);
  CreateAndOpen(zip, path);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string file = dir / ("source" + std::to_string(i));
    WriteFile(file, sources[i].Bytes);
    ASSERT_NE(zip.Entries().AddFileAs(file, sources[i].EntryName), nullptr);
  }
  zip.CloseArchive();

  EXPECT_EQ(PythonZipCheck(path), "");
  EXPECT_TRUE(UnzipTest(path));
  TempDir python;
  ASSERT_TRUE(PythonExtract(path, python.Str()));
  TempDir unzipped;
  ASSERT_EQ(RunProcess({"unzip", "-qq", path, "-d", unzipped.Str()}).Code, 0);
  for (std::size_t i = 1; i < sources.size(); ++i) {
    SCOPED_TRACE(sources[i].Stored);
    EXPECT_EQ(ReadFile(python / sources[i].Stored), sources[i].Bytes);
    EXPECT_EQ(ReadFile(unzipped / sources[i].Stored), sources[i].Bytes);
  }

  // Our own loader sees the same directory, with the local records one after another.
  TPellum reopened;
  reopened.OpenArchive(path);
  ASSERT_TRUE(reopened.GetIsZipFile());
  const std::vector<std::string> expected = {"docs/",          "bin/",       "bin/tool.exe",
                                             "empty.cfg",      "docs/deep/", "docs/deep/one.bin",
                                             "DOCS/README.TXT"};
  ASSERT_EQ(reopened.Entries().Count(), static_cast<std::int32_t>(expected.size()));
  std::int64_t offset = 0;
  for (std::int32_t i = 0; i < reopened.Entries().Count(); ++i) {
    const TPellumEntriesEntry& entry = reopened.Entries()[i];
    SCOPED_TRACE(entry.CentralHeader.FileName);
    EXPECT_EQ(entry.CentralHeader.FileName, expected[i]);
    EXPECT_EQ(entry.CentralHeader.RelativeOffsetOfLocalHeader, offset);
    EXPECT_EQ(entry.LocalHeader.Crc32, entry.CentralHeader.Crc32);
    EXPECT_EQ(entry.LocalHeader.CompressedSize, entry.CentralHeader.CompressedSize);
    EXPECT_EQ(entry.Folder, expected[i].back() == '/');
    offset += entry.LocalSpan();
  }
  EXPECT_EQ(reopened.GetEndRecord().OffsetOfStartOfCentralDirectory, offset);
}

TEST_P(AddPeers, ArchivesOfOtherToolsTakeNewEntries) {
  SKIP_WITHOUT_PROGRAMS("zip");
  // zip writes extra fields of different lengths into the local and central headers.
  WriteFile(dir / "in/a.txt", TextBytes(30000, 4));
  WriteFile(dir / "in/b.bin", RandomBytes(20000, 5));
  ASSERT_EQ(RunProcess(Command("zip -q -z", {path, "a.txt", "b.bin"}),
                       {.WorkDir = dir / "in", .Input = "made by zip\n"})
                .Code,
            0);
  zip.OpenArchive(path);
  ASSERT_TRUE(zip.GetIsZipFile());
  MemoryStream data(TextBytes(40000, 6));
  ASSERT_NE(zip.Entries().AddEntry("c.txt", 0x20, data, Now()), nullptr);
  MemoryStream replacement("new b");
  ASSERT_NE(zip.Entries().AddEntry("b.bin", 0x20, replacement, Now()), nullptr);
  zip.CloseArchive();

  EXPECT_EQ(PythonZipCheck(path), "");
  EXPECT_TRUE(UnzipTest(path));
  TempDir out;
  ASSERT_TRUE(PythonExtract(path, out.Str()));
  EXPECT_EQ(ReadFile(out / "a.txt"), TextBytes(30000, 4));
  EXPECT_EQ(ReadFile(out / "b.bin"), "new b");
  EXPECT_EQ(ReadFile(out / "c.txt"), TextBytes(40000, 6));
  const ProcessResult comment = RunProcess(
      {"python3", "-c", "import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).comment)", path});
  EXPECT_EQ(comment.Out, "b'made by zip'\n");
}

// The comment's stored bytes are carried over exactly, also when they are not in the line form
// (no final line break, a lone line feed): its length field stays true and the archive ends
// right behind it.
TEST_P(AddPeers, CommentBytesStayExactlyAsStored) {
  for (const std::string& comment :
       {std::string("first line\r\nlast line"), std::string("a\nb"), std::string("abc\r\n")}) {
    SCOPED_TRACE(comment);
    WriteFile(path, std::string("PK\x05\x06", 4) + std::string(16, '\0') +
                        static_cast<char>(comment.size()) + '\0' + comment);
    zip.OpenArchive(path);
    ASSERT_TRUE(zip.GetIsZipFile());
    MemoryStream data(TextBytes(5000, 7));
    ASSERT_NE(zip.Entries().AddEntry("x.txt", 0x20, data, Now()), nullptr);
    EXPECT_EQ(zip.GetEndRecord().ZipFileCommentLength, comment.size());
    EXPECT_EQ(zip.GetCommentPosition() + static_cast<std::int64_t>(comment.size()),
              zip.GetArchiveStream()->Size());
    zip.CloseArchive();
    const std::string bytes = ReadFile(path);
    ASSERT_GT(bytes.size(), comment.size());
    EXPECT_EQ(bytes.substr(bytes.size() - comment.size()), comment);
    EXPECT_EQ(Le16(bytes, bytes.size() - comment.size() - 2), comment.size());
    EXPECT_EQ(PythonZipCheck(path), "");
  }
}

// An archive whose local records do not follow one another (another tool left a gap): after a
// rebuild the entries hold the offsets of the new layout, so a later in-place add writes a
// directory that points at the right records.
TEST(AddAfterRebuild, EntriesFollowTheNewLayout) {
  SKIP_WITHOUT_PROGRAMS("python3");
  TempDir dir;
  const std::string path = dir / "gap.zip";
  {
    TPellum maker;
    CreateAndOpen(maker, path);
    MemoryStream a(TextBytes(3000, 8));
    maker.Entries().AddEntry("a.txt", 0x20, a, Now());
    MemoryStream b(TextBytes(4000, 9));
    maker.Entries().AddEntry("b.txt", 0x20, b, Now());
  }
  std::string bytes = ReadFile(path);
  const std::size_t gapAt = 30 + 5 + Le32(bytes, 18);
  const std::size_t gap = 64;
  bytes.insert(gapAt, std::string(gap, '\0'));
  const std::size_t end = bytes.size() - 22;
  const std::size_t directory = Le32(bytes, end + 16) + gap;
  auto put32 = [&bytes](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  put32(directory + 46 + 5 + 42, static_cast<std::uint32_t>(gapAt + gap));
  put32(end + 16, static_cast<std::uint32_t>(directory));
  WriteFile(path, bytes);
  ASSERT_EQ(PythonZipCheck(path), "");

  TPellum zip;
  zip.OpenArchive(path);
  ASSERT_EQ(zip.Entries().Count(), 2);
  zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
  MemoryStream c("c");
  zip.Entries().AddEntry("c.txt", 0x20, c, Now());
  EXPECT_EQ(zip.Entries()[1].CentralHeader.RelativeOffsetOfLocalHeader, gapAt);
  zip.SetSaveMethod(TZipSaveMethod::FastSave);
  MemoryStream d("d");
  zip.Entries().AddEntry("d.txt", 0x20, d, Now());
  zip.CloseArchive();
  EXPECT_EQ(PythonZipCheck(path), "");
  TempDir out;
  ASSERT_TRUE(PythonExtract(path, out.Str()));
  EXPECT_EQ(ReadFile(out / "b.txt"), TextBytes(4000, 9));
  EXPECT_EQ(ReadFile(out / "d.txt"), "d");
}

INSTANTIATE_TEST_SUITE_P(
    Strategies, AddPeers,
    ::testing::Values(Strategy{"FastSave", TZipSaveMethod::FastSave, false},
                      Strategy{"RebuildInMemory", TZipSaveMethod::RebuildAll, false},
                      Strategy{"RebuildInTempFile", TZipSaveMethod::RebuildAll, true}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace vornel::test
