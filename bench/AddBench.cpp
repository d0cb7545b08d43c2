// Adding many small files to one archive: the batch call that `vornel add` uses against adding
// them one by one, which rewrites the whole directory after each file. Time per add of the
// whole set; files per second in the counter.

#include "zip/Pellum.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// count small text files in a scratch folder, made once per count.
const std::vector<vornel::TBatchFile>& SmallFiles(std::size_t count) {
  static std::vector<vornel::TBatchFile> files;
  const fs::path dir = fs::temp_directory_path() / "vornel-add-bench";
  if (files.size() != count) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    files.clear();
    for (std::size_t i = 0; i < count; ++i) {
      const std::string name = "file" + std::to_string(i) + ".txt";
      std::ofstream(dir / name) << "small file number " << i << '\n';
      files.push_back({(dir / name).string(), name});
    }
  }
  return files;
}

void AddSmallFiles(benchmark::State& state, bool batch) {
  const auto& files = SmallFiles(static_cast<std::size_t>(state.range(0)));
  const std::string archive = (fs::temp_directory_path() / "vornel-add-bench.zip").string();
  for (auto _ : state) {
    vornel::TPellum zip;
    zip.CreateArchiveFile(archive);
    zip.OpenArchive(archive);
    if (batch) {
      zip.Entries().AddFiles(files);
    } else {
      for (const auto& file : files)
        zip.Entries().AddFileAs(file.Path, file.EntryName);
    }
    zip.CloseArchive();
  }
  fs::remove(archive);
  state.counters["files/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}

void BM_AddBatch(benchmark::State& state) {
  AddSmallFiles(state, true);
}
void BM_AddOneByOne(benchmark::State& state) {
  AddSmallFiles(state, false);
}

} // namespace

BENCHMARK(BM_AddBatch)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AddOneByOne)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);
