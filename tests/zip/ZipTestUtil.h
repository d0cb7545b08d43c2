#pragma once

// Hand-made archives and peer helpers for the archive component's tests.

#include "tests/support/TestSupport.h"
#include "zip/Pellum.h"

#include <cstdlib>
#include <filesystem>

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::ziptest {

// One stored entry of a hand-made archive, laid out the way the component lays out its own.
struct Item {
  explicit Item(std::string entryName, std::string bytes = {})
      : name(std::move(entryName)), data(std::move(bytes)) {}
  Item& Attributes(std::uint32_t value) {
    attributes = value;
    return *this;
  }
  Item& Dos(std::uint16_t dosDate, std::uint16_t dosTime) {
    date = dosDate;
    time = dosTime;
    return *this;
  }
  Item& LocalExtra(std::string value) {
    localExtra = std::move(value);
    return *this;
  }
  Item& Descriptor(int length = 16) {
    descriptor = length;
    return *this;
  }

  std::string name;
  std::string data;
  std::uint16_t flag = 0;
  std::uint32_t attributes = 0x20;
  std::uint16_t date = 0x58A6; // 2024-05-06
  std::uint16_t time = 0x645C; // 12:34:56
  std::string localExtra;
  std::string centralExtra;
  std::string fileComment;
  int descriptor = 0; // sizes in a data descriptor of 16 bytes (signed) or 12 behind the data
};

struct Layout {
  std::vector<std::uint32_t> localOffsets;
  std::uint32_t centralOffset = 0;
  std::uint32_t endOffset = 0;
};

std::string BuildArchive(const std::vector<Item>& items, const std::string& comment = {},
                         Layout* layout = nullptr);

void OpenBytes(TPellum& zip, const std::string& bytes);
std::string ArchiveBytes(TPellum& zip);

// Runs python3 with a script; returns its exit status, and its output with errors merged.
int RunPython(const std::string& script, const std::vector<std::string>& arguments,
              std::string* output);

// "OK" when unzip -t and python's testzip() accept the archive and every entry named in
// originals (name, bytes) extracts to those bytes; otherwise what went wrong.
std::string PeerCheck(const std::string& archivePath,
                      const std::vector<std::pair<std::string, std::string>>& originals);

std::uint32_t Le32(const std::string& bytes, std::size_t at);
std::uint16_t Le16(const std::string& bytes, std::size_t at);

// Points the temporary folder at a folder of the test's own for its lifetime.
class ScopedTempEnv {
public:
  bool Empty() const { return std::filesystem::is_empty(dir_.Path()); }

private:
  test::TempDir dir_;
  test::ScopedTempFolder env_{dir_.Str()};
};

} // namespace vornel::ziptest
