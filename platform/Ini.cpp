#include "platform/Ini.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/RawFile.h"
#include "platform/TextCompare.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>

namespace vornel {

namespace {

// Settings files are a few lines long; anything beyond this is not read.
constexpr std::size_t MaxIniBytes = 16 * 1024 * 1024;

// Reads at most limit + 1 bytes, so that the caller can tell a file larger than limit.
std::string ReadUpTo(const std::string& path, std::size_t limit) {
  RawFile file(path, RawFile::Mode::Read);
  std::string content;
  char block[8192];
  while (content.size() <= limit) {
    const std::size_t got = file.Read(block, sizeof block);
    if (got == 0)
      break;
    content.append(block, got);
  }
  return content;
}

// A file that cannot be read, or is no regular file, counts as missing.
std::optional<std::string> ReadSmallFile(const std::string& path) {
  try {
    std::string content = ReadUpTo(path, MaxIniBytes);
    content.resize(std::min(content.size(), MaxIniBytes));
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

// A section header (Name only) or a key line, with its number in the file.
struct IniLine {
  bool IsSection = false;
  std::string_view Name;
  std::string_view Value;
  int Number = 0;
};

// Calls visit for every section header and key line in order, until it returns false. Blank
// lines, comments and lines without "=" are passed over.
template <typename Visit> void WalkIni(std::string_view text, Visit visit) {
  if (text.starts_with("\xEF\xBB\xBF"))
    text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t lineEnd = text.find('\n');
    std::string_view line = text.substr(0, lineEnd);
    text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';')
      continue;
    IniLine parsed;
    parsed.Number = number;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      parsed.IsSection = true;
      parsed.Name = TrimBlanks(line.substr(1, close == line.npos ? line.npos : close - 1));
    } else {
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos)
        continue;
      parsed.Name = TrimBlanks(line.substr(0, equals));
      parsed.Value = StripQuotes(TrimBlanks(line.substr(equals + 1)));
    }
    if (!visit(parsed))
      return;
  }
}

// Finds the key in the first section of that name; nothing when absent.
std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
  const std::string_view wantedSection = TrimBlanks(section);
  const std::string_view wantedKey = TrimBlanks(key);
  std::optional<std::string_view> found;
  bool inSection = false;
  WalkIni(content, [&](const IniLine& line) {
    if (line.IsSection) {
      if (inSection)
        return false; // only the first section of that name counts
      inSection = SameAsciiText(line.Name, wantedSection);
      return true;
    }
    if (inSection && SameAsciiText(line.Name, wantedKey)) {
      found = line.Value;
      return false;
    }
    return true;
  });
  return found;
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

IniText ReadIniText(const std::string& path) {
  IniText result;
  if (DirectoryExists(path)) {
    result.Kind = IniText::State::Unusable;
    result.Why = "it is a folder";
    return result;
  }
  if (!FileExists(path))
    return result;
  std::string content;
  try {
    content = ReadUpTo(path, MaxIniBytes);
  } catch (const EIoError& error) {
    result.Kind = IniText::State::Unusable;
    result.Why = error.what();
    return result;
  }
  result.Kind = IniText::State::Unusable;
  if (content.size() > MaxIniBytes) {
    result.Why = "it is larger than a settings file can be";
    return result;
  }
  const std::string_view text(content);
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    const auto utf8 = Utf16ToUtf8(text.substr(2), text[0] == '\xFE');
    if (!utf8) {
      result.Why = "it is marked as UTF-16 but is no valid UTF-16 text";
      return result;
    }
    content = *utf8;
  } else if (text.starts_with("\xEF\xBB\xBF")) {
    content.erase(0, 3);
  }
  for (const char c : content) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') {
      result.Why = "it holds binary data, not text";
      return result;
    }
  }
  result.Kind = IniText::State::Text;
  result.Text = std::move(content);
  return result;
}

std::optional<std::string> FindIniValue(std::string_view text, const std::string& section,
                                        const std::string& key) {
  if (const auto value = FindValue(text, section, key))
    return std::string(*value);
  return std::nullopt;
}

std::vector<IniEntry> ListIniEntries(std::string_view text) {
  std::vector<IniEntry> entries;
  std::string section;
  WalkIni(text, [&](const IniLine& line) {
    if (line.IsSection)
      section = line.Name;
    else
      entries.push_back({section, std::string(line.Name), std::string(line.Value), line.Number});
    return true;
  });
  return entries;
}

} // namespace vornel
