// Adding many small files to one archive: the batch call that `vornel add` uses (up to the
// 65,535 entries an archive holds) against adding them one by one, which rewrites the whole
// directory after each file. Time per add of the whole set; files per second in the counter.
// And what adding one small file in place to a 1 GiB archive writes: about the new entry and
// the directory (twice: its standing copy and the new one), not the archive.

#include "zip/Pellum.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
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

// A stream of zero bytes that holds no memory, as the data of the large entry.
class Zeros final : public vornel::Stream {
public:
  explicit Zeros(std::int64_t size) : size_(size) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const auto got = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - position_));
    std::memset(buffer, 0, got);
    position_ += static_cast<std::int64_t>(got);
    return got;
  }
  void Write(const void*, std::size_t) override {}
  std::int64_t Seek(std::int64_t offset, vornel::SeekOrigin origin) override {
    position_ = (origin == vornel::SeekOrigin::Begin     ? 0
                 : origin == vornel::SeekOrigin::Current ? position_
                                                         : size_) +
                offset;
    return position_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override {}

private:
  std::int64_t size_;
  std::int64_t position_ = 0;
};

// The archive file, counting the bytes written to it (a resize that grows counts as written).
class Counting final : public vornel::Stream {
public:
  explicit Counting(const std::string& path)
      : file_(path, vornel::FileStream::Mode::OpenReadWrite) {}
  std::size_t Read(void* buffer, std::size_t count) override { return file_.Read(buffer, count); }
  void Write(const void* buffer, std::size_t count) override {
    file_.Write(buffer, count);
    written += static_cast<std::int64_t>(count);
  }
  std::int64_t Seek(std::int64_t offset, vornel::SeekOrigin origin) override {
    return file_.Seek(offset, origin);
  }
  std::int64_t Size() override { return file_.Size(); }
  void SetSize(std::int64_t size) override {
    written += std::max<std::int64_t>(size - file_.Size(), 0);
    file_.SetSize(size);
  }
  void Flush() override { file_.Flush(); }
  std::int64_t written = 0;

private:
  vornel::FileStream file_;
};

void BM_AddOneToA1GiBArchive(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / "vornel-large-bench";
  const std::string archive = (dir / "large.zip").string();
  const std::string small = (dir / "small.txt").string();
  fs::create_directories(dir);
  std::ofstream(small) << "one small file\n";
  {
    // 1 GiB of stored-block deflate data and 1,000 small entries, so the directory is real.
    vornel::TPellum zip;
    zip.SetCompressionType(vornel::TZipCompressionType::ctNone);
    zip.CreateArchiveFile(archive);
    zip.OpenArchive(archive);
    Zeros zeros(std::int64_t{1} << 30);
    zip.Entries().AddEntry("large.bin", 0x20, zeros, vornel::Now());
    zip.Entries().AddFiles(SmallFiles(1000));
    zip.CloseArchive();
  }
  const std::string pristine = (dir / "pristine.zip").string();
  fs::copy_file(archive, pristine, fs::copy_options::overwrite_existing);
  std::int64_t written = 0;
  std::int64_t size = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(pristine, archive, fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    vornel::TPellum zip;
    auto counting = std::make_unique<Counting>(archive);
    Counting& stream = *counting;
    zip.OpenFromStream(std::move(counting));
    zip.Entries().AddFiles({{small, "small.txt"}});
    written = stream.written;
    size = stream.Size();
    zip.CloseArchive();
  }
  fs::remove_all(dir);
  state.counters["archive bytes"] = static_cast<double>(size);
  state.counters["written bytes"] = static_cast<double>(written);
  state.counters["written/archive"] = static_cast<double>(written) / static_cast<double>(size);
}

} // namespace

BENCHMARK(BM_AddOneToA1GiBArchive)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AddBatch)->Arg(65535)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AddBatch)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AddOneByOne)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);
