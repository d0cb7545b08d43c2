#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace vornel {

namespace {

// libcurl's global set-up is not safe beside other threads: done once, before the first handle.
void StartCurl() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      throw EHttpError("libcurl cannot start", false);
  });
}

struct Transfer {
  const HttpRequest* Request = nullptr;
  HttpResponse Response;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::string line(data, size * count);
  HttpResponse& response = transfer.Response;
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (after a 100 Continue) starts the headers afresh.
    response = HttpResponse{};
    const auto blank = line.find(' ');
    if (blank != std::string::npos)
      response.Status = std::atoi(line.c_str() + blank + 1);
  } else if (line == "\r\n" || line == "\n") {
    if (response.Status >= 200 && transfer.Request->Headers &&
        !transfer.Request->Headers(response)) {
      response.Stopped = true;
      return 0; // libcurl ends the transfer with a write error
    }
  } else {
    TakeHttpHeader(line, response);
  }
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  transfer.Response.Received += static_cast<std::int64_t>(bytes);
  if (transfer.Request->Body && !transfer.Request->Body(data, bytes)) {
    transfer.Response.Stopped = true;
    return 0; // libcurl ends the transfer with a write error
  }
  return bytes;
}

bool IsTransient(CURLcode code) {
  switch (code) {
  case CURLE_OPERATION_TIMEDOUT:
  case CURLE_PARTIAL_FILE:
  case CURLE_RECV_ERROR:
  case CURLE_SEND_ERROR:
  case CURLE_GOT_NOTHING:
  case CURLE_HTTP2:
  case CURLE_HTTP2_STREAM:
    return true;
  default:
    return false;
  }
}

std::string Describe(CURLcode code, const char* detail, long systemError,
                     const HttpRequest& request, const HttpResponse& response) {
  switch (code) {
  case CURLE_COULDNT_RESOLVE_HOST:
    return "the host does not resolve";
  case CURLE_COULDNT_CONNECT:
    if (systemError == ECONNREFUSED)
      return "cannot connect (refused)";
    return std::string("cannot connect (") + (*detail != '\0' ? detail : "no route") + ")";
  case CURLE_OPERATION_TIMEDOUT:
    return "no answer within " + std::to_string(request.TimeoutSeconds) + " s";
  case CURLE_PARTIAL_FILE:
    if (response.ContentLength)
      return "the connection closed after " + std::to_string(response.Received) + " of " +
             std::to_string(*response.ContentLength) + " bytes";
    break;
  case CURLE_PEER_FAILED_VERIFICATION:
    return std::string("the server's certificate is not trusted (") + detail + ")";
  default:
    break;
  }
  return *detail != '\0' ? detail : curl_easy_strerror(code);
}

} // namespace

struct HttpClient::Impl {
  CURL* Handle = nullptr;
  char Detail[CURL_ERROR_SIZE] = {};
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
  StartCurl();
  impl_->Handle = curl_easy_init();
  if (impl_->Handle == nullptr)
    throw EHttpError("libcurl cannot start", false);
}

HttpClient::~HttpClient() {
  curl_easy_cleanup(impl_->Handle);
}

HttpResponse HttpClient::Send(const HttpRequest& request) {
  CURL* curl = impl_->Handle;
  Transfer transfer;
  transfer.Request = &request;
  impl_->Detail[0] = '\0';
  const long timeout = request.TimeoutSeconds;
  const std::string range =
      request.RangeEnd ? "0-" + std::to_string(*request.RangeEnd) : std::string();
  curl_easy_setopt(curl, CURLOPT_URL, request.Url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // several threads, no alarm signals
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "vornel");
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, impl_->Detail);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
  // A silence of the timeout's length ends the transfer, whatever its size.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  if (request.Head)
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  else
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());

  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.Response.Stopped)) {
    long systemError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &systemError);
    throw EHttpError(Describe(code, impl_->Detail, systemError, request, transfer.Response),
                     IsTransient(code));
  }
  CheckHttpBodyComplete(request, transfer.Response);
  return transfer.Response;
}

} // namespace vornel
