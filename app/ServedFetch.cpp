#include "app/ServedFetch.h"

#include <chrono>
#include <thread>

namespace vornel {

namespace {

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Answers a busy or failing server gives that a moment later it may not.
bool IsPassing(int status) {
  return status == 429 || status == 502 || status == 503 || status == 504;
}

} // namespace

bool IsHtmlPage(const HttpResponse& response) {
  return response.ContentType.rfind("text/html", 0) == 0;
}

std::string StatusText(int status) {
  if (status == 404 || status == 410)
    return "the server does not have it (" + std::to_string(status) + ")";
  return "the server answers " + std::to_string(status);
}

ServedFetch::ServedFetch(const Url& base, const FetchPolicy& policy, std::string url,
                         FetchKind kind, std::int64_t limit,
                         std::function<bool(const HttpResponse&)> accept)
    : base_(base), policy_(policy), current_(std::move(url)), kind_(kind), limit_(limit),
      accept_(std::move(accept)) {}

HttpRequest ServedFetch::Request() {
  fetched_ = Fetched{};
  fetched_.Url = current_;
  HttpRequest request;
  request.Url = current_;
  request.Head = kind_ == FetchKind::Head;
  request.TimeoutSeconds = policy_.TimeoutSeconds;
  if (kind_ == FetchKind::Probe) {
    request.RangeEnd = 0;
    request.Headers = [](const HttpResponse&) { return false; };
  } else if (kind_ == FetchKind::Body) {
    request.Headers = [this](const HttpResponse& response) {
      if (response.Status < 200 || response.Status > 299)
        return false; // an error page or a redirect: its body says nothing
      if (response.ContentLength && *response.ContentLength > limit_) {
        fetched_.TooLarge = true;
        return false;
      }
      if (accept_ && !accept_(response))
        return false;
      if (response.ContentLength)
        fetched_.Body.reserve(static_cast<std::size_t>(*response.ContentLength));
      return true;
    };
    request.Body = [this](const char* data, std::size_t size) {
      if (static_cast<std::int64_t>(fetched_.Body.size() + size) > limit_) {
        fetched_.TooLarge = true;
        return false;
      }
      fetched_.Body.append(data, size);
      return true;
    };
  }
  return request;
}

bool ServedFetch::Again() {
  notBefore_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(200 * attempt_);
  ++attempt_;
  return false;
}

bool ServedFetch::Take(HttpTransfers::Finished finished) {
  if (finished.Error) {
    try {
      std::rethrow_exception(finished.Error);
    } catch (const EHttpError& error) {
      if (error.Transient() && attempt_ < policy_.Attempts)
        return Again();
      problem_ = error.what();
      return true;
    }
  }
  fetched_.Response = std::move(finished.Response);
  const int status = fetched_.Response.Status;
  if (IsPassing(status) && attempt_ < policy_.Attempts)
    return Again();
  if (!IsRedirect(status))
    return true;
  const std::string& location = fetched_.Response.Location;
  const auto target = ResolveRedirect(ParseUrl(current_), location);
  if (!target)
    problem_ = "the server redirects to \"" + location + "\", which is no URL";
  else if (!IsInside(base_, *target))
    problem_ = "the server redirects outside the base to " + target->Text() + "; not followed";
  else if (redirects_ >= policy_.Redirects)
    problem_ = "more than " + std::to_string(policy_.Redirects) + " redirects";
  if (!problem_.empty())
    return true;
  ++redirects_;
  attempt_ = 1;
  current_ = target->Text();
  return false;
}

Fetched& ServedFetch::Result() {
  if (!problem_.empty())
    throw EServedProblem(problem_);
  return fetched_;
}

Fetched ServedFetcher::Fetch(const std::string& url, FetchKind kind, std::int64_t limit,
                             const std::function<bool(const HttpResponse&)>& accept) {
  ServedFetch fetch(base_, policy_, url, kind, limit, accept);
  for (;;) {
    std::this_thread::sleep_until(fetch.NotBefore());
    transfers_.Start(0, fetch.Request());
    std::optional<HttpTransfers::Finished> finished;
    while (!finished)
      finished = transfers_.Next(std::chrono::seconds(1));
    if (fetch.Take(std::move(*finished)))
      return std::move(fetch.Result());
  }
}

} // namespace vornel
