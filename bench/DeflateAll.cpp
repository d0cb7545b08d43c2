// The limit for a build that must write exactly the bytes of zlib level 9: every file of a tree
// deflated (raw, level 9, a 32 KiB window, memory level 8, the input in 64 KiB blocks) into a
// file of its own, one after another on one core, with nothing else done. One deflate state and
// one pair of buffers serve every file (deflateReset gives the bytes of a fresh state), so not
// even allocation is timed.
//
// Usage: vornel_deflate_all TREE OUT_DIR [JOBS]
//   Without JOBS: every file into OUT_DIR/N.deflate, one after another on one core.
//   With JOBS: the plain program a build of many small files is held against: the tree's folders
//   mirrored under OUT_DIR, then JOBS workers, each with one deflate state reset between files,
//   take the files in turn and write each to its own new file (name + ".zip") in the mirror.

#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t Block = 65536;

class Deflater {
public:
  Deflater() : input_(Block), output_(Block) {
    ok_ = deflateInit2(&z_, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ok_)
      deflateEnd(&z_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Deflates one file; false when it cannot be read or written.
  bool File(const std::filesystem::path& source, const std::filesystem::path& target,
            std::uint64_t& in, std::uint64_t& out) {
    std::ifstream input(source, std::ios::binary);
    std::ofstream output(target, std::ios::binary | std::ios::trunc);
    if (!ok_ || !input || !output || deflateReset(&z_) != Z_OK)
      return false;
    for (bool last = false; !last;) {
      input.read(input_.data(), static_cast<std::streamsize>(input_.size()));
      const auto got = static_cast<std::size_t>(input.gcount());
      if (input.bad())
        return false;
      last = got < input_.size();
      in += got;
      z_.next_in = reinterpret_cast<Bytef*>(input_.data());
      z_.avail_in = static_cast<uInt>(got);
      int status = Z_OK;
      do {
        z_.next_out = reinterpret_cast<Bytef*>(output_.data());
        z_.avail_out = static_cast<uInt>(output_.size());
        status = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
        const std::size_t produced = output_.size() - z_.avail_out;
        output.write(output_.data(), static_cast<std::streamsize>(produced));
        out += produced;
      } while (z_.avail_out == 0 || (last && status != Z_STREAM_END));
    }
    output.close();
    return !output.fail();
  }

private:
  z_stream z_{};
  bool ok_ = false;
  std::vector<char> input_;
  std::vector<char> output_;
};

} // namespace

// The files of the tree mirrored under outDir by JOBS workers; false when one failed.
bool DeflateMirrored(const std::filesystem::path& tree, const std::filesystem::path& outDir,
                     unsigned jobs, std::uint64_t& in, std::uint64_t& out, std::uint64_t& files) {
  namespace fs = std::filesystem;
  std::vector<fs::path> sources;
  fs::create_directories(outDir);
  for (const auto& item : fs::recursive_directory_iterator(tree)) {
    const fs::path relative = fs::relative(item.path(), tree);
    if (item.is_directory())
      fs::create_directory(outDir / relative);
    else if (item.is_regular_file())
      sources.push_back(relative);
  }
  std::atomic<std::size_t> next{0};
  std::atomic<std::uint64_t> totalIn{0};
  std::atomic<std::uint64_t> totalOut{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < jobs; ++j)
    workers.emplace_back([&] {
      Deflater deflater;
      std::uint64_t myIn = 0;
      std::uint64_t myOut = 0;
      for (std::size_t i = next++; i < sources.size() && !failed; i = next++) {
        fs::path target = outDir / sources[i];
        target += ".zip";
        if (!deflater.File(tree / sources[i], target, myIn, myOut))
          failed = true;
      }
      totalIn += myIn;
      totalOut += myOut;
    });
  for (std::thread& worker : workers)
    worker.join();
  in = totalIn;
  out = totalOut;
  files = sources.size();
  return !failed;
}

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: vornel_deflate_all TREE OUT_DIR [JOBS]\n";
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path tree = argv[1];
  const fs::path outDir = argv[2];
  std::uint64_t files = 0;
  std::uint64_t in = 0;
  std::uint64_t out = 0;
  if (argc == 4) {
    const int jobs = std::atoi(argv[3]);
    if (jobs < 1 || !DeflateMirrored(tree, outDir, static_cast<unsigned>(jobs), in, out, files)) {
      std::cerr << "cannot deflate the tree\n";
      return 1;
    }
    std::cout << files << " files, " << in << " bytes in, " << out << " bytes out\n";
    return 0;
  }
  fs::create_directories(outDir);
  Deflater deflater;
  for (const auto& item : fs::recursive_directory_iterator(tree)) {
    if (!item.is_regular_file())
      continue;
    const fs::path target = outDir / (std::to_string(files) + ".deflate");
    if (!deflater.File(item.path(), target, in, out)) {
      std::cerr << "cannot deflate " << item.path() << "\n";
      return 1;
    }
    ++files;
  }
  std::cout << files << " files, " << in << " bytes in, " << out << " bytes out\n";
  return 0;
}
