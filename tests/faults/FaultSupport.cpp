#include "tests/faults/FaultSupport.h"

#include <filesystem>
#include <zlib.h>

namespace vornel::test {

namespace fs = std::filesystem;

namespace {

std::string RunChecker(const std::vector<std::string>& command) {
  if (!HaveProgram("python3"))
    return "";
  const ProcessResult checked = RunProcess(command, {.ErrToOut = true});
  return checked.Code == 0 ? "" : checked.Out.empty() ? "the checker failed" : checked.Out;
}

} // namespace

std::string CheckListed(const std::string& upload, const std::string& clean, bool noStrays) {
  std::vector<std::string> command = {"python3", VORNEL_CHECK_LISTED, upload};
  if (!clean.empty())
    command.push_back(clean);
  if (noStrays)
    command.push_back("--no-strays");
  return RunChecker(command);
}

std::string CheckWholeUpload(const std::string& clean, const std::string& upload) {
  return RunChecker({"python3", VORNEL_CHECK_UPLOAD, clean, upload});
}

int ListedCount(const std::string& upload) {
  const std::string text = ReadFile(upload + "/updates.lst");
  int count = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end - start);
    if (line.rfind("IAM=", 0) == 0 || (line.size() > 1 && line[0] == 'F' && line[1] != 'c'))
      ++count;
    if (end == std::string::npos)
      break;
    start = end + 2;
  }
  return count;
}

std::set<std::string> FilesBelow(const std::string& dir) {
  std::set<std::string> files;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(dir, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_regular_file(ignored))
      files.insert(fs::relative(it->path(), dir).generic_string());
  }
  return files;
}

std::string SnapshotOf(const std::string& dir) {
  if (!fs::exists(FsPath(dir)))
    return "(no folder)";
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(FsPath(dir))) {
    const std::string relative = fs::relative(entry.path(), FsPath(dir)).generic_string();
    entries.insert(entry.is_directory() ? relative + "/" : relative);
  }
  std::string all;
  for (const std::string& entry : entries)
    all += entry.ends_with("/") ? entry + "\n" : entry + "\n" + ReadFile(dir + "/" + entry) + "\n";
  return all;
}

void MakeTree(const std::string& root, int count, const std::vector<std::size_t>& sizes,
              unsigned seed) {
  WriteFile(root + "/Teskor.exe", RandomBytes(3000, seed));
  for (int i = 0; i < count; ++i) {
    const std::string folder = i % 3 == 0 ? "" : "sub" + std::to_string(i % 3) + "/";
    WriteFile(root + "/" + folder + "file" + std::to_string(i) + ".bin",
              RandomBytes(sizes[static_cast<std::size_t>(i) % sizes.size()],
                          seed * 1000 + static_cast<unsigned>(i)));
  }
}

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  Put16(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
  Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::string StoredArchive(const std::vector<RawEntry>& entries) {
  std::string local;
  std::string central;
  for (const RawEntry& entry : entries) {
    const auto crc =
        static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.Data.data()),
                                         static_cast<uInt>(entry.Data.size())));
    const auto size = static_cast<std::uint32_t>(entry.Data.size());
    const auto nameLength = static_cast<std::uint16_t>(entry.Name.size());
    std::string header(30, '\0');
    Put32(header, 0, 0x04034b50);
    Put16(header, 4, 20);
    Put16(header, 12, 0x5021); // 1 January 2020
    Put32(header, 14, crc);
    Put32(header, 18, size);
    Put32(header, 22, size);
    Put16(header, 26, nameLength);
    std::string record(46, '\0');
    Put32(record, 0, 0x02014b50);
    Put16(record, 4, 20);
    Put16(record, 6, 20);
    Put16(record, 14, 0x5021);
    Put32(record, 16, crc);
    Put32(record, 20, size);
    Put32(record, 24, size);
    Put16(record, 28, nameLength);
    Put32(record, 38, 0x20);
    Put32(record, 42, static_cast<std::uint32_t>(local.size()));
    local += header + entry.Name + entry.Data;
    central += record + entry.Name;
  }
  std::string end(22, '\0');
  Put32(end, 0, 0x06054b50);
  Put16(end, 8, static_cast<std::uint16_t>(entries.size()));
  Put16(end, 10, static_cast<std::uint16_t>(entries.size()));
  Put32(end, 12, static_cast<std::uint32_t>(central.size()));
  Put32(end, 16, static_cast<std::uint32_t>(local.size()));
  return local + central + end;
}

} // namespace vornel::test
