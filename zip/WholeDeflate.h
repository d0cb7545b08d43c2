#pragma once

// Deflates a source held whole in memory (usually a mapped file) with a compressor that takes
// its input in one piece, libdeflate or zopfli, and checksums it on the way.

#include "platform/Stream.h"
#include "zip/Compressor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vornel {

struct FreeDeleter {
  void operator()(unsigned char* bytes) const { std::free(bytes); }
};

struct WholeDeflated {
  std::unique_ptr<unsigned char, FreeDeleter> Data; // raw deflate data
  std::size_t Size = 0;
  std::uint32_t Crc32 = 0; // of the input
};

// True when the program was built with a compressor that DeflateWhole serves.
bool WholeDeflateAvailable();

// Deflates length bytes (at least 1) of source from its position on with choice (libdeflate or
// zopfli) and leaves the position behind them. A file is mapped, not copied; a memory stream is
// used in place; any other stream is read into memory. A source that holds fewer bytes, also a
// mapped file that shrinks while it is read, raises "Read beyond end of file". Raises
// ECompressionError when the compressor fails.
//
// Memory besides the mapped input: libdeflate's output buffer of its bound for the input (the
// input's size plus about 0.01 %; only the pages written are touched) and one compressor per
// thread, kept for the next file (0.2 MiB at level 1, 0.65 MiB at 6 to 9, 8.6 MiB at 12);
// zopfli grows its output to the deflate size and works through the input in blocks of 1 MB,
// which costs about 30 MiB whatever the source's size.
WholeDeflated DeflateWhole(const CompressorChoice& choice, Stream& source, std::size_t length);

// The same for length bytes (at least 1) held in memory.
WholeDeflated DeflateWholeBuffer(const CompressorChoice& choice, const unsigned char* input,
                                 std::size_t length);

} // namespace vornel
