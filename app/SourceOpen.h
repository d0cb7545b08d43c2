#pragma once

// Opening a file of the clean tree for packing: through the path the tree check resolved, with
// no symbolic link followed, and only while it is what the check saw. Its checksum and its
// archive entry are then both taken from one read through this handle.

#include "platform/NoFollow.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vornel {

// Opens realPath (absolute, links resolved by the tree check). A file gone raises "File not
// found"; one swapped for a link or for something that is no regular file, or whose size is no
// longer sizeSeen, raises EFileChanged. shownPath names the file in messages.
std::unique_ptr<SourceFile> OpenCheckedSource(const std::string& realPath,
                                              const std::string& shownPath, std::uint64_t sizeSeen);

} // namespace vornel
