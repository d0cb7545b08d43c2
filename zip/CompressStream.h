#pragma once

// A compressing front over zlib's deflate that writes raw deflate data (no zlib header, no
// Adler-32 trailer) straight into a target stream, so that entry data never has to be held in
// memory whole.

#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornel {

// zlib refused a level or reported a broken stream.
class ECompressionError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Deflates what is written into it at the given zlib level (zlib's default method, a 32 KiB
// window and memory level 8) and writes the data to the target at the target's position,
// through a 64 KiB output buffer.
//
// The bytes equal those of a deflate stream that is given all its input in one call with no
// flush and is drained through 64 KiB buffers: input is held back (at most 512 KiB) so that
// every deflate call sees more input than it can take in one go. Level 0 needs that, because it
// sizes its stored blocks by the input and output room it is offered.
//
// The progress hook runs each time the output buffer has filled while input is fed, never while
// the stream is finished. The buffer boundaries fall where they would if the 2-byte zlib header
// stood in front of the data, so the first one comes after 65,534 bytes of deflate data.
class CompressStream {
public:
  using ProgressHook = std::function<void(CompressStream& sender)>;
  static constexpr std::size_t BufferSize = 65536;

  CompressStream(Stream& target, int level, ProgressHook progress = {});
  ~CompressStream();
  CompressStream(const CompressStream&) = delete;
  CompressStream& operator=(const CompressStream&) = delete;

  void Write(const void* buffer, std::size_t count);
  // Feeds what is held back, ends the deflate stream and writes the rest of the data. Nothing
  // may be written afterwards.
  void Finish();

  // Input bytes that deflate has taken so far.
  std::int64_t Position() const;
  // Deflate bytes written to the target so far.
  std::int64_t OutputSize() const { return written_; }

private:
  struct Zlib;

  void FeedOnce();
  void EmitOutput();

  Stream& target_;
  ProgressHook progress_;
  std::unique_ptr<Zlib> zlib_;
  std::unique_ptr<unsigned char[]> input_; // room for 512 KiB
  std::size_t begin_ = 0;                  // held-back input is input_[begin_, end_)
  std::size_t end_ = 0;
  std::unique_ptr<unsigned char[]> output_; // BufferSize bytes
  std::int64_t written_ = 0;
  bool finished_ = false;
};

// The most input a CompressStream holds back before it feeds deflate.
inline constexpr std::size_t HeldInputLimit = 6 * CompressStream::BufferSize;

// Appends to out the deflate data that a CompressStream at this level writes for the input (at
// most HeldInputLimit bytes, so it holds all of it back): the same zlib calls with the same room
// for output, so the same bytes, without the stream's buffers. Each thread keeps one zlib state,
// reset for every call, which gives the bytes of a fresh one.
void DeflateHeld(int level, const unsigned char* input, std::size_t size, std::string& out);

} // namespace vornel
