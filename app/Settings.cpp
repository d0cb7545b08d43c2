#include "app/Settings.h"

#include "app/BuildProcedure.h"
#include "app/Exclusions.h"
#include "platform/FileSystem.h"
#include "platform/Ini.h"

#include <stdexcept>

namespace vornel {

std::string SettingsPathIn(const std::string& workDir) {
  return JoinPath(workDir, SettingsFileName);
}

std::vector<std::string> ReadExcludePatterns(const std::string& settingsPath) {
  return Exclusions::SplitSetting(IniFile(settingsPath).ReadString(SettingsSection, "Exclude", ""));
}

std::string Packer::ReadCustomName(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "CustomName", DefaultCustomName);
}

std::string ReadServer(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "Server", DefaultServer);
}

CompressorChoice ReadCompressor(const std::string& settingsPath,
                                const std::optional<std::string>& name,
                                const std::optional<std::string>& level) {
  const IniFile ini(settingsPath);
  // The file's level belongs to the file's compressor only.
  const bool levelFromFile = !level && !name;
  const std::string compressor = name ? *name : ini.ReadString(SettingsSection, "Compressor", "");
  const std::string levelText =
      levelFromFile ? ini.ReadString(SettingsSection, "Level", "") : level.value_or("");
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

std::string ReadModHost(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "ModHost", DefaultModHost);
}

} // namespace vornel

namespace vornel {

std::string ReadCodePage(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "CodePage", "");
}

CodePage ClientCodePage(const std::string& given, const std::string& settingsPath) {
  const std::string text = given.empty() ? ReadCodePage(settingsPath) : given;
  if (text.empty())
    return PlatformCodePage();
  if (const auto page = ParseCodePage(text))
    return *page;
  throw std::invalid_argument("Unknown code page \"" + text +
                              "\": give a Windows code page number such as 1252, or utf-8");
}

bool ReadFollowLinks(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "FollowLinks", "0") == "1";
}

} // namespace vornel
