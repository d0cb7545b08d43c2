#include "app/Settings.h"

#include "app/BuildProcedure.h"
#include "app/Exclusions.h"
#include "platform/FileSystem.h"
#include "platform/Ini.h"

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

std::string ReadModHost(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "ModHost", DefaultModHost);
}

} // namespace vornel

namespace vornel {

std::string ReadCodePage(const std::string& settingsPath) {
  return IniFile(settingsPath).ReadString(SettingsSection, "CodePage", "");
}

} // namespace vornel
