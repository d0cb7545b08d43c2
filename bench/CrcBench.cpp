// Checksum throughput: our methods against zlib's crc32() on the same buffer, in bytes/second
// (Google Benchmark prints it as B/s; 1 GB/s = 1e9 bytes per second).

#include "crc/Crc32.h"
#include "crc/Crc32Fast.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>
#include <zlib.h>

namespace {

const std::string& Buffer(std::size_t size) {
  static std::string data;
  if (data.size() != size) {
    std::mt19937 generator(42);
    data.resize(size);
    for (auto& byte : data)
      byte = static_cast<char>(generator() & 0xFF);
  }
  return data;
}

const auto* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

void BM_CrcZlib(benchmark::State& state) {
  const auto& data = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(::crc32(0L, Bytes(data), static_cast<uInt>(data.size())));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_CrcOurs(benchmark::State& state) {
  const auto& data = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(vornel::Crc32Update(0xFFFFFFFFu, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_CrcSlicing8(benchmark::State& state) {
  const auto& data = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(vornel::Crc32UpdateSlicing8(0xFFFFFFFFu, Bytes(data), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_CrcTable(benchmark::State& state) {
  const auto& data = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(vornel::Crc32UpdateTable(0xFFFFFFFFu, Bytes(data), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// 64 KiB is the block FileCrc32 reads; 8 MiB shows the memory-bound rate.
BENCHMARK(BM_CrcZlib)->Arg(64 << 10)->Arg(8 << 20);
BENCHMARK(BM_CrcOurs)->Arg(64 << 10)->Arg(8 << 20);
BENCHMARK(BM_CrcSlicing8)->Arg(64 << 10)->Arg(8 << 20);
BENCHMARK(BM_CrcTable)->Arg(64 << 10)->Arg(8 << 20);

} // namespace
