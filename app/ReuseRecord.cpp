#include "app/ReuseRecord.h"

#include "crc/Crc32.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/TempFile.h"

#include <zlib.h>

#include <charconv>
#include <vector>

namespace vornel {

namespace {

// Far more than any real record (a line per archive); a bigger file is not ours.
constexpr std::int64_t LargestRecord = std::int64_t{1} << 30;

template <typename Number> bool ParseNumber(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

// "<size> <crc32> <adler32> <path>"; the path is last, as it may hold blanks.
bool ParseLine(const std::string& line, std::string& path, ArchiveDigest& digest) {
  std::size_t at = 0;
  std::string fields[3];
  for (std::string& field : fields) {
    const std::size_t blank = line.find(' ', at);
    if (blank == std::string::npos)
      return false;
    field = line.substr(at, blank - at);
    at = blank + 1;
  }
  path = line.substr(at);
  return !path.empty() && ParseNumber(fields[0], digest.Size) && digest.Size >= 0 &&
         ParseNumber(fields[1], digest.Crc32) && ParseNumber(fields[2], digest.Adler32);
}

} // namespace

std::optional<ArchiveDigest> DigestFile(const std::string& path) {
  try {
    FileStream file(path, FileStream::Mode::OpenRead);
    std::vector<unsigned char> block(IoBlockSize);
    ArchiveDigest digest;
    std::uint32_t crc = 0xFFFFFFFFu;
    uLong adler = adler32(0L, Z_NULL, 0);
    for (;;) {
      const std::size_t got = file.Read(block.data(), block.size());
      if (got == 0)
        break;
      crc = Crc32Update(crc, block.data(), got);
      adler = adler32(adler, block.data(), static_cast<uInt>(got));
      digest.Size += static_cast<std::int64_t>(got);
    }
    digest.Crc32 = ~crc;
    digest.Adler32 = static_cast<std::uint32_t>(adler);
    return digest;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string ReuseRecord::Header(const CompressorChoice& compressor) {
  return "vornel-reuse 1 " + DescribeCompressor(compressor);
}

ReuseRecord ReuseRecord::Load(const std::string& path, const CompressorChoice& compressor) {
  ReuseRecord record;
  std::string text;
  try {
    if (!FileExists(path))
      return record;
    FileStream file(path, FileStream::Mode::OpenRead);
    const std::int64_t size = file.Size();
    if (size > LargestRecord)
      return record;
    text = file.ReadString(static_cast<std::size_t>(size));
  } catch (const std::exception&) {
    return record;
  }
  std::size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos)
      return {}; // cut off: trust none of it
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (first) {
      if (line != Header(compressor))
        return {};
      first = false;
      continue;
    }
    std::string archive;
    ArchiveDigest digest;
    if (!ParseLine(line, archive, digest))
      return {};
    record.entries_[archive] = digest;
  }
  return record;
}

const ArchiveDigest* ReuseRecord::Find(const std::string& archive) const {
  const auto found = entries_.find(archive);
  return found == entries_.end() ? nullptr : &found->second;
}

void ReuseRecord::Set(const std::string& archive, const ArchiveDigest& digest) {
  entries_[archive] = digest;
}

void ReuseRecord::Save(const std::string& path, const CompressorChoice& compressor) const {
  std::string text = Header(compressor) + "\n";
  for (const auto& [archive, digest] : entries_)
    text += std::to_string(digest.Size) + " " + std::to_string(digest.Crc32) + " " +
            std::to_string(digest.Adler32) + " " + archive + "\n";
  // A file of its own, so two builds writing their records at once never share a half-written
  // one; it is removed when anything fails.
  TempFile temporary(path);
  temporary.Stream().WriteString(text);
  temporary.RenameOver(path);
}

} // namespace vornel
