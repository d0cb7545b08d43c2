// Fuzz target: verifying an Upload folder whose manifest and archives come from the input.
//
// Input framing: the bytes up to the first "\n@@ " are updates.lst. Each later part starts with
// "\n@@ ", then a path below the upload folder up to the next "\n", then the file's bytes up to
// the next marker. A path ending in "/" makes a folder instead of a file (an archive that is a
// folder). Paths are confined to the scratch folder here, before anything is written.
//
// Verifying never crashes or hangs, whatever the files hold. When it finds no problem, every
// listed archive must really be what the client needs: read without the component, it holds
// one entry of the listed file's name whose data unpack to the listed CRC-32, and the archive's
// size is the listed one.

#include "app/ManifestReader.h"
#include "app/Verify.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/ZipOracle.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view Marker = "\n@@ ";
constexpr int MaxParts = 16;

const vornel::fuzz::ScratchFolder& Scratch() {
  static const vornel::fuzz::ScratchFolder folder("verify");
  return folder;
}

// A relative path of plain components, or empty when the input's path could leave the folder
// or is of no use.
std::string ConfinedPath(std::string_view given) {
  std::string path;
  std::size_t start = 0;
  int depth = 0;
  while (start < given.size()) {
    std::size_t end = given.find('/', start);
    if (end == std::string_view::npos)
      end = given.size();
    const std::string_view part = given.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.size() > 64 || ++depth > 4)
      return {};
    for (const char c : part) {
      if (static_cast<unsigned char>(c) < 0x20 || c == '\\')
        return {};
    }
    path += std::string(part);
    if (end < given.size())
      path += '/';
    start = end + 1;
  }
  return path;
}

// Writes one part below the upload folder; parts that cannot be placed are skipped.
void Place(const fs::path& upload, std::string_view part) {
  const std::size_t newline = part.find('\n');
  const std::string_view name = part.substr(0, newline);
  const std::string_view bytes =
      newline == std::string_view::npos ? std::string_view() : part.substr(newline + 1);
  const bool folder = !name.empty() && name.back() == '/';
  const std::string relative = ConfinedPath(folder ? name.substr(0, name.size() - 1) : name);
  if (relative.empty())
    return;
  const fs::path target = upload / relative;
  std::error_code error;
  fs::create_directories(folder ? target : target.parent_path(), error);
  if (error || folder || fs::is_directory(target, error))
    return;
  vornel::fuzz::WriteBytes(target, std::string(bytes));
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string BareName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a clean verification promises, checked without the component.
void CheckAllGood(const fs::path& upload, const vornel::VerifyResult& result) {
  if (result.ArchivesWithProblems != 0 || result.ManifestProblems != 0)
    std::abort();
  const vornel::ParsedManifest parsed = vornel::ParseManifest(ReadAll(upload / "updates.lst"));
  if (!parsed.Problems.empty() ||
      static_cast<std::int32_t>(parsed.Archives.size()) != result.ArchivesListed)
    std::abort();
  for (const vornel::ListedArchive& listed : parsed.Archives) {
    const std::string bytes = ReadAll(upload / (listed.RelativePath + ".zip"));
    const auto entry = vornel::oracle::ReadSingleEntryArchive(bytes);
    if (!entry || entry->Name != BareName(listed.RelativePath) || entry->Crc != listed.Crc ||
        static_cast<std::int64_t>(bytes.size()) != listed.Size)
      std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Scratch().Empty();
  const fs::path upload = Scratch().Path() / "Upload";
  fs::create_directory(upload);

  std::size_t end = input.find(Marker);
  vornel::fuzz::WriteBytes(upload / "updates.lst", std::string(input.substr(0, end)));
  for (int parts = 0; end != std::string_view::npos && parts < MaxParts; ++parts) {
    const std::size_t start = end + Marker.size();
    end = input.find(Marker, start);
    Place(upload, input.substr(start, end == std::string_view::npos ? end : end - start));
  }

  vornel::VerifyResult result;
  try {
    result = vornel::VerifyUploadSet(upload.string());
  } catch (const std::exception&) {
    // Reading the upload folder itself failed; that is reported, not a finding.
    return 0;
  }
  (void)result.Summary();
  if (result.AllGood())
    CheckAllGood(upload, result);
  return 0;
}
