#pragma once

// A private scratch folder for a fuzz target that needs real files: made once per process under
// the temporary folder and removed at exit. Every file the target writes lives below it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace vornel::fuzz {

class ScratchFolder {
public:
  explicit ScratchFolder(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/vornel-fuzz-" + tag + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Removes everything below the folder, keeping the folder.
  void Empty() const {
    std::error_code ignored;
    for (const auto& item : std::filesystem::directory_iterator(path_, ignored))
      std::filesystem::remove_all(item.path(), ignored);
  }

private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    std::abort(); // the scratch folder itself failed; no finding of the target
}

} // namespace vornel::fuzz
