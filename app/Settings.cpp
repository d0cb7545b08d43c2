#include "app/Settings.h"

#include "app/BuildProcedure.h"
#include "app/ClosestWord.h"
#include "app/Exclusions.h"
#include "platform/FileSystem.h"
#include "platform/Ini.h"
#include "platform/TextCompare.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace vornel {

std::string SettingsPathIn(const std::string& workDir) {
  return JoinPath(workDir, SettingsFileName);
}

namespace {

std::string ClosestKnownKey(const std::string& key) {
  return ClosestWord(key, KnownSettingsKeys());
}

} // namespace

const std::vector<std::string>& KnownSettingsKeys() {
  static const std::vector<std::string> keys = {"CustomName", "Server", "ModHost", "CodePage",
                                                "Compressor", "Level",  "Exclude", "FollowLinks",
                                                "Reuse",      "Prune"};
  return keys;
}

SettingsFile SettingsFile::Load(const std::string& path) {
  SettingsFile file;
  file.path_ = path;
  IniText read = ReadIniText(path);
  if (read.Kind == IniText::State::Unusable)
    throw ESettingsError("The settings file \"" + path + "\" cannot be used: " + read.Why +
                         "; fix or remove it");
  file.text_ = std::move(read.Text);
  return file;
}

std::string SettingsFile::String(const std::string& key, const std::string& defaultValue) const {
  return FindIniValue(text_, SettingsSection, key).value_or(defaultValue);
}

bool SettingsFile::Flag(const std::string& key, bool defaultValue) const {
  const auto value = FindIniValue(text_, SettingsSection, key);
  if (!value)
    return defaultValue;
  for (const char* yes : {"1", "yes", "true"})
    if (SameAsciiText(*value, yes))
      return true;
  for (const char* no : {"0", "no", "false"})
    if (SameAsciiText(*value, no))
      return false;
  int line = 0;
  for (const IniEntry& entry : ListIniEntries(text_))
    if (line == 0 && SameAsciiText(entry.Section, SettingsSection) && SameAsciiText(entry.Key, key))
      line = entry.Line;
  throw ESettingsError(std::string(SettingsFileName) + " line " + std::to_string(line) + ": " +
                       key + "=" + *value + " is neither yes nor no (1/0, yes/no, true/false)");
}

std::vector<std::string> SettingsFile::Warnings() const {
  std::vector<std::string> warnings;
  std::vector<std::string> named;
  const auto once = [&named](const std::string& key) {
    for (const std::string& seen : named)
      if (SameAsciiText(seen, key))
        return false;
    named.push_back(key);
    return true;
  };
  const auto known = [](const std::string& key) {
    for (const std::string& name : KnownSettingsKeys())
      if (SameAsciiText(name, key))
        return true;
    return false;
  };
  for (const IniEntry& entry : ListIniEntries(text_)) {
    const std::string where = std::string(SettingsFileName) + " line " + std::to_string(entry.Line);
    if (SameAsciiText(entry.Section, SettingsSection)) {
      if (!known(entry.Key) && once(entry.Key))
        warnings.push_back(where + ": \"" + entry.Key + "\" is no setting and is ignored; did " +
                           "you mean \"" + ClosestKnownKey(entry.Key) + "\"?");
    } else if (known(entry.Key)) {
      warnings.push_back(
          where + ": \"" + entry.Key + "\" lies " +
          (entry.Section.empty() ? "before any section" : "in section [" + entry.Section + "]") +
          " and is ignored; settings are read from section [main]");
    }
  }
  return warnings;
}

std::vector<std::string> ReadExcludePatterns(const SettingsFile& settings) {
  return Exclusions::SplitSetting(settings.String("Exclude"));
}

std::vector<std::string> ReadExcludePatterns(const std::string& settingsPath) {
  return ReadExcludePatterns(SettingsFile::Load(settingsPath));
}

std::string Packer::ReadCustomName(const std::string& settingsPath) {
  try {
    return SettingsFile::Load(settingsPath).String("CustomName", DefaultCustomName);
  } catch (const ESettingsError&) {
    return DefaultCustomName; // the build names the fault when it reads the file
  }
}

std::string ReadServer(const SettingsFile& settings) {
  return settings.String("Server", DefaultServer);
}

std::string ReadServer(const std::string& settingsPath) {
  return ReadServer(SettingsFile::Load(settingsPath));
}

CompressorChoice ReadCompressor(const SettingsFile& settings,
                                const std::optional<std::string>& name,
                                const std::optional<std::string>& level) {
  // The file's level belongs to the file's compressor only.
  const bool levelFromFile = !level && !name;
  const std::string compressor = name ? *name : settings.String("Compressor");
  const std::string levelText = levelFromFile ? settings.String("Level") : level.value_or("");
  const auto parse = [&](const std::string& levelPart, bool fromFile) {
    try {
      return ParseCompressorChoice(compressor.empty() ? "zlib" : compressor, levelPart);
    } catch (const ECompressorChoice& error) {
      if (!fromFile)
        throw;
      throw ECompressorChoice(std::string(error.what()) + " (" + SettingsFileName +
                              ", section \"main\")");
    }
  };
  parse("", !name);
  return parse(levelText, levelFromFile);
}

CompressorChoice ReadCompressor(const std::string& settingsPath,
                                const std::optional<std::string>& name,
                                const std::optional<std::string>& level) {
  return ReadCompressor(SettingsFile::Load(settingsPath), name, level);
}

std::string ReadModHost(const SettingsFile& settings) {
  return settings.String("ModHost", DefaultModHost);
}

std::string ReadModHost(const std::string& settingsPath) {
  return ReadModHost(SettingsFile::Load(settingsPath));
}

std::string ReadCodePage(const std::string& settingsPath) {
  return SettingsFile::Load(settingsPath).String("CodePage");
}

CodePage ClientCodePage(const std::string& given, const SettingsFile& settings) {
  const std::string text = given.empty() ? settings.String("CodePage") : given;
  if (text.empty())
    return PlatformCodePage();
  if (const auto page = ParseCodePage(text))
    return *page;
  throw std::invalid_argument("Unknown code page \"" + text +
                              "\": give a Windows code page number such as 1252, or utf-8");
}

CodePage ClientCodePage(const std::string& given, const std::string& settingsPath) {
  if (!given.empty())
    return ClientCodePage(given, SettingsFile());
  return ClientCodePage(given, SettingsFile::Load(settingsPath));
}

bool ReadFollowLinks(const SettingsFile& settings) {
  return settings.Flag("FollowLinks");
}

bool ReadReuse(const SettingsFile& settings) {
  return settings.Flag("Reuse");
}

bool ReadPrune(const SettingsFile& settings) {
  return settings.Flag("Prune");
}

bool ReadFollowLinks(const std::string& settingsPath) {
  return ReadFollowLinks(SettingsFile::Load(settingsPath));
}

} // namespace vornel
