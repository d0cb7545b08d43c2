#include "platform/FindFiles.h"

#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace vornel {

namespace {

bool IsHiddenName(const std::string& name) {
  return name.size() > 0 && name[0] == '.' && name != "." && name != "..";
}

// Builds the entry from lstat's view of the name and, for a symbolic link, stat's view of its
// target (nullptr when the link dangles, with targetErrno saying why).
FoundFile Describe(const std::string& name, const struct stat& self, const struct stat* target,
                   int targetErrno = 0) {
  const struct stat& info = target ? *target : self;
  FoundFile found;
  found.Name = name;
  found.Link = S_ISLNK(self.st_mode);
  if (S_ISLNK(self.st_mode) && target == nullptr) {
    // A dangling link is reported as an empty file: opening it then fails with "File not found"
    // instead of the entry vanishing without a word.
    found.Attributes = attr::Archive;
    found.Kind = targetErrno == ELOOP ? EntryKind::LinkLoop : EntryKind::DanglingLink;
  } else if (S_ISDIR(info.st_mode)) {
    found.Attributes = attr::Directory;
    found.Kind = EntryKind::Folder;
  } else {
    found.Kind = S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
    found.Attributes = attr::Archive;
    found.Size = static_cast<std::uint64_t>(info.st_size);
    if ((info.st_mode & S_IWUSR) == 0)
      found.Attributes |= attr::ReadOnly;
  }
  if (IsHiddenName(name))
    found.Attributes |= attr::Hidden;
  found.LastWriteTime = UnixTimeToLocalDateTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
  found.DosTime = DateTimeToDosDateTime(found.LastWriteTime);
  return found;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

std::optional<FoundFile> FindFile(const std::string& path) {
  std::string clean = path;
  while (clean.size() > 1 && clean.back() == '/')
    clean.pop_back();
  if (clean.empty())
    return std::nullopt;
  struct stat self {};
  if (::lstat(clean.c_str(), &self) != 0)
    return std::nullopt;
  const std::size_t slash = clean.rfind('/');
  const std::string name = slash == std::string::npos ? clean : clean.substr(slash + 1);
  if (!S_ISLNK(self.st_mode))
    return Describe(name, self, nullptr);
  struct stat target {};
  if (::stat(clean.c_str(), &target) != 0)
    return Describe(name, self, nullptr, errno);
  return Describe(name, self, &target);
}

std::vector<std::string> ListNamesLike(const std::string& dir, const std::string& prefix,
                                       const std::string& suffix) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, DirCloser> handle(::opendir(dir.empty() ? "." : dir.c_str()));
  if (!handle)
    return names;
  while (const dirent* entry = ::readdir(handle.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) &&
        name.ends_with(suffix))
      names.emplace_back(name);
  }
  return names;
}

std::vector<FoundFile> ListDirectory(const std::string& dir, LinkedFolders linkedFolders) {
  std::vector<FoundFile> entries;
  std::unique_ptr<DIR, DirCloser> handle(::opendir(dir.empty() ? "." : dir.c_str()));
  if (!handle)
    return entries;
  const int dirFd = ::dirfd(handle.get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(handle.get());
    if (entry == nullptr) {
      // A listing cut short by a read error would silently drop files from a build.
      if (errno != 0)
        RaiseIoErrorFromErrno(errno, dir, IoOperation::List);
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    struct stat self {};
    if (::fstatat(dirFd, entry->d_name, &self, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT)
        continue; // removed while we were listing
      RaiseIoErrorFromErrno(errno, JoinPath(dir, entry->d_name), IoOperation::Inspect);
    }
    if (!S_ISLNK(self.st_mode)) {
      entries.push_back(Describe(name, self, nullptr));
      continue;
    }
    struct stat target {};
    if (::fstatat(dirFd, entry->d_name, &target, 0) != 0) {
      entries.push_back(Describe(name, self, nullptr, errno));
      continue;
    }
    if (S_ISDIR(target.st_mode) && linkedFolders == LinkedFolders::Leave)
      continue; // following it could walk in circles or out of the tree
    entries.push_back(Describe(name, self, &target));
  }
  std::sort(entries.begin(), entries.end(), [](const FoundFile& a, const FoundFile& b) {
    return EnumerationOrderLess(a.Name, b.Name);
  });
  return entries;
}

} // namespace vornel
