#pragma once

// One request to the server that serves an update set, as the check needs it: redirects
// followed only while they stay below the base, failures that may pass tried again, the body
// kept in memory up to a limit.

#include "app/Url.h"
#include "platform/HttpClient.h"

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

class ServedFetcher {
public:
  ServedFetcher(Url base, FetchPolicy policy) : base_(std::move(base)), policy_(policy) {}

  // url must lie below the base. With Body, `accept` (when given) sees the headers of a 2xx
  // answer first; false leaves its body unread. Raises EServedProblem for a redirect out of the
  // base, too many redirects, or a failure that remained after every try.
  Fetched Fetch(const std::string& url, FetchKind kind, std::int64_t limit = 0,
                const std::function<bool(const HttpResponse&)>& accept = {});

  const Url& Base() const { return base_; }

private:
  Fetched Once(const std::string& url, FetchKind kind, std::int64_t limit,
               const std::function<bool(const HttpResponse&)>& accept);

  Url base_;
  FetchPolicy policy_;
  HttpClient client_;
};

} // namespace vornel
