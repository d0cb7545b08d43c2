// Fuzz target: adds arbitrary data under arbitrary names with options from the input, then
// reopens the archive and checks, with zlib and a reader of its own, that every entry unpacks to
// exactly the data that was added under its name.
//
// Input: one options byte, then up to 8 operations.
//   options: bit 0 RebuildAll (else FastSave), bit 1 UseTempFiles, bit 2 StoreRelativePath,
//            bit 3 StoreFolders, bit 4 archive in a file (else a memory stream), bits 5-7 the
//            compression type (6 and 7 lie outside the enumeration).
//   operation: a kind byte (bits 0-1: 0 add from memory, 1 add a file from disk under the given
//            name, 2 remove entry (bits 3-7) modulo the count, 3 add from memory with the stream
//            positioned a third of the way in; bit 2 repeats the data past 64 KiB; bits 3-7 pick
//            the time, which also reaches outside the DOS range), a name length byte, the name,
//            a 16-bit little-endian data length and the data (cut short by the input's end).
//
// An archive in memory starts with two stored entries as a streaming writer leaves them: sizes
// in data descriptors, one of 16 bytes (with its signature) and one of 12. Every state must keep
// the local records back to back up to the directory, as streaming readers need them.
//
// Refusals (EPellumError) are expected; any other exception, a mismatch, a temporary file left
// behind or a sanitizer report is a finding.

#include "fuzz/FuzzScratch.h"
#include "fuzz/ZipOracle.h"
#include "platform/DateTime.h"
#include "platform/Stream.h"
#include "zip/Pellum.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vornel::TPellum;

constexpr int MaxOperations = 8;
constexpr std::size_t ExpandedSize = 70000; // past one 64 KiB output buffer

// The scratch folder, with TMPDIR pointed at a folder of its own so that leftovers show.
const vornel::fuzz::ScratchFolder& Scratch() {
  static const vornel::fuzz::ScratchFolder folder("roundtrip");
  static const bool tmpSet = [] {
    fs::create_directory(folder.Path() / "tmp");
    return ::setenv("TMPDIR", (folder.Path() / "tmp").c_str(), 1) == 0;
  }();
  if (!tmpSet)
    std::abort();
  return folder;
}

void Check(bool condition) {
  if (!condition)
    std::abort();
}

class Input {
public:
  explicit Input(std::string_view bytes) : bytes_(bytes) {}
  bool Empty() const { return bytes_.empty(); }
  std::uint8_t Byte() {
    if (bytes_.empty())
      return 0;
    const auto value = static_cast<std::uint8_t>(bytes_[0]);
    bytes_.remove_prefix(1);
    return value;
  }
  std::string Take(std::size_t count) {
    const std::string_view part = bytes_.substr(0, count);
    bytes_.remove_prefix(part.size());
    return std::string(part);
  }

private:
  std::string_view bytes_;
};

vornel::TDateTime TimeFrom(std::uint8_t selector) {
  // 1941 to 2110, with odd seconds and milliseconds in the fraction.
  return 15000.0 + selector * 2000.0 + selector * 0.0370123;
}

std::string ArchiveBytes(TPellum& zip) {
  vornel::Stream& stream = *zip.GetArchiveStream();
  stream.SetPosition(0);
  return stream.ReadString(static_cast<std::size_t>(stream.Size()));
}

