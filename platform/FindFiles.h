#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornel {

// File attribute bits as a Windows client sees them.
namespace attr {
inline constexpr std::uint32_t ReadOnly = 0x01;
inline constexpr std::uint32_t Hidden = 0x02;
inline constexpr std::uint32_t System = 0x04;
inline constexpr std::uint32_t VolumeLabel = 0x08;
inline constexpr std::uint32_t Directory = 0x10;
inline constexpr std::uint32_t Archive = 0x20;
inline constexpr std::uint32_t AnyFile = 0x3F; // the mask every lookup here uses
} // namespace attr

// What an entry is beyond its attributes: a walk refuses what it cannot pack.
enum class EntryKind {
  File,
  Folder,
  DanglingLink, // a symbolic link whose target does not exist
  LinkLoop,     // a symbolic link that leads back to itself
  Other         // a pipe, socket or device
};

// One directory entry found by a lookup.
struct FoundFile {
  std::string Name;             // bare name
  std::uint32_t Attributes = 0; // attr:: bits
  std::uint64_t Size = 0;
  double LastWriteTime = 0;  // local date-time (days since 30 December 1899)
  std::uint32_t DosTime = 0; // packed DOS date (high half) and time (low half), 0 if out of range
  EntryKind Kind = EntryKind::File; // a symbolic link reports its target's kind
  bool Link = false;                // the entry is a symbolic link (its target described)
};

// Whether a listing holds symbolic links to folders. Left out, no walk can loop or leave the
// folder; a walk that listed them must decide about each one itself.
enum class LinkedFolders { Leave, List };

// Looks a single path up (the find-first of a plain path): the entry itself, with a symbolic link
// to a file reported as that file. Nothing when the path does not exist.
std::optional<FoundFile> FindFile(const std::string& path);

// Lists a directory (the find-first/find-next of "dir/*.*"): every entry except "." and "..",
// in a deterministic order (names compared byte by byte with ASCII a-z folded to upper case,
// ties broken by the raw bytes). Symbolic links to directories are left out unless asked for.
// A directory that cannot be listed yields nothing; an entry that cannot be examined, or a
// read error part way through, raises EInOutError rather than leaving files out unnoticed.
std::vector<FoundFile> ListDirectory(const std::string& dir,
                                     LinkedFolders linkedFolders = LinkedFolders::Leave);

// The bare names in dir that begin with prefix and end with suffix, byte for byte, without
// examining the entries (cheap in a large folder); nothing when dir cannot be listed.
std::vector<std::string> ListNamesLike(const std::string& dir, const std::string& prefix,
                                       const std::string& suffix);

// The order ListDirectory uses; true when a sorts before b.
bool EnumerationOrderLess(const std::string& a, const std::string& b);

} // namespace vornel
