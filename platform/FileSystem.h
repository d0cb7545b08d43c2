#pragma once

#include <string>

namespace vornel {

// Paths inside the program are 8-bit strings in UTF-8 with "/" between components; Windows also
// takes "\" on input, and its paths begin with a drive ("C:/") or a share ("//server/share/").

// The current folder, absolute.
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
// Waits until path could be replaced by a rename: on Windows, a program that holds the file open
// without delete sharing keeps it from being replaced. Tries for up to two seconds, like
// RenameFile, then raises the input/output error naming path. A missing file is replaceable.
void WaitUntilReplaceable(const std::string& path);
// Removes a folder only when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);
// Makes path the current folder; false when it cannot be entered.
bool ChangeDirectory(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// True when the folder's entries can be listed and opened (a folder that cannot be would look
// empty to a walk and its files would go unlisted).
bool CanListFolder(const std::string& path);
// A cheap check made before a build writes anything: whether this process may open the file
// for reading.
bool MayReadFile(const std::string& path);

// The absolute path with links resolved and "." and ".." gone; empty when the path does not
// exist.
std::string ResolvedPath(const std::string& path);

// The temporary-files folder ($TMPDIR or /tmp on POSIX, the system's on Windows); ends without a
// separator.
std::string TempDirectory();

// "/" everywhere; "\" too on Windows.
bool IsPathSeparator(char c);
// The length of the leading root ("/" on POSIX; "C:/", "//server/share/" or "/" on Windows);
// 0 for a relative path.
std::size_t PathRootLength(const std::string& path);
// True when both paths name one existing file (the same device and file number; on Windows the
// same volume and file index), whatever names, links or letter case lead there.
bool SameFile(const std::string& a, const std::string& b);
// Paths compared as the file system compares names: byte for byte on POSIX, without regard to
// letter case on Windows.
bool SamePath(const std::string& a, const std::string& b);

// Joins two path pieces with exactly one "/" between them.
std::string JoinPath(const std::string& a, const std::string& b);
// The part after the last separator.
std::string BareName(const std::string& path);
// The folder that holds path, without a trailing separator; "." for a bare name.
std::string ParentFolder(const std::string& path);

} // namespace vornel
