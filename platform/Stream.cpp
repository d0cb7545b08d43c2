#include "platform/Stream.h"

#include "platform/Errors.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace vornel {

// ---- Stream ---------------------------------------------------------------------------------

void Stream::ReadBuffer(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const std::size_t got = Read(bytes + done, count - done);
    if (got == 0)
      RaiseIoError(io_error::ReadBeyondEnd, Name(), IoOperation::Read);
    done += got;
  }
}

std::string Stream::ReadString(std::size_t count) {
  // Grows with what actually arrives, so that a corrupt length field cannot make us allocate
  // gigabytes before the short read is noticed.
  std::string bytes;
  bytes.reserve(std::min(count, IoBlockSize));
  while (bytes.size() < count) {
    const std::size_t step = std::min(count - bytes.size(), std::max(bytes.size(), IoBlockSize));
    const std::size_t start = bytes.size();
    bytes.resize(start + step);
    ReadBuffer(bytes.data() + start, step);
  }
  return bytes;
}

std::int64_t Stream::CopyFrom(Stream& source, std::int64_t count) {
  if (count < 0)
    throw std::invalid_argument("negative copy count");
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::string block(static_cast<std::size_t>(std::min<std::int64_t>(count, IoBlockSize)), '\0');
  std::int64_t left = count;
  while (left > 0) {
    const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, IoBlockSize));
    source.ReadBuffer(block.data(), step);
    Write(block.data(), step);
    left -= static_cast<std::int64_t>(step);
  }
  return count;
}

// ---- FileStream ----------------------------------------------------------------------------

std::string ReadWholeFile(const std::string& path) {
  FileStream file(path, FileStream::Mode::OpenRead);
  return file.ReadString(static_cast<std::size_t>(file.Size()));
}

// ---- MemoryStream ---------------------------------------------------------------------------

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
  if (position_ >= data_.size())
    return 0;
  const std::size_t got = std::min(count, data_.size() - position_);
  std::memcpy(buffer, data_.data() + position_, got);
  position_ += got;
  return got;
}

void MemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0)
    return;
  if (count > std::numeric_limits<std::size_t>::max() - position_)
    RaiseIoError(io_error::DiskFull);
  const std::size_t end = position_ + count;
  if (end > data_.size()) {
    if (data_.capacity() < end)
      data_.reserve(std::max(end, data_.capacity() + data_.capacity() / 2));
    data_.resize(end, '\0'); // a gap left by a seek beyond the end reads as zeros
  }
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = end;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current)
    base = static_cast<std::int64_t>(position_);
  else if (origin == SeekOrigin::End)
    base = static_cast<std::int64_t>(data_.size());
  std::int64_t target;
  if (__builtin_add_overflow(base, offset, &target))
    RaiseIoError(io_error::NegativeSeek);
  if (target < 0)
    RaiseIoError(io_error::NegativeSeek);
  position_ = static_cast<std::size_t>(target);
  return target;
}

void MemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0)
    RaiseIoError(io_error::NegativeSeek);
  data_.resize(static_cast<std::size_t>(newSize), '\0');
}

void MemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

} // namespace vornel
