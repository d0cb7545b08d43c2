#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel {

// The private-profile string lookup: opens the ini file, finds key in section (both compared
// without regard to ASCII letter case), and returns its value with surrounding blanks removed and
// one pair of enclosing quotes stripped, cut to bufferSize - 1 characters. A missing file,
// section or key yields defaultValue (cut the same way).
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& iniPath,
                                    std::size_t bufferSize = 2048);

// A settings file read whole, once, as the profile functions read it: a UTF-16 file with a
// byte-order mark is text like any other (turned into UTF-8 here), a UTF-8 mark is skipped.
struct IniText {
  enum class State { Missing, Text, Unusable };
  State Kind = State::Missing;
  std::string Text; // the content, when Kind is Text
  std::string Why;  // what is wrong, when Unusable ("it is a folder", "it holds binary data")
};
IniText ReadIniText(const std::string& path);

// The value of key in section of text, as GetPrivateProfileString finds it; nothing when absent.
std::optional<std::string> FindIniValue(std::string_view text, const std::string& section,
                                        const std::string& key);

// Every "key=value" line of text, with its section ("" before the first) and line number.
struct IniEntry {
  std::string Section;
  std::string Key;
  std::string Value;
  int Line = 0;
};
std::vector<IniEntry> ListIniEntries(std::string_view text);

// The settings reader: holds only the path; every read is one lookup.
class IniFile {
public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const {
    return GetPrivateProfileString(section, key, defaultValue, path_);
  }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

} // namespace vornel
