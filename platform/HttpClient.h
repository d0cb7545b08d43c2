#pragma once

// Plain HTTP and HTTPS requests over connections kept open between them (libcurl on Linux,
// WinHTTP on Windows). Redirects are never followed here: the caller decides where it may go.
// HTTPS checks the server's certificate with the system's trusted authorities.

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace vornel {

struct HttpRequest {
  std::string Url;   // http:// or https://, already encoded
  bool Head = false; // HEAD: the answer's headers only
  // A GET of bytes 0 to RangeEnd only, for servers that do not answer HEAD.
  std::optional<std::int64_t> RangeEnd{};
  // The longest wait to connect, and the longest silence while the answer or its body arrive.
  int TimeoutSeconds = 30;
  // Once the answer's headers are in; false ends the transfer before its body (no error).
  std::function<bool(const struct HttpResponse& response)> Headers{};
  // Each piece of the body as it arrives; false ends the transfer there (no error).
  std::function<bool(const char* data, std::size_t size)> Body{};
};

struct HttpResponse {
  int Status = 0;
  std::optional<std::int64_t> ContentLength; // as the server declares it
  std::optional<std::int64_t> RangeTotal;    // "Content-Range: bytes 0-0/TOTAL"
  std::string ContentType;
  std::string Location;      // a redirect's target, as given
  std::int64_t Received = 0; // body bytes passed to Body
  bool Stopped = false;      // Headers or Body ended the transfer
};

// An exchange that failed: no connection, no answer in time, a body cut short. Transient when
// trying again may help.
class EHttpError : public std::runtime_error {
public:
  EHttpError(const std::string& message, bool transient)
      : std::runtime_error(message), transient_(transient) {}
  bool Transient() const { return transient_; }

private:
  bool transient_;
};

// Requests running at once over a few kept-alive connections, driven by the thread that owns
// them (libcurl's multi interface on Linux; on Windows, one thread a connection, each sending
// with WinHTTP). Not to be shared between threads.
class HttpTransfers {
public:
  explicit HttpTransfers(int connections);
  ~HttpTransfers();
  HttpTransfers(const HttpTransfers&) = delete;
  HttpTransfers& operator=(const HttpTransfers&) = delete;

  // Starts a request, known by tag in what Next returns. Its callbacks may run on another thread,
  // one at a time, all before Next returns its end. More requests than connections wait for one.
  void Start(std::uint64_t tag, HttpRequest request);

  struct Finished {
    std::uint64_t Tag = 0;
    HttpResponse Response;
    // An EHttpError when the exchange failed; a body shorter than the declared length is one
    // ("the connection closed after N of M bytes").
    std::exception_ptr Error;
  };

  // The next request to end, waiting at most `wait`; nothing when none ended in that time.
  std::optional<Finished> Next(std::chrono::milliseconds wait);

  // Requests started whose end Next has not returned yet.
  std::size_t Running() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Takes one header line ("Content-Length: 12", with or without its line end) into response.
void TakeHttpHeader(const std::string& line, HttpResponse& response);

// Raises the error for a body that ended before the declared length.
void CheckHttpBodyComplete(const HttpRequest& request, const HttpResponse& response);

} // namespace vornel
