#include "platform/Ini.h"

#include "platform/RawFile.h"
#include "platform/TextCompare.h"

#include <exception>
#include <optional>
#include <string_view>

namespace vornel {

namespace {

// Settings files are a few lines long; anything beyond this is not read.
constexpr std::size_t MaxIniBytes = 16 * 1024 * 1024;

// A file that cannot be read, or is no regular file, counts as missing.
std::optional<std::string> ReadSmallFile(const std::string& path) {
  try {
    RawFile file(path, RawFile::Mode::Read);
    std::string content;
    char block[8192];
    while (content.size() < MaxIniBytes) {
      const std::size_t got = file.Read(block, sizeof block);
      if (got == 0)
        break;
      content.append(block, got);
    }
    return content;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// The caller's buffer holds a C string: the text ends at a zero byte and keeps bufferSize - 1
// characters at most.
std::string CutToBuffer(std::string_view text, std::size_t bufferSize) {
  if (bufferSize == 0)
    return {};
  text = text.substr(0, text.find('\0'));
  return std::string(text.substr(0, bufferSize - 1));
}

// Finds the key in the first section of that name; nothing when absent.
std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF")
    content.remove_prefix(3);
  const std::string_view wantedSection = TrimBlanks(section);
  const std::string_view wantedKey = TrimBlanks(key);
  bool inSection = false;
  bool sectionSeen = false;
  while (!content.empty()) {
    const std::size_t lineEnd = content.find('\n');
    std::string_view line = content.substr(0, lineEnd);
    content.remove_prefix(lineEnd == std::string_view::npos ? content.size() : lineEnd + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';')
      continue;
    if (line.front() == '[') {
      if (sectionSeen)
        return std::nullopt; // only the first section of that name counts
      const std::size_t close = line.find(']');
      const std::string_view name =
          TrimBlanks(line.substr(1, close == line.npos ? line.npos : close - 1));
      inSection = SameAsciiText(name, wantedSection);
      sectionSeen = inSection;
      continue;
    }
    if (!inSection)
      continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      continue;
    if (SameAsciiText(TrimBlanks(line.substr(0, equals)), wantedKey))
      return StripQuotes(TrimBlanks(line.substr(equals + 1)));
  }
  return std::nullopt;
}

} // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& iniPath,
                                    std::size_t bufferSize) {
  const std::optional<std::string> content = ReadSmallFile(iniPath);
  if (content) {
    if (const auto value = FindValue(*content, section, key))
      return CutToBuffer(*value, bufferSize);
  }
  return CutToBuffer(defaultValue, bufferSize);
}

} // namespace vornel
