#pragma once

// The settings file: settings.ini in the working folder, section "main". Read-only. A build reads
// it once (SettingsFile) and uses that one reading throughout, so an edit during a build never
// mixes two configurations; the next build sees the change without a restart.

#include "platform/CodePage.h"

#include "zip/Compressor.h"

#include <optional>
#include <stdexcept>
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

// A settings file that cannot be used: a folder, unreadable, binary data, or a value that means
// nothing (the message names the file, the line, the key and the value).
class ESettingsError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One reading of the settings file. A missing file gives every default.
class SettingsFile {
public:
  // Raises ESettingsError when the file is there but cannot be used.
  static SettingsFile Load(const std::string& path);

  // The key of section "main", or defaultValue.
  std::string String(const std::string& key, const std::string& defaultValue = "") const;
  // A yes-or-no key: 1/0, yes/no, true/false in any letter case; defaultValue when absent.
  // Raises ESettingsError naming the key, the value and the line otherwise.
  bool Flag(const std::string& key, bool defaultValue = false) const;
  // What the operator should hear about: keys in "main" that mean nothing here (naming the
  // closest known key), and known keys outside "main", which are not read.
  std::vector<std::string> Warnings() const;

  const std::string& Path() const { return path_; }

private:
  std::string path_;
  std::string text_;
};

// The keys section "main" knows.
const std::vector<std::string>& KnownSettingsKeys();
// Key "Exclude": patterns of files and folders left out of the update set, separated by ";"
// (app/Exclusions.h); nothing by default.
std::vector<std::string> ReadExcludePatterns(const SettingsFile& settings);
// Key "Server" (default "127.0.0.1") and key "ModHost" (default "0").
std::string ReadServer(const SettingsFile& settings);
std::string ReadModHost(const SettingsFile& settings);
// Key "FollowLinks": yes publishes what links leading out of the clean folder name.
bool ReadFollowLinks(const SettingsFile& settings);
// Keys "Reuse" and "Prune": what --reuse and --prune do, for the windows, which have no options.
bool ReadReuse(const SettingsFile& settings);
bool ReadPrune(const SettingsFile& settings);

// The code page of the names the client reads: `given` (the command line's) when not empty, else
// key "CodePage" of the settings, else the platform's own. Raises std::invalid_argument, with a
// message saying what is accepted, when the text is no code page.
CodePage ClientCodePage(const std::string& given, const SettingsFile& settings);

// The compressor for a build: keys "Compressor" (zlib, libdeflate or zopfli; default zlib) and
// "Level" (default: the compressor's own, zlib 9), unless the caller names them. A level given
// by the caller goes with the compressor of the file when the caller names none; a compressor
// named by the caller ignores the file's level. Raises ECompressorChoice, naming the settings
// file when the fault is there.
CompressorChoice ReadCompressor(const SettingsFile& settings,
                                const std::optional<std::string>& name = std::nullopt,
                                const std::optional<std::string>& level = std::nullopt);

// The same, each from one reading of the file at settingsPath (ESettingsError when it cannot be
// used), for callers outside a build.
std::vector<std::string> ReadExcludePatterns(const std::string& settingsPath);
std::string ReadServer(const std::string& settingsPath);
std::string ReadModHost(const std::string& settingsPath);
// Key "CodePage": the client's code page ("1252", "utf-8"); empty when not set.
std::string ReadCodePage(const std::string& settingsPath);
bool ReadFollowLinks(const std::string& settingsPath);
CodePage ClientCodePage(const std::string& given, const std::string& settingsPath);
CompressorChoice ReadCompressor(const std::string& settingsPath,
                                const std::optional<std::string>& name = std::nullopt,
                                const std::optional<std::string>& level = std::nullopt);

} // namespace vornel
