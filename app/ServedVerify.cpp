#include "app/ServedVerify.h"

#include "app/ArchiveCheck.h"
#include "app/BuildPaths.h"
#include "app/ManifestFile.h"
#include "app/ManifestReader.h"
#include "app/ParallelFor.h"
#include "app/ServedFetch.h"
#include "app/UpdateDiff.h"
#include "app/Url.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/TextCompare.h"

#include <memory>
#include <mutex>

namespace vornel {

namespace {

// More than a manifest of millions of lines: a larger answer is not one.
constexpr std::int64_t ManifestLimit = 256 * 1024 * 1024;

struct Target {
  std::string Archive; // the file system's path below the base, ".zip" included
  ArchiveExpectation Expected;
  bool Readable = true;
};

bool IsHtml(const HttpResponse& response) {
  return response.ContentType.rfind("text/html", 0) == 0;
}

std::string StatusText(int status) {
  if (status == 404 || status == 410)
    return "the server does not have it (" + std::to_string(status) + ")";
  return "the server answers " + std::to_string(status);
}

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
    if (IsHtml(response) || fetched.Body.rfind("<", 0) == 0)
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

// One archive on the server, as the options ask.
std::vector<std::string> CheckServed(ServedFetcher& fetcher, const Target& target, bool deep) {
  const std::string url = UrlBelow(fetcher.Base(), target.Archive);
  const std::int32_t listed = target.Expected.Size;
  std::vector<std::string> problems;
  auto add = [&](const std::string& text) { problems.push_back(text + " (" + url + ")"); };
  try {
    Fetched fetched;
    if (deep && listed >= 0) {
      fetched = fetcher.Fetch(url, FetchKind::Body, listed,
                              [](const HttpResponse& response) { return !IsHtml(response); });
    } else {
      fetched = fetcher.Fetch(url, FetchKind::Head);
      const HttpResponse& head = fetched.Response;
      if (head.Status == 405 || head.Status == 501 ||
          (head.Status >= 200 && head.Status <= 299 && !head.ContentLength))
        fetched = fetcher.Fetch(url, FetchKind::Probe);
    }
    const HttpResponse& response = fetched.Response;
    if (response.Status < 200 || response.Status > 299) {
      add(StatusText(response.Status));
      return problems;
    }
    if (IsHtml(response)) {
      add("an HTML page is served instead of the archive");
      return problems;
    }
    const std::optional<std::int64_t> size =
        response.Status == 206 ? response.RangeTotal : response.ContentLength;
    if (listed == -1)
      add("updates.lst lists the archive as missing (size -1)");
    else if (size && *size != listed)
      add("the archive is " + std::to_string(*size) + " bytes as served, updates.lst lists " +
          std::to_string(listed));
    else if (fetched.TooLarge)
      add("the server sends more than the " + std::to_string(listed) + " bytes listed");
    else if (!size && !deep)
      add("the server does not say the archive's size");
    else if (deep)
      for (const std::string& problem : CheckArchiveBytes(std::move(fetched.Body), target.Expected))
        add(problem);
  } catch (const EServedProblem& failure) {
    add(failure.what());
  }
  return problems;
}

std::string ReadLocalManifest(const std::string& upload) {
  const std::string path = ManifestPathOf(upload);
  FileStream file(path, FileStream::Mode::OpenRead);
  return file.ReadString(static_cast<std::size_t>(file.Size()));
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
  std::vector<std::unique_ptr<ServedFetcher>> fetchers;
  fetchers.push_back(std::make_unique<ServedFetcher>(base, policy));

  const std::string servedText =
      FetchManifest(*fetchers[0], UrlBelow(base, ManifestFileName), result);
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

  std::vector<Target> targets;
  std::unique_ptr<NameConverter> converter;
  if (options.Names.IsSet())
    converter = std::make_unique<NameConverter>(options.Names);
  for (const ListedArchive& listed : listing.Archives) {
    Target target{listed.RelativePath + ".zip",
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
  const int connections = std::max(1, options.Connections);
  while (static_cast<int>(fetchers.size()) < std::min<int>(connections, targets.size()))
    fetchers.push_back(std::make_unique<ServedFetcher>(base, policy));
  std::vector<std::vector<std::string>> problems(targets.size());
  std::mutex progressLock;
  std::vector<char> finished(targets.size(), 0);
  std::size_t reported = 0;
  ForEachInParallel(targets.size(), connections, [&](int worker, std::size_t i) {
    if (targets[i].Readable)
      problems[i] =
          CheckServed(*fetchers[static_cast<std::size_t>(worker)], targets[i], options.Deep);
    const std::lock_guard lock(progressLock);
    finished[i] = 1;
    for (; reported < finished.size() && finished[reported] != 0; ++reported) {
      if (progress.Step && targets[reported].Readable)
        progress.Step(targets[reported].Archive);
    }
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
