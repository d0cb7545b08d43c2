#include "app/Verify.h"

#include "app/ArchiveCheck.h"
#include "app/BuildPaths.h"
#include "app/BuildRecord.h"
#include "app/ManifestReader.h"
#include "app/PackEngine.h"
#include "app/ParallelFor.h"
#include "app/TreeCompare.h"
#include "app/UploadScan.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"

#include <set>

namespace vornel {

namespace {

std::string Plural(std::int32_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string ReadManifest(const std::string& uploadDir, const std::string& path,
                         VerifyResult& result) {
  const auto found = FindFile(path);
  if (!found || (found->Attributes & attr::Directory) != 0) {
    std::string text = std::string(ManifestFileName) + ": missing in \"" + uploadDir + "\"";
    if (!FindFile(uploadDir))
      text = "\"" + uploadDir + "\": no such folder; give the upload folder (default ./Upload)";
    else if (!DirectoryExists(uploadDir))
      text = "\"" + uploadDir + "\" is a file; give the upload folder (default ./Upload)";
    result.Problems.push_back(text);
    ++result.ManifestProblems;
    return {};
  }
  return ReadWholeFile(path);
}

void AddManifestProblem(VerifyResult& result, std::int32_t line, const std::string& text) {
  std::string where = ManifestFileName;
  if (line > 0)
    where += " line " + std::to_string(line);
  result.Problems.push_back(where + ": " + text);
  ++result.ManifestProblems;
}

// fcount counts every file of the tree but one; a build lists them all except the files named
// like the self file in subfolders. More counted than listed means a cut-off manifest unless
// those namesakes make up the difference: the clean tree (--against) or the build's own record
// of this very manifest says how many there are. Without either, archives left unlisted show a
// cut-off manifest; with none, the two explanations stand side by side as a warning.
void CheckFcount(const ParsedManifest& parsed, std::int32_t namesakes, VerifyResult& result) {
  if (!parsed.Fcount || *parsed.Fcount <= parsed.FileLines)
    return;
  const std::int32_t missing = *parsed.Fcount - parsed.FileLines;
  if (namesakes >= 0 && missing == namesakes)
    return;
  const std::string text = "fcount=" + std::to_string(*parsed.Fcount) + " but " +
                           Plural(parsed.FileLines, "F line") + " follow";
  if (namesakes >= 0 || !result.Unlisted.empty()) {
    AddManifestProblem(result, 7,
                       text + ": the manifest was cut short, or the build that wrote "
                              "it stopped before the end");
    return;
  }
  result.Warnings.push_back(
      std::string(ManifestFileName) + " line 7: " + text +
      ": files named like the self file in subfolders are counted but never listed, or the "
      "manifest was cut short; no record of the build beside the folder tells which "
      "(--against CLEAN_DIR does)");
}

// How many namesakes the build that wrote exactly this manifest counted; -1 when unknown.
std::int32_t RecordedNamesakes(const std::string& uploadDir, const std::string& manifest) {
  const auto record = LoadBuildRecord(BuildRecordPathFor(uploadDir));
  return record && record->Manifest == DigestOfBytes(manifest) ? record->Namesakes : -1;
}

void FindUnlisted(const std::string& uploadDir, const ParsedManifest& parsed,
                  std::vector<std::string>& unlisted) {
  std::set<std::string> listed;
  for (const ListedArchive& archive : parsed.Archives)
    listed.insert(archive.RelativePath + ".zip");
  for (const std::string& archive : ScanUpload(uploadDir).Archives) {
    if (listed.count(archive) == 0)
      unlisted.push_back(archive);
  }
}

// Turns the listed paths into the file system's spelling of them, under which the archives lie.
// False for a line whose path is no text of the code page (a problem of its archive).
std::vector<bool> ToFileSystemNames(ParsedManifest& parsed, CodePage names, VerifyResult& result) {
  std::vector<bool> readable(parsed.Archives.size(), true);
  if (!names.IsSet())
    return readable;
  const NameConverter converter(names);
  for (std::size_t i = 0; i < parsed.Archives.size(); ++i) {
    ListedArchive& listed = parsed.Archives[i];
    if (auto onDisk = converter.ToFileSystem(listed.RelativePath)) {
      listed.RelativePath = std::move(*onDisk);
      continue;
    }
    readable[i] = false;
    result.Problems.push_back(std::string(ManifestFileName) + " line " +
                              std::to_string(listed.Line) + ": the path is no text of code page " +
                              names.Name() +
                              "; give the code page the set was built with (--codepage)");
    ++result.ArchivesWithProblems;
  }
  return readable;
}

} // namespace

std::string VerifyResult::Summary() const {
  std::string text = "verified " + Plural(ArchivesListed, "archive") + ": ";
  if (Problems.empty())
    text += "all good";
  else {
    text += Plural(static_cast<std::int32_t>(Problems.size()), "problem") + " in ";
    std::vector<std::string> places;
    if (ArchivesWithProblems > 0)
      places.push_back(Plural(ArchivesWithProblems, "archive"));
    if (ManifestProblems > 0)
      places.push_back(ManifestFileName);
    if (TreeProblems > 0)
      places.push_back(Plural(TreeProblems, "file") + " of the clean folder");
    for (std::size_t i = 0; i < places.size(); ++i)
      text += (i == 0 ? "" : " and ") + places[i];
  }
  if (!Unlisted.empty())
    text += "; " + Plural(static_cast<std::int32_t>(Unlisted.size()), "archive") + " not listed";
  if (!Warnings.empty())
    text += "; " + Plural(static_cast<std::int32_t>(Warnings.size()), "warning");
  return text;
}

VerifyResult VerifyUploadSet(const std::string& uploadDir, const VerifyProgress& progress,
                             const VerifyOptions& options) {
  VerifyResult result;
  const std::string manifestPath = JoinPath(uploadDir, ManifestFileName);
  const std::string text = ReadManifest(uploadDir, manifestPath, result);
  if (!result.Problems.empty())
    return result;

  ParsedManifest parsed = ParseManifest(text);
  for (const ManifestProblem& problem : parsed.Problems)
    AddManifestProblem(result, problem.Line, problem.Text);
  // The entries carry the client's bytes; the archives and the clean tree the file system's.
  std::vector<std::string> entryNames;
  for (const ListedArchive& listed : parsed.Archives)
    entryNames.push_back(BareName(listed.RelativePath));
  const std::vector<bool> readable = ToFileSystemNames(parsed, options.Names, result);

  std::int32_t namesakes = RecordedNamesakes(uploadDir, text);
  if (!options.Against.empty()) {
    const TreeComparison comparison =
        CompareWithTree(parsed, options.Against, uploadDir, options.CustomName, options.Exclude);
    namesakes = comparison.Namesakes;
    for (const std::string& problem : comparison.Problems)
      result.Problems.push_back(problem);
    result.TreeProblems = static_cast<std::int32_t>(comparison.Problems.size());
  }
  result.ArchivesListed = static_cast<std::int32_t>(parsed.Archives.size());
  if (progress.SetMax)
    progress.SetMax(result.ArchivesListed);
  // Each archive's problems in a slot of its own, reported in the manifest's order.
  std::vector<std::vector<std::string>> problems(parsed.Archives.size());
  // Progress names the archives in the manifest's order too: each finished one waits for those
  // before it.
  InOrderProgress inOrder(parsed.Archives.size(), [&](std::size_t i) {
    if (progress.Step && readable[i])
      progress.Step(parsed.Archives[i].RelativePath + ".zip");
  });
  // The walk for unlisted archives is one more task, the first: with more than one job it runs
  // beside the archives' checks instead of before them all.
  ForEachInParallel(parsed.Archives.size() + 1, options.Jobs > 0 ? options.Jobs : DefaultJobs(),
                    [&](int, std::size_t task) {
                      if (task == 0) {
                        FindUnlisted(uploadDir, parsed, result.Unlisted);
                        return;
                      }
                      const std::size_t i = task - 1;
                      const ListedArchive& listed = parsed.Archives[i];
                      if (readable[i])
                        problems[i] =
                            CheckArchive(JoinPath(uploadDir, listed.RelativePath + ".zip"),
                                         {entryNames[i], listed.Crc, listed.Size, options.Names});
                      inOrder.Done(i);
                    });
  // Whether the manifest looks cut short depends on the unlisted archives the walk found.
  CheckFcount(parsed, namesakes, result);
  for (std::size_t i = 0; i < problems.size(); ++i) {
    for (const std::string& problem : problems[i])
      result.Problems.push_back(parsed.Archives[i].RelativePath + ".zip: " + problem);
    if (!problems[i].empty())
      ++result.ArchivesWithProblems;
  }
  return result;
}

} // namespace vornel
