#pragma once

// One request to the server that serves an update set, as the check needs it: redirects
// followed only while they stay below the base, failures that may pass tried again, the body
// kept in memory up to a limit.

#include "app/Url.h"
#include "platform/HttpClient.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vornel {

// A request that came to nothing, in words for the report (without the URL).
class EServedProblem : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// An answer that is a web page, as error pages are, not a file.
bool IsHtmlPage(const HttpResponse& response);

// A status that means no answer, in words for the report.
std::string StatusText(int status);

enum class FetchKind {
  Head,  // the headers only
  Probe, // a GET of the first byte, for servers that do not answer HEAD
  Body,  // a GET of the whole body
};

struct Fetched {
  HttpResponse Response;
  std::string Body;      // Body: up to the limit
  bool TooLarge = false; // Body: the server sent or declared more than the limit
  std::string Url;       // where the answer came from, after redirects
};

struct FetchPolicy {
  int TimeoutSeconds = 30;
  int Attempts = 3;
  int Redirects = 5;
};

// One fetch of a URL below the base, as a series of requests the caller sends (several fetches
// share connections that way): redirects followed while they stay below the base, a failure that
// may pass tried again after a pause, the body kept in memory up to a limit.
class ServedFetch {
public:
  // With Body, `accept` (when given) sees the headers of a 2xx answer first; false leaves its
  // body unread.
  ServedFetch(const Url& base, const FetchPolicy& policy, std::string url, FetchKind kind,
              std::int64_t limit = 0, std::function<bool(const HttpResponse&)> accept = {});
  ServedFetch(const ServedFetch&) = delete;
  ServedFetch& operator=(const ServedFetch&) = delete;

  // The request to send now, not before NotBefore(). Its callbacks fill this fetch.
  HttpRequest Request();
  std::chrono::steady_clock::time_point NotBefore() const { return notBefore_; }

  // Takes how the request ended: true when the fetch is over, false when Request() is to be
  // sent again.
  bool Take(HttpTransfers::Finished finished);

  // The answer of a fetch that is over. Raises EServedProblem for a redirect out of the base,
  // too many redirects, or a failure that remained after every try.
  Fetched& Result();

private:
  bool Again(); // the same URL once more, after a pause

  const Url& base_;
  FetchPolicy policy_;
  std::string current_;
  FetchKind kind_;
  std::int64_t limit_;
  std::function<bool(const HttpResponse&)> accept_;
  int attempt_ = 1;
  int redirects_ = 0;
  std::chrono::steady_clock::time_point notBefore_{};
  Fetched fetched_;
  std::string problem_; // why the fetch came to nothing
};

// Fetches one URL after another over one connection.
class ServedFetcher {
public:
  ServedFetcher(Url base, FetchPolicy policy)
      : base_(std::move(base)), policy_(policy), transfers_(1) {}

  // url must lie below the base. See ServedFetch.
  Fetched Fetch(const std::string& url, FetchKind kind, std::int64_t limit = 0,
                const std::function<bool(const HttpResponse&)>& accept = {});

  const Url& Base() const { return base_; }

private:
  Url base_;
  FetchPolicy policy_;
  HttpTransfers transfers_;
};

} // namespace vornel
