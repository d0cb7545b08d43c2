// Every change verb and mode, cut short: killed at random moments (the real program), and failing
// at every write of a small case (the component on a stream that fails after N bytes). Afterwards
// the archive reads, by Python's zipfile, unzip and our own reader alike, as exactly the archive
// before or exactly the archive after: every entry's name and bytes, and the comment.

#include "tests/cli_archive/CliHarness.h"
#include "tests/support/FaultyStream.h"
#include "zip/Pellum.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// For each archive named, one line in their order: its entries ("name size crc32 of the bytes
// read") and its comment, or the reason it cannot be read. Reading checks every CRC.
const char* const kDigests = R"(
import sys, zipfile, zlib
for path in sys.argv[1:]:
    try:
        with zipfile.ZipFile(path) as z:
            lines = ["%s %d %08x" % (i.filename, i.file_size, zlib.crc32(z.read(i)))
                     for i in z.infolist()]
            print("|".join(lines) + "|comment " + z.comment.hex())
    except Exception as error:
        print("unreadable: %r" % error)
)";

std::string Hex(const std::string& bytes) {
  static const char* const digits = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes)
    text += std::string{digits[c >> 4], digits[c & 15]};
  return text;
}

// The same digest by our own reader.
std::string OwnDigest(std::unique_ptr<Stream> archive) {
  TPellum zip;
  Stream& stream = *archive;
  zip.OpenFromStream(std::move(archive));
  if (!zip.GetIsZipFile())
    return "unreadable";
  std::string digest;
  for (std::int32_t i = 0; i < zip.Entries().Count(); ++i) {
    const TPellumEntriesEntry& entry = zip.Entries()[i];
    TLocalFile local;
    zip.Entries().ReadEntryLocalHeader(stream, entry, local, false);
    const std::uint32_t size = entry.CentralHeader.UncompressedSize;
    const std::string data = entry.CentralHeader.CompressionMethod == 8
                                 ? RawInflate(local.FileData, size).value_or("<damaged>")
                                 : local.FileData.substr(0, size);
    char line[32];
    std::snprintf(
        line, sizeof line, " %u %08lx|", size,
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    digest += entry.CentralHeader.FileName + line;
  }
  std::string comment;
  for (const std::string& line : zip.GetComment())
    comment += line + "\r\n";
  return digest + "comment " + Hex(comment);
}

std::string OwnDigestOfFile(const std::string& path) {
  try {
    return OwnDigest(std::make_unique<FileStream>(path, FileStream::Mode::OpenRead));
  } catch (const std::exception& error) {
    return std::string("unreadable: ") + error.what();
  }
}

// Python's digests of the archives, by path (under wine the paths it is given are translated,
// so its lines are matched by their order).
std::map<std::string, std::string> PythonDigests(const TempDir& dir,
                                                 const std::vector<std::string>& paths) {
  std::map<std::string, std::string> digests;
  const ProcessResult run = RunPython(dir, kDigests, paths);
  std::size_t start = 0;
  for (const std::string& path : paths) {
    if (start >= run.Out.size())
      break;
    const std::size_t end = run.Out.find('\n', start);
    digests[path] = run.Out.substr(start, end - start);
    start = end == std::string::npos ? run.Out.size() : end + 1;
  }
  return digests;
}

// The component with the archive of bytes open on a stream whose writes can be made to fail.
std::unique_ptr<TPellum> OpenFaulty(const std::string& bytes, FaultyStream*& stream,
                                    TZipSaveMethod method) {
  auto owned = std::make_unique<FaultyStream>(bytes);
  stream = owned.get();
  auto zip = std::make_unique<TPellum>();
  zip->SetSaveMethod(method);
  zip->OpenFromStream(std::move(owned));
  return zip;
}

struct Change {
  const char* Label;
  const char* Args; // the verb's words; a.zip is the archive
};

// One of each verb and mode; the archive before holds one.txt, old.bin, two.txt and a comment.
const std::vector<Change>& Changes() {
  static const std::vector<Change> changes = {
      {"add in place", "add a.zip big.txt"},
      {"add replacing an entry", "add a.zip big.txt one.txt"},
      {"add many", "add a.zip f0.txt f1.txt f2.txt f3.txt f4.txt f5.txt big.txt f6.txt"},
      {"add --rebuild", "add --rebuild a.zip big.txt f0.txt"},
      {"add --rebuild --temp-files", "add --rebuild --temp-files a.zip one.txt big.txt"},
      {"remove in place", "remove a.zip old.bin"},
      {"remove --rebuild --temp-files", "remove --rebuild --temp-files a.zip one.txt old.bin"},
      {"comment --set", "comment a.zip --set changed comment"},
      {"comment --clear", "comment a.zip --clear"},
  };
  return changes;
}

class InterruptedChange : public ::testing::Test {
protected:
  void SetUp() override {
    SKIP_WITHOUT_PROGRAMS("python3", "unzip") << ": they judge the archives";
    WriteFile(dir_ / "one.txt", Prose(3000, 1));
    WriteFile(dir_ / "two.txt", "two\n");
    WriteFile(dir_ / "old.bin", Prose(1500000, 2));
    ASSERT_EQ(RunVornel(dir_, Words("add a.zip one.txt old.bin two.txt")).Code, 0);
    ASSERT_EQ(RunVornel(dir_, Words("comment a.zip --set before")).Code, 0);
    pristine_ = ReadFile(dir_ / "a.zip");
    WriteFile(dir_ / "one.txt", Prose(5000, 3));
    WriteFile(dir_ / "big.txt", Prose(1500000, 4));
    for (int i = 0; i < 7; ++i)
      WriteFile(dir_ / ("f" + std::to_string(i) + ".txt"), Prose(400 + 100 * i, 10 + i));
  }

  // Temporary files that killed rewrites left beside the archive.
  std::set<std::string> Strays() const {
    std::set<std::string> strays;
    for (const auto& file : fs::directory_iterator(dir_.Path())) {
      if (file.path().extension() == ".tmp")
        strays.insert(file.path().filename().string());
    }
    return strays;
  }

  TempDir dir_;
  std::string pristine_;
};

TEST_F(InterruptedChange, KilledAtRandomMomentsLeavesTheArchiveBeforeOrAfter) {
  const std::string results = dir_ / "results";
  fs::create_directories(FsPath(results));
  std::mt19937 random(22);
  int befores = 0;
  int afters = 0;
  int strays = 0;
  std::set<std::string> seen;
  for (const Change& change : Changes()) {
    SCOPED_TRACE(change.Label);
    std::vector<std::string> command{VornelPath()};
    for (const std::string& word : Words(change.Args))
      command.push_back(word);
    // The whole change, timed, gives the after state and the span the kills fall in.
    WriteFile(dir_ / "a.zip", pristine_);
    const auto started = Clock::now();
    ASSERT_EQ(RunProcess(command, {.WorkDir = dir_.Str()}).Code, 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
    const std::string before = results + "/before.zip";
    const std::string after = results + "/after.zip";
    WriteFile(before, pristine_);
    WriteFile(after, ReadFile(dir_ / "a.zip"));

    std::vector<std::string> kept{before, after};
    std::map<std::string, std::string> own;
    // Under wine every start of the program takes most of a second: fewer moments there.
    const int rounds = OnWindows() ? 10 : 50;
    for (int round = 0; round < rounds; ++round) {
      WriteFile(dir_ / "a.zip", pristine_);
      const auto moment = std::chrono::microseconds(random() % (span.count() + 1));
      StartedProcess child(command, dir_.Str());
      ASSERT_TRUE(child.Started());
      std::this_thread::sleep_for(moment);
      child.Kill();
      child.Wait();
      for (const std::string& stray : Strays())
        strays += seen.insert(stray).second;
      const std::string copy = results + "/" + std::to_string(round) + ".zip";
      WriteFile(copy, ReadFile(dir_ / "a.zip"));
      EXPECT_TRUE(UnzipTestPasses(copy)) << "killed after " << moment.count() << " us";
      own[copy] = OwnDigestOfFile(copy);
      kept.push_back(copy);
    }
    // The next change that runs to its end takes away what the killed ones left.
    WriteFile(dir_ / "a.zip", pristine_);
    ASSERT_EQ(RunProcess(command, {.WorkDir = dir_.Str()}).Code, 0);
    EXPECT_EQ(Strays(), std::set<std::string>());
    const auto python = PythonDigests(dir_, kept);
    const std::string was = python.at(before);
    const std::string is = python.at(after);
    ASSERT_NE(was, is);
    EXPECT_EQ(OwnDigestOfFile(before), was);
    EXPECT_EQ(OwnDigestOfFile(after), is);
    for (const auto& [copy, digest] : own) {
      const std::string peer = python.count(copy) ? python.at(copy) : "missing";
      EXPECT_TRUE(peer == was || peer == is) << copy << ": " << peer;
      EXPECT_EQ(digest, peer) << copy;
      befores += peer == was;
      afters += peer == is;
    }
  }
  std::cout << "[ kills    ] " << befores << " left the archive before, " << afters << " after; "
            << strays << " stray temporary files\n";
}

// The component on a stream whose writes fail after N bytes, for every N of a small case: the
// change is reported, and the stream holds the archive before or after. In place, the medium
// stays failed (a full disk) or works again at once (a passing fault). A rewrite is renamed over
// an archive file (the kills above cover it); over a stream that is no file it can only be
// copied, and put back when the medium works again, so it gets the passing fault.
TEST_F(InterruptedChange, FailingAtEveryWriteLeavesTheArchiveBeforeOrAfter) {
  struct ComponentChange {
    const char* Label;
    bool Rebuild;
    bool Rewrites;
    std::function<void(TPellum&)> Run;
  };
  MemoryStream one(Prose(900, 5));
  const std::vector<ComponentChange> changes = {
      {"add", false, false,
       [&](TPellum& zip) { zip.Entries().AddEntry("new.txt", 0x20, one, 40000); }},
      {"replace", false, true,
       [&](TPellum& zip) { zip.Entries().AddEntry("two.txt", 0x20, one, 40000); }},
      {"add rebuilding", true, true,
       [&](TPellum& zip) { zip.Entries().AddEntry("new.txt", 0x20, one, 40000); }},
      {"remove", false, true, [](TPellum& zip) { zip.Entries().RemoveEntry(0); }},
      {"comment", false, false,
       [](TPellum& zip) {
         zip.SetComment({"a new", "comment"});
       }},
      {"comment cleared", false, false, [](TPellum& zip) { zip.SetComment({}); }},
  };
  std::string small;
  {
    TPellum zip;
    zip.OpenFromStream(std::make_unique<MemoryStream>(ReadFile(dir_ / "a.zip")));
    for (std::int32_t i = zip.Entries().Count() - 1; i >= 0; --i) {
      if (zip.Entries()[i].CentralHeader.FileName == "old.bin")
        zip.Entries().RemoveEntry(i);
    }
    Stream& stream = *zip.GetArchiveStream();
    stream.SetPosition(0);
    small = stream.ReadString(static_cast<std::size_t>(stream.Size()));
  }
  const std::string results = dir_ / "failed";
  fs::create_directories(FsPath(results));
  int failures = 0;
  for (const ComponentChange& change : changes) {
    SCOPED_TRACE(change.Label);
    const auto run = [&](FaultyStream*& stream) {
      one.SetPosition(0);
      return OpenFaulty(small, stream,
                        change.Rebuild ? TZipSaveMethod::RebuildAll : TZipSaveMethod::FastSave);
    };
    FaultyStream* stream = nullptr;
    std::string after;
    std::uint64_t total = 0;
    {
      auto zip = run(stream);
      change.Run(*zip);
      after = stream->Bytes();
      total = stream->Written();
    }
    const std::string was = OwnDigest(std::make_unique<MemoryStream>(small));
    const std::string is = OwnDigest(std::make_unique<MemoryStream>(after));
    ASSERT_NE(was, is);
    std::map<std::string, std::string> distinct; // result bytes -> file, for the peers
    for (const auto fault : {FaultyStream::WriteFault::Persistent, FaultyStream::WriteFault::Once})
      for (std::uint64_t budget = 0; budget < total; ++budget) {
        if (change.Rewrites && fault == FaultyStream::WriteFault::Persistent)
          break;
        auto zip = run(stream);
        stream->FailWritesAfter(budget, fault);
        EXPECT_ANY_THROW(change.Run(*zip)) << budget;
        ++failures;
        const std::string bytes = stream->Bytes();
        const std::string own = OwnDigest(std::make_unique<MemoryStream>(bytes));
        EXPECT_TRUE(own == was || own == is) << "failed after " << budget << ": " << own;
        if (!distinct.count(bytes)) {
          const std::string file = results + "/" + std::to_string(distinct.size()) + ".zip";
          WriteFile(file, bytes);
          distinct[bytes] = file;
        }
      }
    std::vector<std::string> files;
    for (const auto& [bytes, file] : distinct)
      files.push_back(file);
    const auto python = PythonDigests(dir_, files);
    for (const auto& [bytes, file] : distinct) {
      EXPECT_TRUE(UnzipTestPasses(file)) << file;
      EXPECT_EQ(python.count(file) ? python.at(file) : "missing",
                OwnDigest(std::make_unique<MemoryStream>(bytes)))
          << file;
    }
    fs::remove_all(FsPath(results));
    fs::create_directories(FsPath(results));
  }
  std::cout << "[ faults   ] " << failures << " failed writes, each reported\n";
}

// Growing an archive whose directory outgrows a page far past its end: the copies of the
// directory laid down on the way can be cut at any byte, and every reader still finds the
// archive as it was (unzip and Python look for the end record only near the end).
TEST_F(InterruptedChange, CutCopiesOfALargeDirectoryKeepTheArchiveReadable) {
  std::string many;
  {
    TPellum zip;
    MemoryStream empty;
    zip.WriteEmptyArchive(empty);
    zip.OpenFromStream(std::make_unique<MemoryStream>(empty.Bytes()));
    for (int i = 0; i < 150; ++i) {
      MemoryStream data(RandomBytes(2000, 100 + i));
      zip.Entries().AddEntry("entry-" + std::to_string(i) + ".bin", 0x20, data, 40000);
    }
    Stream& stream = *zip.GetArchiveStream();
    stream.SetPosition(0);
    many = stream.ReadString(static_cast<std::size_t>(stream.Size()));
  }
  MemoryStream big(RandomBytes(600000, 9));
  const auto run = [&](FaultyStream*& stream) {
    big.SetPosition(0);
    return OpenFaulty(many, stream, TZipSaveMethod::FastSave);
  };
  FaultyStream* stream = nullptr;
  std::string after;
  std::uint64_t total = 0;
  {
    auto zip = run(stream);
    zip->Entries().AddEntry("big.bin", 0x20, big, 40000);
    after = stream->Bytes();
    total = stream->Written();
  }
  const std::string was = OwnDigest(std::make_unique<MemoryStream>(many));
  const std::string is = OwnDigest(std::make_unique<MemoryStream>(after));
  // Densely where the copies go, sparsely over the new data.
  std::vector<std::uint64_t> budgets;
  for (std::uint64_t budget = 0; budget < 120000; budget += 509)
    budgets.push_back(budget);
  for (std::uint64_t budget = 120000; budget < total; budget += 8191)
    budgets.push_back(budget);
  std::map<std::string, std::string> sampled; // kill snapshots -> file, for the peers
  for (const auto fault : {FaultyStream::WriteFault::Persistent, FaultyStream::WriteFault::Once})
    for (std::size_t i = 0; i < budgets.size(); ++i) {
      auto zip = run(stream);
      stream->FailWritesAfter(budgets[i], fault);
      EXPECT_ANY_THROW(zip->Entries().AddEntry("big.bin", 0x20, big, 40000)) << budgets[i];
      // As the failure left it, and as a kill at that byte would have.
      for (const std::string& bytes : {stream->Bytes(), stream->BytesAtFault()}) {
        const std::string own = OwnDigest(std::make_unique<MemoryStream>(bytes));
        EXPECT_TRUE(own == was || own == is) << "failed after " << budgets[i] << ": " << own;
      }
      const std::string& killed = stream->BytesAtFault();
      if (fault == FaultyStream::WriteFault::Persistent && i % 4 == 0 && !sampled.count(killed)) {
        sampled[killed] = dir_ / ("cut-" + std::to_string(sampled.size()) + ".zip");
        WriteFile(sampled[killed], killed);
      }
    }
  std::vector<std::string> files;
  for (const auto& [bytes, file] : sampled)
    files.push_back(file);
  const auto python = PythonDigests(dir_, files);
  for (const auto& [bytes, file] : sampled) {
    EXPECT_TRUE(UnzipTestPasses(file)) << file;
    const std::string peer = python.count(file) ? python.at(file) : "missing";
    EXPECT_TRUE(peer == was || peer == is) << file << ": " << peer;
  }
}

} // namespace
} // namespace vornel::test
