#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel {

// A file opened the way the run-time file routines open one: every failure, the opening
// included, raises EInOutError with the run-time code ("File not found", "Disk full", ...).
// Always binary.
class RawFile {
public:
  enum class Mode {
    Read,    // an existing regular file; a pipe, socket or device is refused (EFOpenError)
    Rewrite, // created or emptied, for writing
    Append,  // an existing file, written at its end; never created
  };

  RawFile(const std::string& path, Mode mode);
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  // Up to count bytes; 0 at the end.
  std::size_t Read(void* buffer, std::size_t count);
  // All count bytes or raises.
  void Write(const void* buffer, std::size_t count);
  std::int64_t Size() const;
  // Best effort, for undoing a failed write.
  void TruncateTo(std::int64_t size) noexcept;
  // Closes now and reports an error that only the closing reveals.
  void Close();

private:
  std::string path_;
  std::intptr_t handle_ = -1;
};

} // namespace vornel
