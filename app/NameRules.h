#pragma once

// The names a Windows client can create, and how names are shown in one-line messages. Shared
// by the tree check, verify and the front ends.

#include <optional>
#include <string>
#include <string_view>

namespace vornel {

// Why the client's system cannot create a file or folder of this bare name (characters it does
// not allow, a trailing dot or blank, a reserved device name); nothing when it can.
std::optional<std::string> ClientNameProblem(std::string_view name);

// The name with control characters written as "\xNN", so a message stays on one line.
std::string PrintableName(std::string_view name);

} // namespace vornel
