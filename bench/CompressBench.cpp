// The compressing stream against plain zlib deflate on the same data, in bytes per second of
// input (Google Benchmark prints B/s). The stream must add next to nothing to the deflate it
// drives: both give the same bytes, which each run checks.
//
// The data are 8 MiB of real binaries: this program and the shared libraries it runs with.

#include "platform/Stream.h"
#include "zip/CompressStream.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t DataSize = 8 << 20;
constexpr std::size_t Block = 65536;

// This program and the shared libraries it has mapped (C++ runtime, zlib, ...), each once,
// concatenated: real binaries without the artificial repeats that slow level 9 down.
std::string RealBinaries() {
  std::vector<std::string> paths{"/proc/self/exe"};
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos)
      continue;
    const std::string path = line.substr(slash);
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
      paths.push_back(path);
  }
  std::string bytes;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.size() >= DataSize)
      break;
  }
  return bytes;
}

const std::string& Data() {
  static const std::string data = [] {
    std::string bytes = RealBinaries();
    if (bytes.empty())
      bytes = "no binaries to read, so this text stands in for them; ";
    while (bytes.size() < DataSize)
      bytes += bytes;
    bytes.resize(DataSize);
    return bytes;
  }();
  return data;
}

// Counts what is written and keeps nothing (unless asked to, for the check of the bytes): only
// the compression is timed.
class CountingStream final : public vornel::Stream {
public:
  explicit CountingStream(std::string* keep = nullptr) : keep_(keep) {}
  std::size_t Read(void*, std::size_t) override { return 0; }
  void Write(const void* buffer, std::size_t count) override {
    size_ += static_cast<std::int64_t>(count);
    if (keep_ != nullptr)
      keep_->append(static_cast<const char*>(buffer), count);
  }
  std::int64_t Seek(std::int64_t, vornel::SeekOrigin) override { return size_; }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override {}

private:
  std::string* keep_;
  std::int64_t size_ = 0;
};

// Fed in the 64 KiB blocks an add reads.
std::int64_t OurStream(int level, std::string* keep = nullptr) {
  const std::string& data = Data();
  CountingStream target(keep);
  vornel::CompressStream deflater(target, level);
  for (std::size_t at = 0; at < data.size(); at += Block)
    deflater.Write(data.data() + at, std::min(Block, data.size() - at));
  deflater.Finish();
  return deflater.OutputSize();
}

// Raw deflate at the same window and memory level, the input in 64 KiB blocks, the output
// through a 64 KiB buffer.
std::int64_t PlainZlib(int level, std::string* keep = nullptr) {
  const std::string& data = Data();
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return -1;
  std::vector<unsigned char> out(Block);
  std::int64_t written = 0;
  for (std::size_t at = 0; at <= data.size(); at += Block) {
    const bool last = at + Block >= data.size();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    z.avail_in = static_cast<uInt>(std::min(Block, data.size() - at));
    int status = Z_OK;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      written += static_cast<std::int64_t>(out.size() - z.avail_out);
      if (keep != nullptr)
        keep->append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
    if (last)
      break;
  }
  deflateEnd(&z);
  return written;
}

void BM_CompressStream(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  std::string ours;
  std::string plain;
  OurStream(level, &ours);
  PlainZlib(level, &plain);
  if (ours != plain) {
    state.SkipWithError("the stream's output differs from plain zlib's");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(OurStream(level));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(DataSize));
}

void BM_PlainZlibDeflate(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(PlainZlib(level));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(DataSize));
}

BENCHMARK(BM_CompressStream)->Arg(9)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainZlibDeflate)->Arg(9)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
