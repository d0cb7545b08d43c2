#pragma once

// What publishing a whole folder at once needs from the file system: exchanging two folders in
// one step, hard links that cost no space, removing a tree without following its links, and a
// lock that keeps two builds of one folder apart.

#include <cstdint>
#include <memory>
#include <string>

namespace vornel {

// Swaps the two folders' names in one step, so that every reader sees either the one or the
// other under each name. False when the system or the file system cannot do it (no such call,
// two file systems, a mount point); other failures raise the input/output error naming a.
bool ExchangeFolders(const std::string& a, const std::string& b);

// False where the system has no call that swaps two folders at all, so that publishing goes by
// renames without preparing for an exchange first.
bool SystemCanExchangeFolders();

enum class LinkResult { Linked, Exists, Refused };

// Makes linkPath a second name of the file at existing; a symbolic link is linked itself, never
// what it names. Refused where the file system or system does not allow hard links; other
// failures raise the input/output error naming linkPath.
LinkResult LinkEntry(const std::string& existing, const std::string& linkPath);

// Removes path and everything below it; symbolic links are removed, never followed. Nothing when
// path does not exist; raises the input/output error naming what could not be removed.
void RemoveTree(const std::string& path);

// Makes one folder; an existing folder is fine. Raises the input/output error naming path, with
// the system's reason, when it cannot be made.
void MakeFolder(const std::string& path);

// Makes path with every missing parent, one level at a time. When a level cannot be made, the
// levels this call made are removed again (no trail of empty folders) and the input/output error
// names that level with the system's reason.
void MakeFolders(const std::string& path);

// True when path is a folder on another file system than its parent's (a mount point).
bool IsMountPoint(const std::string& path);

// Gives folder "to" the permissions (and, where this process may, the owner) of folder "from".
void CopyFolderPermissions(const std::string& from, const std::string& to);

// Writes what the system still holds of the file system that folder lies on to the disk, so that
// a rename that follows never names data a power cut would lose.
void FlushFileSystemOf(const std::string& folder);

// Held while a build writes beside and into one upload folder. Released when destroyed (also when
// the process ends in any way).
class FolderLock {
public:
  virtual ~FolderLock() = default;
};

// The lock of the folder that holds the upload folder; nothing when another process holds it.
// name is the upload folder's bare name.
std::unique_ptr<FolderLock> TryLockUploadFolder(const std::string& parent, const std::string& name);

} // namespace vornel
