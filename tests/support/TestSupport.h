#pragma once

#include "tests/support/Process.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vornel::test {

// A fresh folder under the temporary folder, removed (with everything in it) on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }
  // path_ / relative as a string.
  // Joined as text: mingw's std::filesystem reads a narrow string byte by byte but writes UTF-8,
  // so a name beyond ASCII would not survive a path's round trip there.
  std::string operator/(const std::string& relative) const { return Str() + "/" + relative; }

private:
  std::filesystem::path path_;
};

// Writes bytes to path, creating parent folders.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A path as the file system takes it, from the UTF-8 the program keeps paths in (on Windows a
// plain std::string would be read in the ANSI code page).
std::filesystem::path FsPath(const std::string& utf8);

// What tells this folder from another at the same path later (device and inode; on Windows the
// volume and file index).
std::string FolderIdentity(const std::string& path);

// True when this system lets the tests make symbolic links (mingw's run-time under wine cannot).
bool CanMakeSymlinks();
#define SKIP_WITHOUT_SYMLINKS()                                                                    \
  if (!::vornel::test::CanMakeSymlinks())                                                          \
  GTEST_SKIP() << "symbolic links cannot be made here (no create_symlink in mingw's run-time)"

// Sets a file's modification time to a local calendar time (month 1-12), plus a fraction.
void SetLocalModifiedTime(const std::string& path, int year, int month, int day, int hour,
                          int minute, int second,
                          std::chrono::microseconds fraction = std::chrono::microseconds(0));

// True when file permissions stop this process from reading a file: not as root, and not on
// Windows, where they only set the read-only attribute.
bool PermissionsStopReads();
// "" when a file just created has the default permissions (0666 less the umask) and its open
// handle is not passed on to programs this one starts; the problems otherwise.
std::string NewFileProblems(const std::string& path, std::intptr_t handle);

// Makes a named pipe (FIFO); false where the file system has none (Windows).
bool MakeFifo(const std::string& path);

// A file held open by this process with no sharing at all, as another program may hold it on
// Windows, until the end of the scope. Held() is false where the system has no such lock.
class HeldOpen {
public:
  explicit HeldOpen(const std::string& path);
  ~HeldOpen();
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool Held() const { return handle_ != nullptr; }

private:
  void* handle_ = nullptr;
};

// Deterministic pseudo-random bytes.
std::string RandomBytes(std::size_t count, unsigned seed);

// Deterministic text of words and numbers that deflate works at (so packing takes a while);
// distinct per seed.
std::string Prose(std::size_t size, unsigned seed);

// Raw deflate data unpacked by zlib, which is no part of what is tested; nothing when the data
// do not end as a whole stream within limit bytes of output.
std::optional<std::string> RawInflate(std::string_view packed, std::size_t limit);

} // namespace vornel::test
