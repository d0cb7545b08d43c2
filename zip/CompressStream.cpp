#include "zip/CompressStream.h"

#include "platform/ObjectPool.h"

#include <cstring>
#include <string>
#include <zlib.h>

namespace vornel {

namespace {

// deflate decides by at most a window (64 KiB) plus a stored block (64 KiB) of input per call,
// and one call takes in at most about twice that; holding more than this back means no call
// ever sees less input than it would with all the data at hand.
constexpr std::size_t FeedThreshold = HeldInputLimit;
constexpr std::size_t InputCapacity = 8 * CompressStream::BufferSize;
// The zlib wrapper's header, which the output buffer makes room for as if it were written.
constexpr std::size_t ZlibHeaderSize = 2;

[[noreturn]] void RaiseZlib(const char* what, int code, const z_stream& z) {
  std::string message =
      std::string("Compression error: ") + what + " returned " + std::to_string(code);
  if (z.msg != nullptr)
    message += std::string(" (") + z.msg + ")";
  throw ECompressionError(message);
}

// A zlib state kept for the next input at the same level.
class KeptDeflater {
public:
  KeptDeflater() = default;
  ~KeptDeflater() { End(); }
  KeptDeflater(const KeptDeflater&) = delete;
  KeptDeflater& operator=(const KeptDeflater&) = delete;

  z_stream& Fresh(int level) {
    if (ready_ && level_ == level) {
      const int result = deflateReset(&z_);
      if (result != Z_OK)
        RaiseZlib("deflateReset", result, z_);
      return z_;
    }
    End();
    z_ = z_stream{};
    const int result = deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (result != Z_OK)
      RaiseZlib("deflateInit2", result, z_);
    ready_ = true;
    level_ = level;
    return z_;
  }

private:
  void End() {
    if (ready_)
      deflateEnd(&z_);
    ready_ = false;
  }

  z_stream z_{};
  bool ready_ = false;
  int level_ = 0;
};

} // namespace

void DeflateHeld(int level, const unsigned char* input, std::size_t size, std::string& out) {
  if (size > HeldInputLimit)
    throw std::logic_error("DeflateHeld takes at most HeldInputLimit bytes");
  static ObjectPool<KeptDeflater> deflaters;
  const auto kept = deflaters.Take();
  z_stream& z = kept->Fresh(level);
  std::size_t filled = out.size(); // out holds the data up to here; the room behind is deflate's
  // The room a CompressStream offers: its buffer less the header it leaves space for, then
  // whole buffers as they are emptied.
  const auto offer = [&](std::size_t room) {
    out.resize(filled + room);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + filled);
    z.avail_out = static_cast<uInt>(room);
  };
  const auto take = [&] {
    filled = static_cast<std::size_t>(z.next_out - reinterpret_cast<Bytef*>(out.data()));
  };
  offer(CompressStream::BufferSize - ZlibHeaderSize);
  std::size_t begin = 0;
  while (begin < size) {
    // deflate takes no const input, though it never writes to it.
    z.next_in = const_cast<Bytef*>(input + begin);
    z.avail_in = static_cast<uInt>(size - begin);
    const int result = deflate(&z, Z_NO_FLUSH);
    if (result != Z_OK)
      RaiseZlib("deflate", result, z);
    begin = size - z.avail_in;
    if (z.avail_out == 0) {
      take();
      offer(CompressStream::BufferSize);
    }
  }
  z.next_in = nullptr;
  z.avail_in = 0;
  for (;;) {
    const int result = deflate(&z, Z_FINISH);
    if (result == Z_STREAM_END)
      break;
    if (result != Z_OK)
      RaiseZlib("deflate", result, z);
    if (z.avail_out == 0) {
      take();
      offer(CompressStream::BufferSize);
    }
  }
  take();
  out.resize(filled);
}

struct CompressStream::Zlib {
  z_stream z{};
};

CompressStream::CompressStream(Stream& target, int level, ProgressHook progress)
    : target_(target), progress_(std::move(progress)), zlib_(std::make_unique<Zlib>()),
      // Not zero-filled: most files are small, and clearing 576 KiB per file showed in a build.
      input_(std::make_unique_for_overwrite<unsigned char[]>(InputCapacity)),
      output_(std::make_unique_for_overwrite<unsigned char[]>(BufferSize)) {
  z_stream& z = zlib_->z;
  // Negative window bits: the same deflate data as the zlib format, without its wrapper.
  const int result = deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  if (result != Z_OK) {
    // Nothing to end: the failed stream is dropped without deflateEnd.
    const z_stream failed = z;
    zlib_.reset();
    RaiseZlib("deflateInit2", result, failed);
  }
  z.next_out = output_.get();
  z.avail_out = static_cast<uInt>(BufferSize - ZlibHeaderSize);
}

CompressStream::~CompressStream() {
  if (zlib_)
    deflateEnd(&zlib_->z);
}

std::int64_t CompressStream::Position() const {
  return static_cast<std::int64_t>(zlib_->z.total_in);
}

void CompressStream::Write(const void* buffer, std::size_t count) {
  if (finished_)
    throw std::logic_error("CompressStream written after Finish");
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    if (end_ == InputCapacity) {
      std::memmove(input_.get(), input_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    const std::size_t step = std::min(count, InputCapacity - end_);
    std::memcpy(input_.get() + end_, bytes, step);
    end_ += step;
    bytes += step;
    count -= step;
    while (end_ - begin_ > FeedThreshold)
      FeedOnce();
  }
}

void CompressStream::FeedOnce() {
  z_stream& z = zlib_->z;
  z.next_in = input_.get() + begin_;
  z.avail_in = static_cast<uInt>(end_ - begin_);
  const int result = deflate(&z, Z_NO_FLUSH);
  if (result != Z_OK)
    RaiseZlib("deflate", result, z);
  begin_ = end_ - z.avail_in;
  z.next_in = nullptr;
  z.avail_in = 0;
  if (z.avail_out == 0) {
    EmitOutput();
    if (progress_)
      progress_(*this);
  }
}

void CompressStream::EmitOutput() {
  z_stream& z = zlib_->z;
  const auto filled = static_cast<std::size_t>(z.next_out - output_.get());
  if (filled > 0)
    target_.Write(output_.get(), filled);
  written_ += static_cast<std::int64_t>(filled);
  z.next_out = output_.get();
  z.avail_out = static_cast<uInt>(BufferSize);
}

void CompressStream::Finish() {
  if (finished_)
    throw std::logic_error("CompressStream finished twice");
  while (begin_ < end_)
    FeedOnce();
  finished_ = true;
  z_stream& z = zlib_->z;
  for (;;) {
    const int result = deflate(&z, Z_FINISH);
    if (result == Z_STREAM_END)
      break;
    if (result != Z_OK)
      RaiseZlib("deflate", result, z);
    if (z.avail_out == 0)
      EmitOutput();
  }
  EmitOutput();
}

} // namespace vornel
