#pragma once

// Every archive a manifest lists, looked up on the server that serves the set: present and of
// the listed size, or downloaded and checked as the client would. Each thread runs many requests
// at once over connections of its own, so a request's wait never holds a thread.

#include "app/ArchiveCheck.h"
#include "app/ServedFetch.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vornel {

struct ServedTarget {
  std::string Archive; // the file system's path below the base, ".zip" included
  ArchiveExpectation Expected;
  bool Readable = true; // false: its name cannot be requested; checked as having no problem
};

// The problems of each target, in the targets' order. checked(i) is called for every target, in
// their order, once its check and those of all before it are over.
std::vector<std::vector<std::string>>
CheckServedArchives(const Url& base, const FetchPolicy& policy,
                    const std::vector<ServedTarget>& targets, bool deep, int connections,
                    const std::function<void(std::size_t index)>& checked);

} // namespace vornel
