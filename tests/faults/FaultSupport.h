#pragma once

// Shared pieces of the fault tests: the independent check of what a manifest lists, a small disk
// mounted for one test, and trees of generated files.

#include "app/BuildProcedure.h"

#include "tests/support/TestSupport.h"
#include "tests/support/VornelRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace vornel::test {

// check_listed.py: "" when every archive updates.lst lists is whole (and, with a clean folder,
// holds the source's bytes); the problems otherwise. With noStrays, an archive that is not
// listed is a problem too. Also "" when python3 is missing (the caller skips).
std::string CheckListed(const std::string& upload, const std::string& clean = "",
                        bool noStrays = false);
// check_upload.py: the whole set covers the clean tree and every archive is whole.
std::string CheckWholeUpload(const std::string& clean, const std::string& upload);
// The number of archives the manifest lists (IAM and F lines).
int ListedCount(const std::string& upload);

// Every regular file below dir, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& dir);

// Every folder and file below dir with the file's bytes, in one text: equal snapshots are equal
// trees. "(no folder)" when dir does not exist.
std::string SnapshotOf(const std::string& dir);

// Writes count files of incompressible bytes below root (some in subfolders), plus the self
// file; sizes cycle through the given list.
void MakeTree(const std::string& root, int count, const std::vector<std::size_t>& sizes,
              unsigned seed = 1);

// An archive of stored entries, laid out as zip tools write it (local records from offset 0,
// then the central directory and the end record), for tests that need archives the component
// did not write or that are patched afterwards.
struct RawEntry {
  std::string Name;
  std::string Data;
  friend bool operator==(const RawEntry&, const RawEntry&) = default;
  friend void PrintTo(const RawEntry& entry, std::ostream* out) {
    *out << entry.Name << " (" << entry.Data.size() << " bytes)";
  }
};
std::string StoredArchive(const std::vector<RawEntry>& entries);
// Little-endian patching of crafted archives.
void Put16(std::string& bytes, std::size_t at, std::uint16_t value);
void Put32(std::string& bytes, std::size_t at, std::uint32_t value);

// A tmpfs of the given size mounted on a folder for the life of the object, unmounted on every
// way out. Needs root on Linux; Windows has none. Error() says why it could not be mounted.
class SmallDisk {
public:
  SmallDisk(std::string folder, std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  // Grows (or shrinks) the mounted disk in place, keeping its files.
  bool Resize(std::size_t bytes);
  // Mounts it again read-only, keeping its files.
  bool MakeReadOnly();

private:
  std::string folder_;
  bool mounted_ = false;
  std::string error_;
};

// Things that are not files but can be opened by a path as if they were, for the tests that
// make sure they are refused. Each is made where the system has it; Why() says why not.

// A pipe with nobody at the other end: a FIFO at the given path on POSIX (opening it for
// reading would wait for a writer), a named pipe outside the file system on Windows.
class WaitingPipe {
public:
  explicit WaitingPipe(const std::string& fifoPath);
  ~WaitingPipe();
  WaitingPipe(const WaitingPipe&) = delete;
  WaitingPipe& operator=(const WaitingPipe&) = delete;
  // The path to open; empty when none could be made.
  const std::string& Path() const { return path_; }
  const std::string& Why() const { return why_; }

private:
  std::string path_;
  std::string why_;
  void* handle_ = nullptr;
};

// A socket bound to a path in the file system (POSIX only).
class BoundSocket {
public:
  explicit BoundSocket(const std::string& path);
  ~BoundSocket();
  BoundSocket(const BoundSocket&) = delete;
  BoundSocket& operator=(const BoundSocket&) = delete;
  bool Bound() const { return why_.empty(); }
  const std::string& Why() const { return why_; }

private:
  int fd_ = -1;
  std::string why_;
};

// A device that opens like a file: /dev/zero (endless) on POSIX, NUL on Windows.
std::string DevicePath();

// Runs call apart from the test, within seconds: its result, "hung" when it did not end in
// time, or "crashed". On POSIX in a child process (so a crash stays there); on Windows in the
// test's own process, where only ctest's time limit ends a hang.
std::string CallWithTimeLimit(const std::function<std::string()>& call, int seconds);

// A file of the given size whose blocks are not written (sparse where the file system can).
bool MakeSparseFile(const std::string& path, std::int64_t size);

// The most memory this process has held so far, in KiB.
long PeakMemoryKiB();

// A view that records the build's calls and runs a hook at each step (the file just packed),
// where a test changes the tree between the two walks.
class HookedView : public BuildView {
public:
  std::function<void(const std::string& relativePath)> OnStep;
  std::vector<std::string> Steps;
  std::vector<std::string> Messages;

  void SetProgressMax(std::int32_t) override {}
  void StepProgress(const std::string& relativePath) override {
    Steps.push_back(relativePath);
    if (OnStep)
      OnStep(relativePath);
  }
  void ResetProgress() override {}
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
};

} // namespace vornel::test
