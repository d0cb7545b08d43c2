#include "app/ManifestFile.h"

#include "app/BuildPaths.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"

namespace vornel {

std::string ManifestPathOf(const std::string& place) {
  const auto found = FindFile(place);
  if (found && (found->Attributes & attr::Directory) != 0)
    return JoinPath(place, ManifestFileName);
  return place;
}

ParsedManifest LoadManifest(const std::string& place, CodePage names) {
  const std::string path = ManifestPathOf(place);
  const auto found = FindFile(path);
  if (!found || (found->Attributes & attr::Directory) != 0)
    throw EManifestUnusable(path + ": missing");
  ParsedManifest parsed = ParseManifest(ReadWholeFile(path));
  std::string problems;
  for (const ManifestProblem& problem : parsed.Problems)
    problems += (problems.empty() ? "" : "\n") + path +
                (problem.Line > 0 ? " line " + std::to_string(problem.Line) : "") + ": " +
                problem.Text;
  if (names.IsSet()) {
    const NameConverter converter(names);
    for (ListedArchive& listed : parsed.Archives) {
      if (auto onDisk = converter.ToFileSystem(listed.RelativePath))
        listed.RelativePath = std::move(*onDisk);
      else
        problems += (problems.empty() ? "" : "\n") + path + " line " + std::to_string(listed.Line) +
                    ": the path is no text of code page " + names.Name();
    }
  }
  if (!problems.empty())
    throw EManifestUnusable(problems);
  return parsed;
}

} // namespace vornel
