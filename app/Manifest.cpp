#include "app/Manifest.h"

#include "platform/Errors.h"
#include "platform/RawFile.h"

namespace vornel {

std::string FormatSelfLine(const std::string& name, std::uint32_t crc, std::int32_t size) {
  return "IAM=" + name + "|" + std::to_string(crc) + "|" + std::to_string(size);
}

std::string FormatFileLine(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                           std::int32_t size) {
  // Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) about "F" + std::to_string().
  std::string line = "F";
  line += std::to_string(number);
  line += "=" + manifestPath + "|" + std::to_string(crc) + "|" + std::to_string(size) + "|n";
  return line;
}

void ManifestWriter::Start() {
  RawFile file(path_, RawFile::Mode::Rewrite);
  const std::string text = std::string("[self]") + ManifestLineEnd;
  try {
    file.Write(text.data(), text.size());
  } catch (...) {
    file.TruncateTo(0);
    throw;
  }
  file.Close();
}

void ManifestWriter::AppendSelf(const std::string& name, std::uint32_t crc, std::int32_t size) {
  Append(FormatSelfLine(name, crc, size) + ManifestLineEnd);
}

void ManifestWriter::AppendMisc(const std::string& server, const std::string& modHost,
                                std::int32_t fcount) {
  std::string text;
  for (const std::string& line :
       {std::string("[misc]"), "Server=" + server, "ModifyHost=" + modHost, std::string("[files]"),
        "fcount=" + std::to_string(fcount)}) {
    text += line;
    text += ManifestLineEnd;
  }
  Append(text);
}

void ManifestWriter::AppendFile(std::int32_t number, const std::string& manifestPath,
                                std::uint32_t crc, std::int32_t size) {
  Append(FormatFileLine(number, manifestPath, crc, size) + ManifestLineEnd);
}

void ManifestWriter::Append(const std::string& text) {
  // Opened without creating: a manifest that vanished mid-build is an error, not a fresh file.
  RawFile file(path_, RawFile::Mode::Append);
  const std::int64_t before = file.Size();
  try {
    file.Write(text.data(), text.size());
  } catch (...) {
    file.TruncateTo(before);
    throw;
  }
  file.Close();
}

} // namespace vornel
