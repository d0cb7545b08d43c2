#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornel {

enum class SeekOrigin { Begin, Current, End };

// The block in which files and entry data are read, checksummed, packed and copied, so memory
// stays small whatever the sizes.
inline constexpr std::size_t IoBlockSize = 64 * 1024;

// A seekable byte stream. Reads and writes are checked: ReadBuffer and Write either transfer
// every byte or raise EInOutError. Read is the one call that may come up short, for the callers
// that explicitly tolerate it.
class Stream {
public:
  virtual ~Stream() = default;
  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes all count bytes or raises (a short write is "Disk full").
  virtual void Write(const void* buffer, std::size_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  // Grows or truncates; growing reserves the space so that a full disk is reported here. The
  // position is left where it was (it may then lie beyond the end).
  virtual void SetSize(std::int64_t newSize) = 0;
  // Makes what was written so far durable (on a file: on the disk), so that later writes
  // cannot reach the disk before it. Streams with nothing to make durable do nothing.
  virtual void Flush() {}

  // The file the stream reads or writes, for error messages; empty when it is no file.
  virtual std::string Name() const { return {}; }

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Begin); }

  // Reads exactly count bytes or raises "Read beyond end of file".
  void ReadBuffer(void* buffer, std::size_t count);
  // Reads exactly count bytes into a string (same failure as ReadBuffer).
  std::string ReadString(std::size_t count);
  void WriteString(const std::string& bytes) { Write(bytes.data(), bytes.size()); }

  // Copies count bytes from source's current position (count 0: the whole source from position
  // 0). Returns the number of bytes copied; a short source raises "Read beyond end of file".
  std::int64_t CopyFrom(Stream& source, std::int64_t count);
};

// A stream over a file on disk. Files are opened with sharing open to everyone (reading,
// writing and deleting; POSIX never locks); always binary;, read-only or read-write, or created
// (replacing an existing file, or, with CreateNew, only when no file or link of that name exists).
class FileStream final : public Stream {
public:
  enum class Mode { OpenRead, OpenReadWrite, Create, CreateNew };

  // Raises EFOpenError (OpenRead/OpenReadWrite) or EFCreateError (Create/CreateNew).
  FileStream(const std::string& path, Mode mode);
  ~FileStream() override;

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t newSize) override;
  void Flush() override;
  // Gives this file the permissions of the file at path, so that a file renamed over it keeps
  // who may read it (POSIX mode bits; on Windows nothing: a writable file has no read-only
  // attribute to carry over). Raises the input/output error when that fails.
  void CopyPermissionsFrom(const std::string& path);

  std::string Name() const override { return path_; }
  const std::string& Path() const { return path_; }
  // The operating system's handle: a file descriptor on POSIX, a HANDLE on Windows.
  std::intptr_t Handle() const { return handle_; }

private:
  int Fd() const; // POSIX only

  std::string path_;
  std::intptr_t handle_ = -1;
  bool writable_ = false;
};

// The whole file at path, opened as OpenRead opens it (shared with writers and deleters). Raises
// EFOpenError when it cannot be opened, the input/output error when a read fails, and "Read
// beyond end of file" when it shrinks while being read.
std::string ReadWholeFile(const std::string& path);

// A growable in-memory stream.
class MemoryStream final : public Stream {
public:
  MemoryStream() = default;
  explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t newSize) override;

  // Reserves capacity without changing the size.
  void Reserve(std::size_t capacity) { data_.reserve(capacity); }
  const std::string& Bytes() const { return data_; }
  void Clear();

private:
  std::string data_;
  std::size_t position_ = 0;
};

} // namespace vornel
