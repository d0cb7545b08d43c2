#include "app/Verify.h"

#include "app/ArchiveCheck.h"
#include "app/BuildPaths.h"
#include "app/ManifestReader.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Stream.h"

namespace vornel {

namespace {

std::string Plural(std::int32_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string ReadManifest(const std::string& path, VerifyResult& result) {
  const auto found = FindFile(path);
  if (!found || (found->Attributes & attr::Directory) != 0) {
    result.Problems.push_back(std::string(ManifestFileName) + ": missing");
    ++result.ManifestProblems;
    return {};
  }
  FileStream file(path, FileStream::Mode::OpenRead);
  return file.ReadString(static_cast<std::size_t>(file.Size()));
}

} // namespace

std::string VerifyResult::Summary() const {
  std::string text = "verified " + Plural(ArchivesListed, "archive") + ": ";
  if (AllGood())
    return text + "all good";
  text += Plural(static_cast<std::int32_t>(Problems.size()), "problem") + " in ";
  if (ArchivesWithProblems > 0)
    text += Plural(ArchivesWithProblems, "archive");
  if (ArchivesWithProblems > 0 && ManifestProblems > 0)
    text += " and ";
  if (ManifestProblems > 0)
    text += ManifestFileName;
  return text;
}

VerifyResult VerifyUploadSet(const std::string& uploadDir, const VerifyProgress& progress) {
  VerifyResult result;
  const std::string manifestPath = JoinPath(uploadDir, ManifestFileName);
  const std::string text = ReadManifest(manifestPath, result);
  if (!result.Problems.empty())
    return result;

  const ParsedManifest parsed = ParseManifest(text);
  for (const ManifestProblem& problem : parsed.Problems) {
    std::string where = ManifestFileName;
    if (problem.Line > 0)
      where += " line " + std::to_string(problem.Line);
    result.Problems.push_back(where + ": " + problem.Text);
  }
  result.ManifestProblems = static_cast<std::int32_t>(parsed.Problems.size());

  result.ArchivesListed = static_cast<std::int32_t>(parsed.Archives.size());
  if (progress.SetMax)
    progress.SetMax(result.ArchivesListed);
  for (const ListedArchive& listed : parsed.Archives) {
    const std::string archive = listed.RelativePath + ".zip";
    const auto problems = CheckArchive(JoinPath(uploadDir, archive),
                                       {BareName(listed.RelativePath), listed.Crc, listed.Size});
    for (const std::string& problem : problems)
      result.Problems.push_back(archive + ": " + problem);
    if (!problems.empty())
      ++result.ArchivesWithProblems;
    if (progress.Step)
      progress.Step(archive);
  }
  return result;
}

} // namespace vornel
