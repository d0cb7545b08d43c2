// The limit for a build that must write exactly the bytes of zlib level 9: every file of a tree
// deflated (raw, level 9, a 32 KiB window, memory level 8, the input in 64 KiB blocks) into a
// file of its own, one after another on one core, with nothing else done.
//
// Usage: vornel_deflate_all TREE OUT_DIR

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t Block = 65536;

// Deflates one file; false when it cannot be read or written.
bool DeflateFile(const std::filesystem::path& source, const std::filesystem::path& target,
                 std::uint64_t& in, std::uint64_t& out) {
  std::ifstream input(source, std::ios::binary);
  std::ofstream output(target, std::ios::binary | std::ios::trunc);
  if (!input || !output)
    return false;
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return false;
  std::vector<char> inBuffer(Block);
  std::vector<char> outBuffer(Block);
  bool ok = true;
  for (bool last = false; !last && ok;) {
    input.read(inBuffer.data(), static_cast<std::streamsize>(inBuffer.size()));
    const auto got = static_cast<std::size_t>(input.gcount());
    if (input.bad()) {
      ok = false;
      break;
    }
    last = got < inBuffer.size();
    in += got;
    z.next_in = reinterpret_cast<Bytef*>(inBuffer.data());
    z.avail_in = static_cast<uInt>(got);
    int status = Z_OK;
    do {
      z.next_out = reinterpret_cast<Bytef*>(outBuffer.data());
      z.avail_out = static_cast<uInt>(outBuffer.size());
      status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      const std::size_t produced = outBuffer.size() - z.avail_out;
      output.write(outBuffer.data(), static_cast<std::streamsize>(produced));
      out += produced;
    } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
  }
  deflateEnd(&z);
  output.close();
  return ok && !output.fail();
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: vornel_deflate_all TREE OUT_DIR\n";
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path tree = argv[1];
  const fs::path outDir = argv[2];
  fs::create_directories(outDir);
  std::uint64_t files = 0;
  std::uint64_t in = 0;
  std::uint64_t out = 0;
  for (const auto& item : fs::recursive_directory_iterator(tree)) {
    if (!item.is_regular_file())
      continue;
    const fs::path target = outDir / (std::to_string(files) + ".deflate");
    if (!DeflateFile(item.path(), target, in, out)) {
      std::cerr << "cannot deflate " << item.path() << "\n";
      return 1;
    }
    ++files;
  }
  std::cout << files << " files, " << in << " bytes in, " << out << " bytes out\n";
  return 0;
}
