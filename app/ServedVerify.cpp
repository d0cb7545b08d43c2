#include "app/ServedVerify.h"

#include "app/BuildPaths.h"
#include "app/ManifestFile.h"
#include "app/ManifestReader.h"
#include "app/ServedArchives.h"
#include "app/ServedFetch.h"
#include "app/UpdateDiff.h"
#include "app/Url.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/TextCompare.h"

#include <memory>

namespace vornel {

namespace {

// More than a manifest of millions of lines: a larger answer is not one.
constexpr std::int64_t ManifestLimit = 256 * 1024 * 1024;

// The served manifest's text, or a problem naming its URL.
std::string FetchManifest(ServedFetcher& fetcher, const std::string& url, VerifyResult& result) {
  auto problem = [&](const std::string& text) {
    result.Problems.push_back(url + ": " + text);
    ++result.ManifestProblems;
    return std::string();
  };
  try {
    const Fetched fetched = fetcher.Fetch(url, FetchKind::Body, ManifestLimit);
    const HttpResponse& response = fetched.Response;
    if (response.Status < 200 || response.Status > 299)
      return problem(StatusText(response.Status));
    if (fetched.TooLarge)
      return problem("the server sends " +
                     (response.ContentLength ? std::to_string(*response.ContentLength) + " bytes"
                                             : std::string("more")) +
                     ", more than a manifest holds");
    if (IsHtmlPage(response) || fetched.Body.rfind("<", 0) == 0)
      return problem("an HTML page is served instead of " + std::string(ManifestFileName));
    if (fetched.Body.empty())
      return problem("the manifest is empty");
    if (fetched.Body.find('\n') != std::string::npos &&
        fetched.Body.find("\r\n") == std::string::npos)
      return problem("the lines end with LF, not CR LF (uploaded as text?); the client reads "
                     "none of them");
    return fetched.Body;
  } catch (const EServedProblem& failure) {
    return problem(failure.what());
  }
}

std::string ReadLocalManifest(const std::string& upload) {
  return ReadWholeFile(ManifestPathOf(upload));
}

// Every way the served manifest departs from the local one.
void CompareWithLocal(const ParsedManifest& served, const std::string& servedText,
                      const ParsedManifest& local, const std::string& localText,
                      VerifyResult& result) {
  const std::string where = std::string(ManifestFileName) + ": ";
  std::size_t before = result.Problems.size();
  for (const ArchiveChange& change : CompareManifests(served, local).Changes) {
    const std::string archive = change.Path + ".zip";
    switch (change.Kind) {
    case ArchiveChangeKind::New:
      result.Problems.push_back(where + "the served manifest does not list " + archive +
                                ", the local one does (an older manifest is served)");
      break;
    case ArchiveChangeKind::Removed:
      result.Problems.push_back(where + "the served manifest lists " + archive +
                                ", the local one does not (an older manifest is served)");
      break;
    default:
      result.Problems.push_back(where + "the served manifest lists " + archive + " with CRC " +
                                std::to_string(change.OldCrc) + " and " +
                                std::to_string(change.OldSize) + " bytes, the local one with " +
                                std::to_string(change.Crc) + " and " + std::to_string(change.Size) +
                                " (an older manifest is served)");
    }
  }
  if (result.Problems.size() == before && servedText != localText)
    result.Problems.push_back(where + "the served manifest differs from the local one");
  result.ManifestProblems += static_cast<std::int32_t>(result.Problems.size() - before);
}

void WarnAboutHost(const Url& base, const ParsedManifest& served, VerifyResult& result) {
  const std::string server = AsciiLower(served.Server);
  const std::string withPort = base.Host + ":" + std::to_string(base.Port);
  if (!server.empty() && server != base.Host && server != withPort)
    result.Warnings.push_back("the URL's host " + base.Host + " is not the manifest's Server=" +
                              served.Server + ", which players' updaters use");
}

} // namespace

VerifyResult VerifyServedSet(const ServedVerifyOptions& options, const VerifyProgress& progress) {
  const Url base = ParseBaseUrl(options.Url);
  const FetchPolicy policy{options.TimeoutSeconds, options.Attempts};
  VerifyResult result;
  ServedFetcher fetcher(base, policy);
  const std::string servedText = FetchManifest(fetcher, UrlBelow(base, ManifestFileName), result);
  if (!result.Problems.empty())
    return result;
  ParsedManifest served = ParseManifest(servedText);
  for (const ManifestProblem& problem : served.Problems) {
    result.Problems.push_back(std::string(ManifestFileName) +
                              (problem.Line > 0 ? " line " + std::to_string(problem.Line) : "") +
                              " (served): " + problem.Text);
    ++result.ManifestProblems;
  }
  WarnAboutHost(base, served, result);

  // With a local set, its lines say what the server must hold.
  ParsedManifest listing = served;
  if (!options.LocalUpload.empty()) {
    const std::string localText = ReadLocalManifest(options.LocalUpload);
    listing = ParseManifest(localText);
    for (const ManifestProblem& problem : listing.Problems) {
      result.Problems.push_back(ManifestPathOf(options.LocalUpload) +
                                (problem.Line > 0 ? " line " + std::to_string(problem.Line) : "") +
                                ": " + problem.Text);
      ++result.ManifestProblems;
    }
    CompareWithLocal(served, servedText, listing, localText, result);
  }

  std::vector<ServedTarget> targets;
  std::unique_ptr<NameConverter> converter;
  if (options.Names.IsSet())
    converter = std::make_unique<NameConverter>(options.Names);
  for (const ListedArchive& listed : listing.Archives) {
    ServedTarget target{listed.RelativePath + ".zip",
                        {BareName(listed.RelativePath), listed.Crc, listed.Size, options.Names}};
    if (converter) {
      if (auto onDisk = converter->ToFileSystem(listed.RelativePath)) {
        target.Archive = *onDisk + ".zip";
      } else {
        target.Readable = false;
        result.Problems.push_back(std::string(ManifestFileName) + " line " +
                                  std::to_string(listed.Line) +
                                  ": the path is no text of code page " + options.Names.Name());
        ++result.ArchivesWithProblems;
      }
    }
    targets.push_back(std::move(target));
  }

  result.ArchivesListed = static_cast<std::int32_t>(targets.size());
  if (progress.SetMax)
    progress.SetMax(result.ArchivesListed);
  const auto problems = CheckServedArchives(base, policy, targets, options.Deep,
                                            options.Connections, [&](std::size_t i) {
                                              if (progress.Step && targets[i].Readable)
                                                progress.Step(targets[i].Archive);
                                            });
  for (std::size_t i = 0; i < problems.size(); ++i) {
    for (const std::string& problem : problems[i])
      result.Problems.push_back(targets[i].Archive + ": " + problem);
    if (!problems[i].empty())
      ++result.ArchivesWithProblems;
  }
  return result;
}

} // namespace vornel
