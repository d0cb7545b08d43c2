#include "app/UploadScan.h"

#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Process.h"
#include "platform/TextCompare.h"

#include <atomic>
#include <cctype>

namespace vornel {

namespace {

constexpr const char* TemporaryTag = ".vornel-";
constexpr const char* TemporarySuffix = ".part";

bool EndsWithFolded(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         SameAsciiText(std::string_view(text).substr(text.size() - suffix.size()), suffix);
}

bool Digits(const std::string& text) {
  if (text.empty() || text.size() > 10)
    return false;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

void Scan(const std::string& dir, const std::string& relative, UploadContents& contents) {
  for (const FoundFile& item : ListDirectory(dir, LinkedFolders::List)) {
    const bool top = relative.empty();
    if (top && (item.Name == InnerStagingName || item.Name == "updates.lst"))
      continue;
    const std::string itemRelative = top ? item.Name : relative + "/" + item.Name;
    if (item.Link && (item.Attributes & attr::Directory) != 0) {
      contents.Others.push_back(itemRelative);
    } else if ((item.Attributes & attr::Directory) != 0) {
      Scan(JoinPath(dir, item.Name), itemRelative, contents);
      contents.Folders.push_back(itemRelative);
    } else if (TemporaryArchiveOwner(item.Name) != 0) {
      contents.Temporaries.push_back(itemRelative);
    } else if (EndsWithFolded(item.Name, ".zip")) {
      contents.Archives.push_back(itemRelative);
    } else {
      contents.Others.push_back(itemRelative);
    }
  }
}

std::string Plural(std::int32_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

} // namespace

std::string TemporaryArchivePath(const std::string& zipPath) {
  static std::atomic<std::uint32_t> serial{0};
  return zipPath + TemporaryTag + std::to_string(CurrentProcessId()) + "-" +
         std::to_string(serial.fetch_add(1) + 1) + TemporarySuffix;
}

std::uint32_t TemporaryArchiveOwner(const std::string& name) {
  // name.zip.vornel-PID-SERIAL.part
  const std::string suffix = TemporarySuffix;
  if (name.size() <= suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return 0;
  const std::string stem = name.substr(0, name.size() - suffix.size());
  const std::size_t tag = stem.rfind(TemporaryTag);
  if (tag == std::string::npos || !EndsWithFolded(stem.substr(0, tag), ".zip"))
    return 0;
  const std::string numbers = stem.substr(tag + std::string(TemporaryTag).size());
  const std::size_t dash = numbers.find('-');
  if (dash == std::string::npos || !Digits(numbers.substr(0, dash)) ||
      !Digits(numbers.substr(dash + 1)))
    return 0;
  const unsigned long long owner = std::stoull(numbers.substr(0, dash));
  return owner > 0 && owner <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(owner) : 0;
}

UploadContents ScanUpload(const std::string& uploadDir) {
  UploadContents contents;
  if (DirectoryExists(uploadDir))
    Scan(uploadDir, "", contents);
  return contents;
}

std::int32_t RemoveLeftoverTemporaries(const std::string& uploadDir,
                                       const UploadContents& contents) {
  std::int32_t removed = 0;
  for (const std::string& relative : contents.Temporaries) {
    const std::uint32_t owner = TemporaryArchiveOwner(BareName(relative));
    if (owner != CurrentProcessId() && !ProcessRunning(owner) &&
        DeleteFileAt(JoinPath(uploadDir, relative)))
      ++removed;
  }
  return removed;
}

StaleSet FindStale(const UploadContents& contents,
                   const std::function<bool(std::string_view)>& producedArchive,
                   const std::function<bool(std::string_view)>& producedFolder) {
  StaleSet stale;
  for (const std::string& archive : contents.Archives) {
    if (!producedArchive(archive))
      stale.Archives.push_back(archive);
  }
  for (const std::string& folder : contents.Folders) {
    if (!producedFolder(folder))
      stale.Folders.push_back(folder);
  }
  return stale;
}

PruneCount PruneStale(const std::string& uploadDir, const StaleSet& stale) {
  PruneCount count;
  for (const std::string& archive : stale.Archives) {
    const std::string path = JoinPath(uploadDir, archive);
    // Looked at again just before: only a regular file of that name goes.
    if (EndsWithFolded(archive, ".zip") && FileExists(path) && DeleteFileAt(path))
      ++count.Archives;
  }
  for (const std::string& folder : stale.Folders) {
    if (RemoveEmptyDirectory(JoinPath(uploadDir, folder)))
      ++count.Folders;
  }
  return count;
}

std::string DescribeStale(std::int32_t archives, std::int32_t folders) {
  if (folders == 0)
    return Plural(archives, "archive");
  if (archives == 0)
    return Plural(folders, "folder");
  return Plural(archives, "archive") + " and " + Plural(folders, "folder");
}

} // namespace vornel
