#include "app/ReuseRecord.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/TempFile.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>
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

std::string ReuseRecord::Header(const CompressorChoice& compressor) {
  return "vornel-reuse 1 " + DescribeCompressor(compressor);
}

ReuseRecord ReuseRecord::Load(const std::string& path, const CompressorChoice& compressor) {
  ReuseRecord record;
  try {
    if (!FileExists(path))
      return record;
    FileStream file(path, FileStream::Mode::OpenRead);
    if (file.Size() > LargestRecord)
      return record;
    // Read in blocks, as the record of a big tree is big too.
    const std::string header = Header(compressor);
    std::vector<char> block(IoBlockSize);
    std::string line;
    bool first = true;
    for (;;) {
      const std::size_t got = file.Read(block.data(), block.size());
      if (got == 0)
        break;
      const char* at = block.data();
      const char* const end = at + got;
      while (at < end) {
        const auto* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (newline == nullptr) {
          line.append(at, end);
          break;
        }
        line.append(at, newline);
        at = newline + 1;
        if (first) {
          if (line != header)
            return {};
          first = false;
        } else {
          std::string archive;
          ArchiveDigest digest;
          if (!ParseLine(line, archive, digest))
            return {};
          record.Append(archive, digest);
        }
        line.clear();
      }
    }
    if (!line.empty())
      return {}; // cut off: trust none of it
  } catch (const std::exception&) {
    return {};
  }
  record.SortKeepingLast();
  return record;
}

void ReuseRecord::Append(std::string_view archive, const ArchiveDigest& digest) {
  if (archive.size() > std::numeric_limits<std::uint32_t>::max() - keys_.size())
    throw std::length_error("The record holds more than a build can keep");
  entries_.push_back({static_cast<std::uint32_t>(keys_.size()),
                      static_cast<std::uint32_t>(archive.size()), digest});
  keys_.append(archive);
}

// A key listed twice counts with its last line, as a later line is a later write.
void ReuseRecord::SortKeepingLast() {
  const auto byKey = [this](const Entry& a, const Entry& b) { return Key(a) < Key(b); };
  std::stable_sort(entries_.begin(), entries_.end(), byKey);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (i + 1 < entries_.size() && Key(entries_[i]) == Key(entries_[i + 1]))
      continue;
    entries_[kept++] = entries_[i];
  }
  entries_.resize(kept);
}

std::string_view ReuseRecord::Key(const Entry& entry) const {
  return std::string_view(keys_).substr(entry.KeyStart, entry.KeyLength);
}

std::string_view ReuseRecord::Key(std::size_t index) const {
  return Key(entries_[index]);
}

std::vector<ReuseRecord::Entry>::const_iterator
ReuseRecord::LowerBound(std::string_view archive) const {
  return std::lower_bound(
      entries_.begin(), entries_.end(), archive,
      [this](const Entry& entry, std::string_view key) { return Key(entry) < key; });
}

std::optional<std::size_t> ReuseRecord::IndexOf(std::string_view archive) const {
  const auto found = LowerBound(archive);
  if (found == entries_.end() || Key(*found) != archive)
    return std::nullopt;
  return static_cast<std::size_t>(found - entries_.begin());
}

const ArchiveDigest* ReuseRecord::Find(std::string_view archive) const {
  const auto index = IndexOf(archive);
  return index ? &entries_[*index].Digest : nullptr;
}

void ReuseRecord::Set(const std::string& archive, const ArchiveDigest& digest) {
  if (const auto index = IndexOf(archive)) {
    entries_[*index].Digest = digest;
    return;
  }
  const auto at = entries_.begin() + (LowerBound(archive) - entries_.cbegin());
  const Entry entry{static_cast<std::uint32_t>(keys_.size()),
                    static_cast<std::uint32_t>(archive.size()), digest};
  keys_.append(archive);
  entries_.insert(at, entry);
}

void ReuseRecord::Erase(const std::string& archive) {
  if (const auto index = IndexOf(archive))
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*index));
}

void ReuseRecord::Save(const std::string& path, const CompressorChoice& compressor) const {
  ReuseRecordWriter writer(path, compressor);
  for (const Entry& entry : entries_)
    writer.Add(Key(entry), entry.Digest);
  writer.Commit();
}

// A file of its own, so two builds writing their records at once never share a half-written
// one; it is removed when anything fails.
ReuseRecordWriter::ReuseRecordWriter(std::string path, const CompressorChoice& compressor)
    : path_(std::move(path)), file_(path_), block_(ReuseRecord::Header(compressor) + "\n") {}

void ReuseRecordWriter::Add(std::string_view archive, const ArchiveDigest& digest) {
  block_ += std::to_string(digest.Size);
  block_ += ' ';
  block_ += std::to_string(digest.Crc32);
  block_ += ' ';
  block_ += std::to_string(digest.Adler32);
  block_ += ' ';
  block_ += archive;
  block_ += '\n';
  if (block_.size() >= IoBlockSize)
    Flush();
}

void ReuseRecordWriter::Flush() {
  file_.Stream().WriteString(block_);
  block_.clear();
}

void ReuseRecordWriter::Commit() {
  Flush();
  file_.RenameOver(path_);
}

} // namespace vornel
