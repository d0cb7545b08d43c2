#pragma once

// A temporary file made beside the file it stands in for, so that it lies on the same file
// system (a rename can replace the target) and never in a folder the user did not choose.

#include "platform/Stream.h"

#include <memory>
#include <string>

namespace vornel {

class TempFile {
public:
  // Creates a new file named after target (its name, a dot, random letters, "-", this process's
  // id, ".tmp") in target's folder, with exclusive creation, and keeps it open for reading and
  // writing; it is never reopened by name. Raises EFCreateError when no such file can be made.
  explicit TempFile(const std::string& target);
  // Closes the file and removes it, unless it was renamed or kept.
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  FileStream& Stream() { return *stream_; }
  const std::string& Path() const { return path_; }

  // Closes the file and renames it over target, replacing a file (or a link) there. Raises the
  // input/output error when the rename fails; the file is then still removed.
  void RenameOver(const std::string& target);
  // Closes the file and leaves it on disk, for instance because it holds the only good copy
  // of something; returns its path, from which the process id is taken out where it can be,
  // so that RemoveLeftovers never takes it for a leftover.
  std::string Keep();

  // Removes the temporary files for target that processes no longer running left behind (a
  // change killed part way). A file of a running process, a kept one or any other file stays.
  static void RemoveLeftovers(const std::string& target);

private:
  std::string target_;
  std::string letters_;
  std::string path_;
  std::unique_ptr<FileStream> stream_;
  bool removed_ = false;
};

} // namespace vornel
