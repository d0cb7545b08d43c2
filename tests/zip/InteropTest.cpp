// Archives written by zip and by Python's zipfile load with the right entries, and after every
// kind of removal unzip and zipfile still accept them and extract the rest unchanged.

#include "tests/support/TestSupport.h"
#include "tests/zip/ZipTestUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace vornel;

namespace {

using Originals = std::map<std::string, std::string>;

struct Sample {
  std::string archive;
  Originals files; // entry name -> content; folders have no content
  std::string comment;
};

// The peer's own view: name -> "size crc" for every entry.
std::map<std::string, std::string> PeerListing(const std::string& path) {
  std::string output;
  const char* script = R"(import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print("%s\t%d %08x" % (i.filename, i.file_size, i.CRC))
)";
  EXPECT_EQ(ziptest::RunPython(script, {path}, &output), 0) << output;
  std::map<std::string, std::string> listing;
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    const std::string line = output.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos)
      listing[line.substr(0, tab)] = line.substr(tab + 1);
    start = end == std::string::npos ? output.size() : end + 1;
  }
  return listing;
}

std::map<std::string, std::string> OurListing(TPellum& zip) {
  std::map<std::string, std::string> listing;
  char text[32];
  for (std::int32_t i = 0; i < zip.Entries().Count(); ++i) {
    const TCentralDirectoryFile& header = zip.Entries()[i].CentralHeader;
    std::snprintf(text, sizeof text, "%u %08x", header.UncompressedSize, header.Crc32);
    listing[header.FileName] = text;
  }
  return listing;
}

class Interop : public ::testing::Test {
protected:
  void SetUp() override {
    SKIP_WITHOUT_PROGRAMS("zip", "unzip", "python3");
    const std::string src = dir_ / "src";
    files_ = {{"top.txt", "top level text\n"},
              {"sub/deep/data.bin", test::RandomBytes(20000, 21)},
              {"sub/empty.txt", ""},
              {"sub/repeat.txt", std::string(30000, 'r')}};
    for (const auto& [name, content] : files_)
      test::WriteFile(src + "/" + name, content);
  }

  // Runs a peer in src/; returns its standard output.
  std::string Run(const std::vector<std::string>& command, const std::string& input = "") {
    const test::ProcessResult result =
        test::RunProcess(command, {.WorkDir = dir_ / "src", .Input = input});
    EXPECT_EQ(result.Code, 0) << command[0] << ": " << result.Err;
    return result.Out;
  }

  std::vector<Sample> Samples() {
    std::vector<Sample> samples;
    const std::string z1 = dir_ / "zip-r.zip";
    Run({"zip", "-qr", z1, "."});
    Run({"zip", "-qz", z1}, "made by zip\n");
    Originals withFolders = files_;
    withFolders["sub/"] = "";
    withFolders["sub/deep/"] = "";
    samples.push_back({z1, withFolders, "made by zip"});

    // Written to a pipe, zip cannot seek back: sizes go into data descriptors.
    const std::string z2 = dir_ / "pipe.zip";
    test::WriteFile(z2, Run(test::Words("zip -q -fz- - top.txt sub/deep/data.bin sub/repeat.txt")));
    test::WriteFile(dir_ / "stdin.zip",
                    Run(test::Words("zip -q -fz- - -"), files_["sub/repeat.txt"]));
    samples.push_back({z2,
                       {{"top.txt", files_["top.txt"]},
                        {"sub/deep/data.bin", files_["sub/deep/data.bin"]},
                        {"sub/repeat.txt", files_["sub/repeat.txt"]}},
                       ""});
    samples.push_back({dir_ / "stdin.zip", {{"-", files_["sub/repeat.txt"]}}, ""});

    const std::string z3 = dir_ / "python.zip";
    const char* script = R"(import os, sys, zipfile
os.chdir(sys.argv[2])
z = zipfile.ZipFile(sys.argv[1], "w")
z.writestr("folder/", b"")
z.writestr("folder/stored.bin", open("sub/deep/data.bin", "rb").read(), zipfile.ZIP_STORED)
z.writestr("deflated.txt", open("sub/repeat.txt", "rb").read(), zipfile.ZIP_DEFLATED)
z.writestr("top.txt", open("top.txt", "rb").read(), zipfile.ZIP_DEFLATED)
z.comment = b"python comment\r\nsecond line"
z.close()
)";
    std::string output;
    EXPECT_EQ(ziptest::RunPython(script, {z3, dir_ / "src"}, &output), 0) << output;
    samples.push_back({z3,
                       {{"folder/", ""},
                        {"folder/stored.bin", files_["sub/deep/data.bin"]},
                        {"deflated.txt", files_["sub/repeat.txt"]},
                        {"top.txt", files_["top.txt"]}},
                       "python comment\r\nsecond line"});
    return samples;
  }

  test::TempDir dir_;
  Originals files_;
};

} // namespace

