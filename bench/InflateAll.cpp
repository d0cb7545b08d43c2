// The limit for checking an update set: every archive under a folder read whole, its one entry
// inflated (raw deflate, 64 KiB output blocks) and its CRC-32 compared with the local header's,
// one after another on one core, with nothing else checked. One inflate state, one input and
// one output buffer serve every archive.
//
// Usage: vornel_inflate_all [--in-memory] UPLOAD_DIR
// --in-memory reads every archive first and then prints the seconds the unpacking alone took:
// the work a check of archives that arrive over the network cannot do without.

#include <zlib.h>

#include <chrono>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::uint32_t Le(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

class Inflater {
public:
  Inflater() : output_(65536) { ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ok_)
      inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // True when the archive's first entry inflates to the CRC its local header gives.
  bool Check(const std::filesystem::path& zip, std::uint64_t& unpacked) {
    return Read(zip, bytes_) && CheckBytes(bytes_, unpacked);
  }

  static bool Read(const std::filesystem::path& zip, std::string& bytes) {
    std::ifstream file(zip, std::ios::binary);
    bytes.resize(static_cast<std::size_t>(std::filesystem::file_size(zip)));
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
  }

  bool CheckBytes(const std::string& bytes, std::uint64_t& unpacked) {
    if (!ok_ || bytes.size() < 30 || Le(bytes, 0, 4) != 0x04034B50 || inflateReset(&z_) != Z_OK)
      return false;
    const std::size_t start = 30 + Le(bytes, 26, 2) + Le(bytes, 28, 2);
    const std::uint32_t packed = Le(bytes, 18, 4);
    if (start + packed > bytes.size())
      return false;
    if (Le(bytes, 8, 2) == 0) { // stored (an empty file)
      unpacked += packed;
      return crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + start), packed) ==
             Le(bytes, 14, 4);
    }
    if (Le(bytes, 8, 2) != 8)
      return false;
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + start));
    z_.avail_in = packed;
    uLong crc = crc32(0, nullptr, 0);
    int status = Z_OK;
    while (status == Z_OK) {
      z_.next_out = output_.data();
      z_.avail_out = static_cast<uInt>(output_.size());
      status = inflate(&z_, Z_NO_FLUSH);
      const auto produced = static_cast<uInt>(output_.size() - z_.avail_out);
      crc = crc32(crc, output_.data(), produced);
      unpacked += produced;
    }
    return status == Z_STREAM_END && crc == Le(bytes, 14, 4);
  }

private:
  z_stream z_{};
  bool ok_ = false;
  std::vector<Bytef> output_;
  std::string bytes_; // the archive, its buffer kept from one to the next
};

} // namespace

int main(int argc, char** argv) {
  const bool inMemory = argc == 3 && std::string(argv[1]) == "--in-memory";
  if (argc != 2 && !inMemory) {
    std::cerr << "usage: vornel_inflate_all [--in-memory] UPLOAD_DIR\n";
    return 2;
  }
  std::vector<std::filesystem::path> archives;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[argc - 1])) {
    if (entry.is_regular_file() && entry.path().extension() == ".zip")
      archives.push_back(entry.path());
  }
  Inflater inflater;
  std::uint64_t unpacked = 0, bad = 0;
  if (inMemory) {
    std::vector<std::string> contents(archives.size());
    for (std::size_t i = 0; i < archives.size(); ++i) {
      if (!Inflater::Read(archives[i], contents[i]))
        ++bad;
    }
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& bytes : contents) {
      if (!inflater.CheckBytes(bytes, unpacked))
        ++bad;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cout << "unpacking alone took " << took.count() << " s; ";
  } else {
    for (const auto& archive : archives) {
      if (!inflater.Check(archive, unpacked))
        ++bad;
    }
  }
  std::cout << archives.size() << " archives, " << unpacked << " bytes unpacked, " << bad
            << " bad\n";
  return bad == 0 ? 0 : 1;
}
