#pragma once

#include <cstddef>
#include <string>

namespace vornel {

// The private-profile string lookup: opens the ini file, finds key in section (both compared
// without regard to ASCII letter case), and returns its value with surrounding blanks removed and
// one pair of enclosing quotes stripped, cut to bufferSize - 1 characters. A missing file,
// section or key yields defaultValue (cut the same way).
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& iniPath,
                                    std::size_t bufferSize = 2048);

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
