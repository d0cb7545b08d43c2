#include "zip/WholeDeflate.h"

#include "platform/Errors.h"
#include "platform/MappedFile.h"
#include "zip/CompressStream.h"
#include "zip/Records.h"

#include <optional>
#include <string>

#ifdef VORNEL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef VORNEL_HAVE_ZOPFLI
#include <zopfli/zopfli.h>
#endif

// Without either library nothing here maps files, so a platform needs no mapping of its own.
#if defined(VORNEL_HAVE_LIBDEFLATE) || defined(VORNEL_HAVE_ZOPFLI)
#define VORNEL_WHOLE_DEFLATE 1
#endif

namespace vornel {

bool WholeDeflateAvailable() {
  return CompressorBuiltIn(CompressorKind::Libdeflate) || CompressorBuiltIn(CompressorKind::Zopfli);
}

#ifdef VORNEL_WHOLE_DEFLATE
namespace {

#ifdef VORNEL_HAVE_LIBDEFLATE
struct CompressorDeleter {
  void operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
  }
};

// Allocating a compressor costs more than deflating a small file, so each thread keeps one.
libdeflate_compressor* ThreadCompressor(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> kept;
  thread_local int keptLevel = 0;
  if (!kept || keptLevel != level) {
    kept.reset(libdeflate_alloc_compressor(level));
    keptLevel = level;
    if (!kept)
      throw ECompressionError("Compression error: libdeflate could not set up level " +
                              std::to_string(level));
  }
  return kept.get();
}
#endif

// Everything the guarded pass touches; it owns nothing, so abandoning it loses nothing but what
// zopfli allocated itself.
struct Pass {
  CompressorChoice Choice;
  const unsigned char* Input = nullptr;
  std::size_t Size = 0;
  void* Compressor = nullptr;
  unsigned char* Output = nullptr; // libdeflate: ours; zopfli: allocated by the pass
  std::size_t Capacity = 0;
  std::size_t Written = 0;
  std::uint32_t Crc32 = 0;
};

void RunPass(void* context) {
  Pass& pass = *static_cast<Pass*>(context);
  pass.Crc32 = PellumCrc32Update(0xFFFFFFFFu, pass.Input, pass.Size) ^ 0xFFFFFFFFu;
  switch (pass.Choice.Kind) {
  case CompressorKind::Libdeflate:
#ifdef VORNEL_HAVE_LIBDEFLATE
    pass.Written = libdeflate_deflate_compress(static_cast<libdeflate_compressor*>(pass.Compressor),
                                               pass.Input, pass.Size, pass.Output, pass.Capacity);
#endif
    break;
  case CompressorKind::Zopfli: {
#ifdef VORNEL_HAVE_ZOPFLI
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    options.numiterations = pass.Choice.Level;
    ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, pass.Input, pass.Size, &pass.Output,
                   &pass.Written);
#endif
    break;
  }
  case CompressorKind::Zlib:
    break;
  }
}

// Nothing when the input's pages could not be read.
std::optional<WholeDeflated> DeflateBuffer(const CompressorChoice& choice,
                                           const unsigned char* input, std::size_t size) {
  Pass pass;
  pass.Choice = choice;
  pass.Input = input;
  pass.Size = size;
  WholeDeflated result;
#ifdef VORNEL_HAVE_LIBDEFLATE
  if (choice.Kind == CompressorKind::Libdeflate) {
    auto* compressor = ThreadCompressor(choice.Level);
    pass.Compressor = compressor;
    pass.Capacity = libdeflate_deflate_compress_bound(compressor, size);
    result.Data.reset(static_cast<unsigned char*>(std::malloc(pass.Capacity)));
    if (!result.Data)
      throw std::bad_alloc();
    pass.Output = result.Data.get();
  }
#endif
  const bool read = RunOverMappedPages(RunPass, &pass);
  if (choice.Kind == CompressorKind::Zopfli)
    result.Data.reset(pass.Output);
  if (!read)
    return std::nullopt;
  if (pass.Written == 0)
    throw ECompressionError(std::string("Compression error: ") + CompressorName(choice.Kind) +
                            " wrote no data");
  result.Size = pass.Written;
  result.Crc32 = pass.Crc32;
  return result;
}

} // namespace
#endif

namespace {

void CheckServed(const CompressorChoice& choice, std::size_t length) {
  if (choice.Kind == CompressorKind::Zlib || !CompressorBuiltIn(choice.Kind) || length == 0)
    throw ECompressionError(std::string("Compression error: ") + CompressorName(choice.Kind) +
                            " cannot deflate this buffer here");
}

} // namespace

WholeDeflated DeflateWholeBuffer(const CompressorChoice& choice, const unsigned char* input,
                                 std::size_t length) {
  CheckServed(choice, length);
#ifdef VORNEL_WHOLE_DEFLATE
  std::optional<WholeDeflated> deflated = DeflateBuffer(choice, input, length);
  if (!deflated)
    RaiseIoError(io_error::ReadBeyondEnd);
  return std::move(*deflated);
#else
  (void)input;
  throw ECompressionError("Compression error: no whole-buffer compressor is built in");
#endif
}

WholeDeflated DeflateWhole(const CompressorChoice& choice, Stream& source, std::size_t length) {
  CheckServed(choice, length);
#ifdef VORNEL_WHOLE_DEFLATE
  const std::int64_t start = source.Position();
  const std::int64_t end = start + static_cast<std::int64_t>(length);
  std::optional<WholeDeflated> deflated;
  if (auto* file = dynamic_cast<FileStream*>(&source)) {
    // A mapping past the end would have no pages to read there.
    if (file->Size() < end)
      RaiseIoError(io_error::ReadBeyondEnd);
    const MappedFile mapped(*file, start, length);
    deflated = DeflateBuffer(choice, mapped.Data(), length);
  } else if (auto* memory = dynamic_cast<MemoryStream*>(&source)) {
    if (memory->Size() < end)
      RaiseIoError(io_error::ReadBeyondEnd);
    const auto* bytes = reinterpret_cast<const unsigned char*>(memory->Bytes().data());
    deflated = DeflateBuffer(choice, bytes + start, length);
  } else {
    const std::string bytes = source.ReadString(length);
    deflated = DeflateBuffer(choice, reinterpret_cast<const unsigned char*>(bytes.data()), length);
  }
  if (!deflated)
    RaiseIoError(io_error::ReadBeyondEnd); // the file shrank while it was read
  source.SetPosition(end);
  return std::move(*deflated);
#else
  (void)source;
  throw ECompressionError("Compression error: no whole-buffer compressor is built in");
#endif
}

} // namespace vornel
