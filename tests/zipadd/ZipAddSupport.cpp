#include "tests/zipadd/ZipAddSupport.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <zlib.h>

namespace vornel::test {

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(bytes, at)) |
         static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16;
}

std::string ModelDeflate(const std::string& data, int level, std::vector<std::int64_t>* progress) {
  z_stream z{};
  if (deflateInit(&z, level) != Z_OK)
    throw std::runtime_error("deflateInit");
  std::string out;
  std::string buffer(65536, '\0');
  auto reset = [&] {
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = static_cast<uInt>(buffer.size());
  };
  reset();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  while (z.avail_in > 0) {
    deflate(&z, Z_NO_FLUSH);
    if (z.avail_out == 0) {
      out += buffer;
      reset();
      if (progress)
        progress->push_back(static_cast<std::int64_t>(z.total_in));
    }
  }
  while (deflate(&z, Z_FINISH) != Z_STREAM_END) {
    if (z.avail_out == 0) {
      out += buffer;
      reset();
    }
  }
  out.append(buffer.data(), buffer.size() - z.avail_out);
  deflateEnd(&z);
  return out.substr(2, out.size() - 6);
}

std::vector<std::vector<std::string>> PythonDeflate(const std::vector<std::string>& inputs,
                                                    const std::vector<int>& levels,
                                                    const std::string& scratchDir) {
  // One interpreter for everything: starting Python costs more than the compressing.
  std::vector<std::string> command = {"python3", "-c", "", ""};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string in = scratchDir + "/python-in-" + std::to_string(i);
    WriteFile(in, inputs[i]);
    command.push_back(in);
  }
  std::string levelList;
  for (int level : levels)
    levelList += (levelList.empty() ? "" : ",") + std::to_string(level);
  const std::string script = "import sys, zlib\n"
                             "for name in sys.argv[2:]:\n"
                             "    d = open(name, 'rb').read()\n"
                             "    for level in [int(x) for x in sys.argv[1].split(',')]:\n"
                             "        open(name + '.' + str(level), 'wb').write("
                             "zlib.compress(d, level)[2:-4])\n";
  command[2] = script;
  command[3] = levelList;
  if (RunProcess(command).Code != 0)
    throw std::runtime_error("python3 zlib failed");
  std::vector<std::vector<std::string>> results(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (int level : levels)
      results[i].push_back(
          ReadFile(scratchDir + "/python-in-" + std::to_string(i) + "." + std::to_string(level)));
  }
  return results;
}

std::string PythonZipCheck(const std::string& archive) {
  const std::string script = "import sys, zipfile\n"
                             "with zipfile.ZipFile(sys.argv[1]) as z:\n"
                             "    bad = z.testzip()\n"
                             "    print('bad entry: ' + bad if bad else '', end='')\n";
  const ProcessResult checked = RunProcess({"python3", "-c", script, archive}, {.ErrToOut = true});
  if (checked.Code != 0 && checked.Out.empty())
    return "python3 exited with " + std::to_string(checked.Code);
  return checked.Out;
}

bool PythonExtract(const std::string& archive, const std::string& dir) {
  const std::string script =
      "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1]) as z: z.extractall(sys.argv[2])\n";
  return RunProcess({"python3", "-c", script, archive, dir}).Code == 0;
}

bool UnzipTest(const std::string& archive) {
  return RunProcess({"unzip", "-t", archive}).Code == 0;
}

void ExpectPeersAccept(const std::string& archive, bool withUnzip) {
  SKIP_WITHOUT_PROGRAMS("python3") << ": the archive's own checks ran, the peers' were left out";
  EXPECT_EQ(PythonZipCheck(archive), "");
  if (!withUnzip)
    return;
  SKIP_WITHOUT_PROGRAMS("unzip") << ": the archive's own checks ran, unzip's was left out";
  EXPECT_TRUE(UnzipTest(archive));
}

void CreateAndOpen(TPellum& zip, const std::string& path) {
  zip.CreateArchiveFile(path);
  zip.OpenArchive(path);
}

std::string TextBytes(std::size_t count, unsigned seed) {
  // A vocabulary of a few thousand made-up words: compresses to about half, like prose, without
  // the endless match chains that a handful of words would give deflate's best levels.
  std::mt19937 generator(seed);
  std::vector<std::string> words(4096);
  for (auto& word : words) {
    const std::size_t letters = 2 + generator() % 8;
    for (std::size_t i = 0; i < letters; ++i)
      word += static_cast<char>('a' + generator() % 26);
    word += generator() % 12 == 0 ? "\r\n" : " ";
  }
  std::string text;
  text.reserve(count + 16);
  while (text.size() < count)
    text += words[generator() % words.size()];
  text.resize(count);
  return text;
}

} // namespace vornel::test
