#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace vornel {

namespace {

// libcurl and the thirty libraries it brings took about 18 ms to map at every start of the
// program, more than a verify of a small set takes; only the runs that speak HTTP load it.
struct CurlLibrary {
  decltype(&curl_global_init) GlobalInit = nullptr;
  decltype(&curl_easy_init) EasyInit = nullptr;
  decltype(&curl_easy_setopt) EasySetopt = nullptr;
  decltype(&curl_easy_perform) EasyPerform = nullptr;
  decltype(&curl_easy_getinfo) EasyGetinfo = nullptr;
  decltype(&curl_easy_strerror) EasyStrerror = nullptr;
  decltype(&curl_easy_cleanup) EasyCleanup = nullptr;
};

template <typename Function> void Resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function == nullptr)
    throw EHttpError(std::string("libcurl lacks ") + name, false);
}

CurlLibrary LoadCurl() {
  // Never unloaded: its global state lives as long as the process.
  void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr)
    throw EHttpError(std::string("libcurl cannot be loaded (") + ::dlerror() + ")", false);
  CurlLibrary curl;
  Resolve(library, "curl_global_init", curl.GlobalInit);
  Resolve(library, "curl_easy_init", curl.EasyInit);
  Resolve(library, "curl_easy_setopt", curl.EasySetopt);
  Resolve(library, "curl_easy_perform", curl.EasyPerform);
  Resolve(library, "curl_easy_getinfo", curl.EasyGetinfo);
  Resolve(library, "curl_easy_strerror", curl.EasyStrerror);
  Resolve(library, "curl_easy_cleanup", curl.EasyCleanup);
  // libcurl's global set-up is not safe beside other threads: done once, before the first handle.
  if (curl.GlobalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
    throw EHttpError("libcurl cannot start", false);
  return curl;
}

// Loaded at the first use. A load that fails throws, and a static's set-up that throws is tried
// again at the next call.
const CurlLibrary& Curl() {
  static const CurlLibrary loaded = LoadCurl();
  return loaded;
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
  return *detail != '\0' ? detail : Curl().EasyStrerror(code);
}

} // namespace

struct HttpClient::Impl {
  CURL* Handle = nullptr;
  char Detail[CURL_ERROR_SIZE] = {};
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
  impl_->Handle = Curl().EasyInit();
  if (impl_->Handle == nullptr)
    throw EHttpError("libcurl cannot start", false);
}

HttpClient::~HttpClient() {
  Curl().EasyCleanup(impl_->Handle);
}

HttpResponse HttpClient::Send(const HttpRequest& request) {
  CURL* curl = impl_->Handle;
  const auto setopt = Curl().EasySetopt;
  Transfer transfer;
  transfer.Request = &request;
  impl_->Detail[0] = '\0';
  const long timeout = request.TimeoutSeconds;
  const std::string range =
      request.RangeEnd ? "0-" + std::to_string(*request.RangeEnd) : std::string();
  setopt(curl, CURLOPT_URL, request.Url.c_str());
  setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  setopt(curl, CURLOPT_NOSIGNAL, 1L); // several threads, no alarm signals
  setopt(curl, CURLOPT_USERAGENT, "vornel");
  setopt(curl, CURLOPT_ERRORBUFFER, impl_->Detail);
  setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
  // A silence of the timeout's length ends the transfer, whatever its size.
  setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
  setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  setopt(curl, CURLOPT_HEADERDATA, &transfer);
  setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  setopt(curl, CURLOPT_WRITEDATA, &transfer);
  if (request.Head)
    setopt(curl, CURLOPT_NOBODY, 1L);
  else
    setopt(curl, CURLOPT_HTTPGET, 1L);
  setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());

  const CURLcode code = Curl().EasyPerform(curl);
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.Response.Stopped)) {
    long systemError = 0;
    Curl().EasyGetinfo(curl, CURLINFO_OS_ERRNO, &systemError);
    throw EHttpError(Describe(code, impl_->Detail, systemError, request, transfer.Response),
                     IsTransient(code));
  }
  CheckHttpBodyComplete(request, transfer.Response);
  return transfer.Response;
}

} // namespace vornel
