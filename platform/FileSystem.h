#pragma once

#include <string>

namespace vornel {

std::string CurrentDirectory();
// Single level; false when it could not be made (an existing folder is false too, like the
// platform call it stands in for).
bool CreateDir(const std::string& path);
// With every missing parent; true when the folder exists afterwards.
bool ForceDirectories(const std::string& path);
bool DeleteFileAt(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// The temporary-files folder: $TMPDIR when set, else /tmp; ends without a separator.
std::string TempDirectory();
// Creates a unique empty file in dir whose name starts with prefix and returns its path;
// empty when none could be created.
std::string CreateUniqueTempFile(const std::string& dir, const std::string& prefix);

// Joins two path pieces with exactly one "/" between them.
std::string JoinPath(const std::string& a, const std::string& b);
// The part after the last "/".
std::string BareName(const std::string& path);

} // namespace vornel
