#include "tests/support/TestSupport.h"

#include <zlib.h>

#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vornel::test {

TempDir::TempDir() {
  // TMPDIR on Linux, TMP or TEMP on Windows; a folder that already exists is never taken.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = base / ("vornel-test-" + std::to_string(entropy()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Make everything writable again so that read-only leftovers go too.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

bool CanMakeSymlinks() {
  static const bool can = [] {
    TempDir dir;
    std::error_code error;
    std::filesystem::create_symlink(dir.Path() / "target", dir.Path() / "link", error);
    return !error;
  }();
  return can;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  const std::filesystem::path p = FsPath(path);
  if (p.has_parent_path())
    std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void SetLocalModifiedTime(const std::string& path, int year, int month, int day, int hour,
                          int minute, int second, std::chrono::microseconds fraction) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1; // whatever daylight-saving time was in force on that date
  const std::time_t when = std::mktime(&fields);
  if (when == static_cast<std::time_t>(-1))
    throw std::runtime_error("cannot convert the local time for " + path);
  std::filesystem::last_write_time(
      path,
      std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(when) + fraction));
}

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto& byte : bytes)
    byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string Prose(std::size_t size, unsigned seed) {
  static const char* const words[] = {"patch ",     "client ", "update ", "server ",  "archive ",
                                      "folder\r\n", "map ",    "engine ", "texture ", "sound "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size)
    text += words[random() % 10] + std::to_string(random() % 1000) + " ";
  text.resize(size);
  return text;
}

std::optional<std::string> RawInflate(std::string_view packed, std::size_t limit) {
  // One byte more than allowed shows output beyond the limit, and gives an empty stream room.
  std::string out(limit + 1, '\0');
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
    return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int status = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  if (status != Z_STREAM_END || out.size() > limit)
    return std::nullopt;
  return out;
}

} // namespace vornel::test
