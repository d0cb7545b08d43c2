#pragma once

// Streams for fault injection, where a fault cannot be made on a real file system: a memory
// stream that fails after a given number of bytes written or read, and sources whose size does
// not match what they deliver. They stand in for the platform's streams through the Stream
// interface, so the core needs no hooks of its own.

#include "platform/Errors.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace vornel::test {

// A memory stream with a budget of bytes that may be written (resizes that grow count as
// writes, as a disk reserves the room) and a budget of bytes that may be read. A write past the
// write budget puts the bytes that still fit and then raises "Disk full", as a full disk makes a
// short write. A read past the read budget either comes up short (the file ended early) or
// raises a device error (the medium failed).
class FaultyStream final : public Stream {
public:
  static constexpr std::uint64_t Unlimited = std::numeric_limits<std::uint64_t>::max();
  enum class ReadFault { Short, Error };
  enum class WriteFault {
    Persistent, // every write after the budget fails: the disk stays full
    Once        // only the write that crosses the budget fails; the disk then has room again
  };

  explicit FaultyStream(std::string bytes = {}) : data_(std::move(bytes)) {}

  // Budgets count from now: after this many more bytes the fault strikes.
  void FailWritesAfter(std::uint64_t bytes, WriteFault fault = WriteFault::Persistent) {
    writeBudget_ = written_ + bytes;
    writeFault_ = fault;
  }
  void FailReadsAfter(std::uint64_t bytes, ReadFault fault) {
    readBudget_ = read_ + bytes;
    readFault_ = fault;
  }
  void Heal() { writeBudget_ = readBudget_ = Unlimited; }

  std::uint64_t Written() const { return written_; }
  std::uint64_t ReadCount() const { return read_; }
  int Faults() const { return faults_; }
  const std::string& Bytes() const { return data_.Bytes(); }
  // The bytes as the first failed write left them, before any clean-up: what a kill at that
  // byte would leave.
  const std::string& BytesAtFault() const { return atFault_; }

  std::size_t Read(void* buffer, std::size_t count) override {
    std::size_t allowed = count;
    if (readBudget_ != Unlimited)
      allowed = static_cast<std::size_t>(std::min<std::uint64_t>(count, readBudget_ - read_));
    const std::size_t got = data_.Read(buffer, allowed);
    read_ += got;
    if (allowed < count && got == allowed) { // the budget, not the data, ended this read
      ++faults_;
      if (readFault_ == ReadFault::Error)
        RaiseIoError(io_error::DeviceError);
    }
    return got;
  }

  void Write(const void* buffer, std::size_t count) override {
    const std::size_t allowed = Allow(count);
    data_.Write(buffer, allowed);
    if (allowed < count)
      Fail();
  }

  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    return data_.Seek(offset, origin);
  }
  std::int64_t Size() override { return data_.Size(); }

  void SetSize(std::int64_t newSize) override {
    const std::int64_t old = data_.Size();
    if (newSize > old &&
        Allow(static_cast<std::size_t>(newSize - old)) < static_cast<std::size_t>(newSize - old))
      Fail(); // a resize reserves all or nothing
    data_.SetSize(newSize);
  }

private:
  // How many of count bytes may still be written; counts them as written.
  std::size_t Allow(std::size_t count) {
    std::size_t allowed = count;
    if (writeBudget_ != Unlimited)
      allowed = static_cast<std::size_t>(
          std::min<std::uint64_t>(count, writeBudget_ > written_ ? writeBudget_ - written_ : 0));
    written_ += allowed;
    return allowed;
  }

  [[noreturn]] void Fail() {
    if (faults_++ == 0)
      atFault_ = data_.Bytes();
    if (writeFault_ == WriteFault::Once)
      writeBudget_ = Unlimited;
    RaiseIoError(io_error::DiskFull);
  }

  MemoryStream data_;
  std::uint64_t writeBudget_ = Unlimited;
  std::uint64_t readBudget_ = Unlimited;
  WriteFault writeFault_ = WriteFault::Persistent;
  ReadFault readFault_ = ReadFault::Short;
  std::uint64_t written_ = 0;
  std::uint64_t read_ = 0;
  int faults_ = 0;
  std::string atFault_;
};

// A source whose size says one thing while its reads deliver another: a file that grew (more
// bytes than announced) or shrank (fewer) while it was being packed. Reads deliver the pattern
// byte by byte; size() is fixed at construction.
class ChangingSource final : public Stream {
public:
  ChangingSource(std::string delivered, std::int64_t announcedSize)
      : data_(std::move(delivered)), announced_(announcedSize) {}

  std::size_t Read(void* buffer, std::size_t count) override { return data_.Read(buffer, count); }
  void Write(const void*, std::size_t) override { RaiseIoError(io_error::AccessDenied); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    if (origin == SeekOrigin::End)
      return data_.Seek(announced_ + offset, SeekOrigin::Begin);
    return data_.Seek(offset, origin);
  }
  std::int64_t Size() override { return announced_; }
  void SetSize(std::int64_t) override { RaiseIoError(io_error::AccessDenied); }

private:
  MemoryStream data_;
  std::int64_t announced_;
};

// A source of any size made of zero bytes, held in no memory: for the limits of the format.
// Counts what was read, so a test can show that a refused source was never read.
class ZeroSource final : public Stream {
public:
  explicit ZeroSource(std::int64_t size) : size_(size) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    const auto left = static_cast<std::uint64_t>(std::max<std::int64_t>(size_ - position_, 0));
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    std::memset(buffer, 0, got);
    position_ += static_cast<std::int64_t>(got);
    read_ += got;
    return got;
  }
  void Write(const void*, std::size_t) override { RaiseIoError(io_error::AccessDenied); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    const std::int64_t base = origin == SeekOrigin::Begin     ? 0
                              : origin == SeekOrigin::Current ? position_
                                                              : size_;
    if (base + offset < 0)
      RaiseIoError(io_error::NegativeSeek);
    position_ = base + offset;
    return position_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override { RaiseIoError(io_error::AccessDenied); }
  std::uint64_t ReadCount() const { return read_; }

private:
  std::int64_t size_;
  std::int64_t position_ = 0;
  std::uint64_t read_ = 0;
};

} // namespace vornel::test
