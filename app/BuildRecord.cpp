#include "app/BuildRecord.h"

#include "app/BuildPaths.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/TempFile.h"

#include <charconv>
#include <sstream>

namespace vornel {

namespace {

constexpr const char* Header = "vornel-build 1";
constexpr std::int64_t LargestRecord = 4096;

template <typename Number> bool Parse(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

} // namespace

std::string BuildRecordPathFor(const std::string& uploadDir) {
  std::string path = uploadDir;
  while (path.size() > PathRootLength(path) && IsPathSeparator(path.back()))
    path.pop_back();
  return path + BuildRecordSuffix;
}

void SaveBuildRecord(const std::string& path, const BuildRecord& record) {
  TempFile file(path);
  file.Stream().WriteString(
      std::string(Header) + "\nmanifest " + std::to_string(record.Manifest.Size) + " " +
      std::to_string(record.Manifest.Crc32) + " " + std::to_string(record.Manifest.Adler32) +
      "\nnamesakes " + std::to_string(record.Namesakes) + "\n");
  file.RenameOver(path);
}

std::optional<BuildRecord> LoadBuildRecord(const std::string& path) {
  try {
    if (!FileExists(path))
      return std::nullopt;
    FileStream file(path, FileStream::Mode::OpenRead);
    if (file.Size() > LargestRecord)
      return std::nullopt;
    std::istringstream lines(file.ReadString(static_cast<std::size_t>(file.Size())));
    std::string header;
    std::string word;
    std::string size;
    std::string crc;
    std::string adler;
    std::string namesakesWord;
    std::string namesakes;
    BuildRecord record;
    if (!std::getline(lines, header) || header != Header ||
        !(lines >> word >> size >> crc >> adler) || word != "manifest" ||
        !(lines >> namesakesWord >> namesakes) || namesakesWord != "namesakes" ||
        !Parse(size, record.Manifest.Size) || !Parse(crc, record.Manifest.Crc32) ||
        !Parse(adler, record.Manifest.Adler32) || !Parse(namesakes, record.Namesakes) ||
        record.Namesakes < 0)
      return std::nullopt;
    return record;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

} // namespace vornel