TEST_F(Interop, PeerArchivesLoadWithTheirEntries) {
  for (const Sample& sample : Samples()) {
    TPellum zip;
    zip.OpenArchive(sample.archive);
    ASSERT_TRUE(zip.GetIsZipFile()) << sample.archive;
    EXPECT_EQ(OurListing(zip), PeerListing(sample.archive)) << sample.archive;
    std::string comment;
    for (const std::string& line : zip.GetComment())
      comment += (comment.empty() ? "" : "\r\n") + line;
    EXPECT_EQ(comment, sample.comment) << sample.archive;
    for (std::int32_t i = 0; i < zip.Entries().Count(); ++i) {
      const TPellumEntriesEntry& entry = zip.Entries()[i];
      const std::string& name = entry.CentralHeader.FileName;
      EXPECT_EQ(entry.Folder || name.back() == '/', name.back() == '/') << name;
      EXPECT_EQ(entry.LocalHeader.FileName, name);
      EXPECT_EQ(entry.LocalHeader.Crc32, entry.CentralHeader.Crc32) << name;
    }
  }
}

TEST_F(Interop, EveryRemovalKeepsPeersHappy) {
  const std::vector<Sample> samples = Samples();
  struct Way {
    TZipSaveMethod method;
    bool tempFiles;
    const char* label;
  };
  const Way ways[] = {{TZipSaveMethod::FastSave, false, "in place"},
                      {TZipSaveMethod::RebuildAll, false, "memory"},
                      {TZipSaveMethod::RebuildAll, true, "temp file"}};
  ziptest::ScopedTempEnv tmp;
  for (const Sample& sample : samples) {
    for (const Way& way : ways) {
      const std::string copy = dir_ / "work.zip";
      // Not copy_file: mingw's cannot overwrite a file.
      test::WriteFile(copy, test::ReadFile(sample.archive));
      TPellum zip;
      zip.SetSaveMethod(way.method);
      zip.SetUseTempFiles(way.tempFiles);
      zip.OpenArchive(copy);
      ASSERT_TRUE(zip.GetIsZipFile());
      // Take out an entry from the middle when there is one, so that others move.
      const std::int32_t index = zip.Entries().Count() > 1 ? 1 : 0;
      const std::string removed = zip.Entries()[index].CentralHeader.FileName;
      zip.Entries().RemoveEntry(index);
      zip.CloseArchive();
      std::vector<std::pair<std::string, std::string>> rest;
      for (const auto& [name, content] : sample.files)
        if (name != removed)
          rest.emplace_back(name, content);
      if (rest.empty())
        continue; // an empty archive is what it should be; unzip only warns about it
      EXPECT_EQ(ziptest::PeerCheck(copy, rest), "OK") << sample.archive << ", " << way.label;
      EXPECT_EQ(PeerListing(copy).count(removed), 0u);
    }
  }
  EXPECT_TRUE(tmp.Empty());
}
