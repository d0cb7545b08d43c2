#pragma once

// The check of Upload/ that comes before anything is written: every folder the build mirrors,
// every archive and the manifest it writes must be a real folder or file of Upload/ (or not
// exist yet), so nothing planted there can make the build write elsewhere.

#include "app/TreeCheck.h"

#include <string>
#include <vector>

namespace vornel {

// Problems of the places in uploadDir that a build of tree writes; selfName is the self file's
// bare name. A problem's path is empty and its text names the place.
std::vector<TreeProblem> CheckUploadTargets(const std::string& uploadDir, const CleanTree& tree,
                                            const std::string& selfName);

} // namespace vornel
