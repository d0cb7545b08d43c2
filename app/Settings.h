#pragma once

// The settings file: settings.ini in the working folder, section "main". Read-only; every value
// is one lookup, so a change shows at the next read without a restart.

#include "platform/CodePage.h"

#include "zip/Compressor.h"

#include <optional>
#include <string>
#include <vector>

namespace vornel {

inline constexpr const char* SettingsFileName = "settings.ini";
inline constexpr const char* SettingsSection = "main";
inline constexpr const char* DefaultCustomName = "Teskor.exe";
inline constexpr const char* DefaultServer = "127.0.0.1";
inline constexpr const char* DefaultModHost = "0";

// workDir + "/settings.ini", formed anew at each use.
std::string SettingsPathIn(const std::string& workDir);
// Key "Exclude": patterns of files and folders left out of the update set, separated by ";"
// (app/Exclusions.h); nothing by default.
std::vector<std::string> ReadExcludePatterns(const std::string& settingsPath);

// Key "Server" (default "127.0.0.1") and key "ModHost" (default "0"), read at every build.
std::string ReadServer(const std::string& settingsPath);
std::string ReadModHost(const std::string& settingsPath);
// Key "CodePage": the client's code page ("1252", "utf-8"); empty when not set.
std::string ReadCodePage(const std::string& settingsPath);
// Key "FollowLinks": "1" publishes what links leading out of the clean folder name.
bool ReadFollowLinks(const std::string& settingsPath);

// The code page of the names the client reads: `given` (the command line's) when not empty, else
// key "CodePage" of the settings, else the platform's own. Raises std::invalid_argument, with a
// message saying what is accepted, when the text is no code page.
CodePage ClientCodePage(const std::string& given, const std::string& settingsPath);

// The compressor for a build: keys "Compressor" (zlib, libdeflate or zopfli; default zlib) and
// "Level" (default: the compressor's own, zlib 9), unless the caller names them. A level given
// by the caller goes with the compressor of the file when the caller names none; a compressor
// named by the caller ignores the file's level. Raises ECompressorChoice, naming the settings
// file when the fault is there.
CompressorChoice ReadCompressor(const std::string& settingsPath,
                                const std::optional<std::string>& name = std::nullopt,
                                const std::optional<std::string>& level = std::nullopt);

} // namespace vornel
