#pragma once

// Plain HTTP and HTTPS requests over one connection, kept open between them (libcurl on Linux,
// WinHTTP on Windows). Redirects are never followed here: the caller decides where it may go.
// HTTPS checks the server's certificate with the system's trusted authorities.

#include <cstdint>
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

class HttpClient {
public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Raises EHttpError; a body shorter than the declared length is one ("the connection closed
  // after N of M bytes").
  HttpResponse Send(const HttpRequest& request);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Takes one header line ("Content-Length: 12", with or without its line end) into response.
void TakeHttpHeader(const std::string& line, HttpResponse& response);

// Raises the error for a body that ended before the declared length.
void CheckHttpBodyComplete(const HttpRequest& request, const HttpResponse& response);

} // namespace vornel
