#include "app/Manifest.h"

#include "platform/Errors.h"
#include "platform/FindFiles.h"
#include "platform/RawFile.h"

#include <stdexcept>

namespace vornel {

namespace {

constexpr std::size_t PendingLimit = 64 * 1024;

} // namespace

std::string FormatSelfLine(const std::string& name, std::uint32_t crc, std::int32_t size) {
  return "IAM=" + name + "|" + std::to_string(crc) + "|" + std::to_string(size);
}

std::string FormatFileLine(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                           std::int32_t size) {
  // Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) about "F" + std::to_string().
  std::string line = "F";
  line += std::to_string(number);
  line += "=" + manifestPath + "|" + std::to_string(crc) + "|" + std::to_string(size) + "|n";
  return line;
}

ManifestWriter::ManifestWriter(std::string path) : path_(std::move(path)) {}

// A build that failed or stopped leaves its lines in the staging folder as far as it came.
ManifestWriter::~ManifestWriter() {
  try {
    if (file_)
      WritePending();
  } catch (...) {
    // What the build failed with is what it reports.
  }
}

void ManifestWriter::Start() {
  pending_.clear();
  file_.reset();
  file_ = std::make_unique<RawFile>(path_, RawFile::Mode::Rewrite);
  size_ = 0;
  Append(std::string("[self]") + ManifestLineEnd);
}

void ManifestWriter::AppendSelf(const std::string& name, std::uint32_t crc, std::int32_t size) {
  Append(FormatSelfLine(name, crc, size) + ManifestLineEnd);
}

void ManifestWriter::AppendMisc(const std::string& server, const std::string& modHost,
                                std::int32_t fcount) {
  std::string text;
  for (const std::string& line :
       {std::string("[misc]"), "Server=" + server, "ModifyHost=" + modHost, std::string("[files]"),
        "fcount=" + std::to_string(fcount)}) {
    text += line;
    text += ManifestLineEnd;
  }
  Append(text);
}

void ManifestWriter::AppendFile(std::int32_t number, const std::string& manifestPath,
                                std::uint32_t crc, std::int32_t size) {
  pending_ += FormatFileLine(number, manifestPath, crc, size);
  pending_ += ManifestLineEnd;
  if (pending_.size() >= PendingLimit)
    WritePending();
}

void ManifestWriter::WritePending() {
  if (pending_.empty())
    return;
  Append(pending_);
  pending_.clear();
}

void ManifestWriter::Append(const std::string& text) {
  if (!file_) {
    file_ = std::make_unique<RawFile>(path_, RawFile::Mode::Append);
    size_ = file_->Size();
  }
  try {
    file_->Write(text.data(), text.size());
  } catch (...) {
    file_->TruncateTo(size_);
    throw;
  }
  size_ += static_cast<std::int64_t>(text.size());
}

void ManifestWriter::Finish() {
  WritePending();
  if (!file_)
    return;
  const std::unique_ptr<RawFile> file = std::move(file_);
  file->Close();
  const auto found = FindFile(path_);
  if (!found || found->Link || found->Kind != EntryKind::File ||
      found->Size != static_cast<std::uint64_t>(size_))
    throw std::runtime_error("The manifest \"" + path_ +
                             "\" was moved or replaced while the build wrote it");
}

} // namespace vornel
