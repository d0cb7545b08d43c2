#pragma once

// Finding and reading the manifest of an update set given either as its folder or as the file.

#include "app/ManifestReader.h"
#include "platform/CodePage.h"

#include <stdexcept>
#include <string>

namespace vornel {

// A manifest that is missing or cannot be read as one, with a message naming it.
class EManifestUnusable : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// `place` is an upload folder (its updates.lst is read) or the manifest itself. Raises
// EManifestUnusable when there is none or it has problems, naming each ("OLD/updates.lst line
// 3: ...", one a line). With a code page, the listed paths are turned into the file system's
// names, under which the archives lie.
ParsedManifest LoadManifest(const std::string& place, CodePage names);

// The path of the manifest `place` names (see LoadManifest).
std::string ManifestPathOf(const std::string& place);

} // namespace vornel
