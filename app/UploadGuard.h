#pragma once

// The check of Upload/ that comes before anything is written: every folder the build mirrors and
// the manifest it appends to must be a real folder or file of Upload/ (or not exist yet), so
// nothing planted there can make the build write elsewhere. Archives need no such check: each is
// written under a name of its own and renamed over whatever lies at its name.

#include "app/TreeCheck.h"

#include <string>
#include <vector>

namespace vornel {

// Problems of the places in uploadDir that a build of tree writes through. A problem's path is
// empty and its text names the place.
std::vector<TreeProblem> CheckUploadTargets(const std::string& uploadDir, const CleanTree& tree);

} // namespace vornel