// Two stored entries with data descriptors of both lengths, then their directory.
std::string DescriptorArchive(std::map<std::string, std::string>& added) {
  const auto le = [](std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::string local;
  std::string central;
  for (const auto& [name, data, signed16] :
       {std::tuple{"streamed16", std::string("with a signed descriptor"), true},
        std::tuple{"streamed12", std::string("with a bare one"), false}}) {
    const std::uint32_t crc = vornel::oracle::Crc(data);
    const auto size = static_cast<std::uint32_t>(data.size());
    const auto nameLength = static_cast<std::uint32_t>(std::string(name).size());
    central += "PK\x01\x02";
    le(central, 20, 2), le(central, 20, 2), le(central, 8, 2), le(central, 0, 2);
    le(central, 0x21 << 16 | 0x4000, 4), le(central, crc, 4), le(central, size, 4);
    le(central, size, 4), le(central, nameLength, 2), le(central, 0, 4), le(central, 0, 4);
    le(central, 0x20, 4), le(central, static_cast<std::uint32_t>(local.size()), 4);
    central += name;
    local += "PK\x03\x04";
    le(local, 20, 2), le(local, 8, 2), le(local, 0, 2), le(local, 0x21 << 16 | 0x4000, 4);
    le(local, 0, 4), le(local, 0, 4), le(local, 0, 4), le(local, nameLength, 2), le(local, 0, 2);
    local += name + data;
    if (signed16)
      le(local, 0x08074b50, 4);
    le(local, crc, 4), le(local, size, 4), le(local, size, 4);
    added[name] = data;
  }
  std::string end = "PK\x05\x06";
  le(end, 0, 4), le(end, 2, 2), le(end, 2, 2),
      le(end, static_cast<std::uint32_t>(central.size()), 4);
  le(end, static_cast<std::uint32_t>(local.size()), 4), le(end, 0, 2);
  return local + central + end;
}

// The archive reopens with the same entries, and each unpacks to what was added under its name
// (folder entries made for a path are empty).
void CheckArchive(TPellum& zip, const std::map<std::string, std::string>& added) {
  Check(zip.GetIsZipFile());
  const std::string bytes = ArchiveBytes(zip);
  TPellum again;
  again.OpenFromStream(std::make_unique<vornel::MemoryStream>(bytes));
  Check(again.GetIsZipFile());
  Check(again.Entries().Count() == zip.Entries().Count());
  std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
  for (std::int32_t i = 0; i < again.Entries().Count(); ++i) {
    const vornel::TCentralDirectoryFile& central = again.Entries()[i].CentralHeader;
    Check(central.FileName == zip.Entries()[i].CentralHeader.FileName);
    Check(central.RelativeOffsetOfLocalHeader ==
          zip.Entries()[i].CentralHeader.RelativeOffsetOfLocalHeader);
    const auto entry = vornel::oracle::ReadEntry(
        bytes, central.RelativeOffsetOfLocalHeader, central.FileName, central.Crc32,
        central.CompressedSize, central.UncompressedSize, central.CompressionMethod, true);
    Check(entry.has_value());
    spans.emplace_back(central.RelativeOffsetOfLocalHeader, entry->End);
    const auto data = added.find(central.FileName);
    if (data != added.end())
      Check(entry->Data == data->second);
    else
      Check(entry->Data.empty() && central.FileName.back() == '/');
  }
  // Local records back to back from the start, the directory right behind the last.
  std::sort(spans.begin(), spans.end());
  std::uint64_t next = 0;
  for (const auto& [start, end] : spans) {
    Check(start == next);
    next = end;
  }
  Check(next == again.GetEndRecord().OffsetOfStartOfCentralDirectory);
}

// No temporary file outlives an add, whether it succeeded or not: none in the temporary-files
// folder (a stream's images), none beside the archive (a file's).
void CheckNoTempFiles() {
  Check(fs::is_empty(Scratch().Path() / "tmp"));
  for (const auto& item : fs::directory_iterator(Scratch().Path()))
    Check(item.path().extension() != ".tmp");
}

void Operate(TPellum& zip, Input& input, std::map<std::string, std::string>& added, int number) {
  const std::uint8_t kind = input.Byte();
  const std::string name = input.Take(input.Byte());
  const std::size_t length = input.Byte() | std::size_t{input.Byte()} << 8;
  std::string data = input.Take(length);
  if ((kind & 4) != 0 && !data.empty()) {
    while (data.size() < ExpandedSize)
      data += data;
  }
  vornel::TPellumEntries& entries = zip.Entries();
  const vornel::TPellumEntriesEntry* entry = nullptr;
  try {
    switch (kind & 3) {
    case 0: {
      vornel::MemoryStream source(data);
      entry = entries.AddEntry(name, 0x20, source, TimeFrom(kind >> 3));
      break;
    }
    case 1: {
      const fs::path path = Scratch().Path() / ("source" + std::to_string(number));
      vornel::fuzz::WriteBytes(path, data);
      entry = entries.AddFileAs(path.string(), name);
      Check(entry != nullptr);
      break;
    }
    case 2:
      if (entries.Count() > 0)
        entries.RemoveEntry((kind >> 3) % entries.Count());
      return;
    case 3: {
      vornel::MemoryStream source(data);
      const std::size_t skip = data.size() / 3;
      source.SetPosition(static_cast<std::int64_t>(skip));
      data.erase(0, skip);
      entry = entries.AddEntry(name, 0x20, source, TimeFrom(kind >> 3));
      break;
    }
    }
  } catch (const vornel::EPellumError&) {
    return; // refused: a name or a size the format cannot carry
  }
  Check(entry != nullptr && &entries[entries.Count() - 1] == entry);
  added[entry->CentralHeader.FileName] = data;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  Input input(std::string_view(reinterpret_cast<const char*>(bytes), size));
  const std::uint8_t options = input.Byte();
  Scratch().Empty();
  fs::create_directory(Scratch().Path() / "tmp");

  std::map<std::string, std::string> added;
  TPellum zip;
  zip.SetSaveMethod((options & 1) ? vornel::TZipSaveMethod::RebuildAll
                                  : vornel::TZipSaveMethod::FastSave);
  zip.SetUseTempFiles((options & 2) != 0);
  zip.SetStoreRelativePath((options & 4) != 0);
  zip.SetStoreFolders((options & 8) != 0);
  zip.SetCompressionType(static_cast<vornel::TZipCompressionType>(options >> 5));
  zip.OnCompressFile = [](TPellum& sender, std::int32_t current, std::int32_t total) {
    Check(total == sender.GetCurrentDataSize() && current >= 0 && current <= total);
  };

  if ((options & 16) != 0) {
    const std::string path = (Scratch().Path() / "archive.zip").string();
    zip.CreateArchiveFile(path);
    zip.OpenArchive(path);
  } else {
    zip.OpenFromStream(std::make_unique<vornel::MemoryStream>(DescriptorArchive(added)));
  }
  Check(zip.GetIsZipFile());

  for (int number = 0; number < MaxOperations && !input.Empty(); ++number) {
    Operate(zip, input, added, number);
    CheckNoTempFiles();
    CheckArchive(zip, added);
  }
  return 0;
}
