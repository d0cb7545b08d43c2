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

Fetched ServedFetcher::Once(const std::string& url, FetchKind kind, std::int64_t limit,
                            const std::function<bool(const HttpResponse&)>& accept) {
  Fetched fetched;
  fetched.Url = url;
  HttpRequest request;
  request.Url = url;
  request.Head = kind == FetchKind::Head;
  request.TimeoutSeconds = policy_.TimeoutSeconds;
  if (kind == FetchKind::Probe) {
    request.RangeEnd = 0;
    request.Headers = [](const HttpResponse&) { return false; };
  } else if (kind == FetchKind::Body) {
    request.Headers = [&](const HttpResponse& response) {
      if (response.Status < 200 || response.Status > 299)
        return false; // an error page or a redirect: its body says nothing
      if (response.ContentLength && *response.ContentLength > limit) {
        fetched.TooLarge = true;
        return false;
      }
      if (accept && !accept(response))
        return false;
      if (response.ContentLength)
        fetched.Body.reserve(static_cast<std::size_t>(*response.ContentLength));
      return true;
    };
    request.Body = [&](const char* data, std::size_t size) {
      if (static_cast<std::int64_t>(fetched.Body.size() + size) > limit) {
        fetched.TooLarge = true;
        return false;
      }
      fetched.Body.append(data, size);
      return true;
    };
  }
  fetched.Response = client_.Send(request);
  return fetched;
}

Fetched ServedFetcher::Fetch(const std::string& url, FetchKind kind, std::int64_t limit,
                             const std::function<bool(const HttpResponse&)>& accept) {
  std::string current = url;
  for (int redirects = 0;; ++redirects) {
    Fetched fetched;
    for (int attempt = 1;; ++attempt) {
      try {
        fetched = Once(current, kind, limit, accept);
        if (!IsPassing(fetched.Response.Status) || attempt >= policy_.Attempts)
          break;
      } catch (const EHttpError& error) {
        if (!error.Transient() || attempt >= policy_.Attempts)
          throw EServedProblem(error.what());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
    }
    if (!IsRedirect(fetched.Response.Status))
      return fetched;
    const auto target = ResolveRedirect(ParseUrl(current), fetched.Response.Location);
    if (!target)
      throw EServedProblem("the server redirects to \"" + fetched.Response.Location +
                           "\", which is no URL");
    if (!IsInside(base_, *target))
      throw EServedProblem("the server redirects outside the base to " + target->Text() +
                           "; not followed");
    if (redirects >= policy_.Redirects)
      throw EServedProblem("more than " + std::to_string(policy_.Redirects) + " redirects");
    current = target->Text();
  }
}

} // namespace vornel
