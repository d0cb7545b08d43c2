#pragma once

// Reaching files without following symbolic links the build did not accept: a file or folder
// swapped for a link after the tree was checked is noticed instead of read or written through.
// On POSIX every component is opened from its parent's handle with O_NOFOLLOW; on Windows the
// reparse-point attribute marks what is a link.

#include "platform/FindFiles.h"
#include "platform/Stream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vornel {

enum class PathKind { Missing, File, Folder, Link, Other };

// What path itself is; a final symbolic link is reported as a link, not followed.
PathKind KindOfPath(const std::string& path);

// A regular file open for reading, reached from the file-system root through real folders only.
class SourceFile final : public Stream {
public:
  enum class Refusal {
    None,
    Missing, // a component is gone, or the file is a folder now
    Link,    // a component is a symbolic link
    NotFile  // a component is not a folder, or the file is not a regular file
  };

  // Opens the absolute path (canonical: links resolved, as the tree check found it). Nothing,
  // with why set, when the path no longer leads to a regular file through real folders; other
  // failures raise EInOutError naming path.
  static std::unique_ptr<SourceFile> Open(const std::string& path, Refusal& why);
  ~SourceFile() override;

  // The open file as a lookup would describe it, taken from the handle.
  const FoundFile& Info() const { return info_; }

  // True when the file was written to since it was opened: its size, modification time or
  // change time, asked of the handle, differ from those it had then. A rewrite in place of the
  // same size shows only in the times.
  bool ChangedSinceOpened() const;

  // What tells a written file from an untouched one: size and two times, as the system keeps them.
  struct ChangeStamp {
    std::int64_t Size = 0;
    std::int64_t Written = 0;
    std::int64_t Changed = 0;
    bool operator==(const ChangeStamp&) const = default;
  };

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t newSize) override;

private:
  SourceFile(int handle, std::string path, FoundFile info, ChangeStamp opened);
  ChangeStamp StampNow() const;

  int handle_;
  std::string path_;
  FoundFile info_;
  ChangeStamp opened_;
};

} // namespace vornel
