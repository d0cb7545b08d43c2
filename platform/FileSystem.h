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
// Renames from over to, replacing a file (or a link, not what it points to) of that name.
// Raises the input/output error naming to when it fails.
void RenameFile(const std::string& from, const std::string& to);
// Removes a folder only when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);
// Makes path the current folder; false when it cannot be entered.
bool ChangeDirectory(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// The temporary-files folder: $TMPDIR when set, else /tmp; ends without a separator.
std::string TempDirectory();

// Joins two path pieces with exactly one "/" between them.
std::string JoinPath(const std::string& a, const std::string& b);
// The part after the last "/".
std::string BareName(const std::string& path);

} // namespace vornel
