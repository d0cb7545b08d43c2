#pragma once

// The names a Windows client can create, and how names are shown in one-line messages. Shared
// by the tree check, verify and the front ends.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vornel {

// Why the client's system cannot create a file or folder of this bare name (characters it does
// not allow, a trailing dot or blank, a reserved device name); nothing when it can.
std::optional<std::string> ClientNameProblem(std::string_view name);

// The client lives under Windows' classic path limit: 259 characters and the closing NUL, a
// folder 12 fewer (so that an 8.3 name still fits into it). A client path (relative,
// "\"-separated, in the client's code page) leaves this many characters for the install folder
// it lies under ("C:\Games\Client", without its closing "\"); below ShortestInstallFolder not
// even a drive's root ("C:") can hold it.
int InstallFolderRoom(std::size_t clientPathLength, bool folder);
inline constexpr int ShortestInstallFolder = 2;
// Less room than this for the install folder is worth a warning: ordinary install folders
// ("C:\Program Files (x86)\Game\Client") run to 40 characters and more.
inline constexpr int WantedInstallFolderRoom = 100;

// The name with control characters written as "\xNN", so a message stays on one line.
std::string PrintableName(std::string_view name);

} // namespace vornel
