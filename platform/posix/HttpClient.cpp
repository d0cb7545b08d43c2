#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

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
  decltype(&curl_multi_init) MultiInit = nullptr;
  decltype(&curl_multi_setopt) MultiSetopt = nullptr;
  decltype(&curl_multi_add_handle) MultiAdd = nullptr;
  decltype(&curl_multi_remove_handle) MultiRemove = nullptr;
  decltype(&curl_multi_perform) MultiPerform = nullptr;
  decltype(&curl_multi_poll) MultiPoll = nullptr;
  decltype(&curl_multi_info_read) MultiInfoRead = nullptr;
  decltype(&curl_multi_strerror) MultiStrerror = nullptr;
  decltype(&curl_multi_cleanup) MultiCleanup = nullptr;
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
  Resolve(library, "curl_multi_init", curl.MultiInit);
  Resolve(library, "curl_multi_setopt", curl.MultiSetopt);
  Resolve(library, "curl_multi_add_handle", curl.MultiAdd);
  Resolve(library, "curl_multi_remove_handle", curl.MultiRemove);
  Resolve(library, "curl_multi_perform", curl.MultiPerform);
  Resolve(library, "curl_multi_poll", curl.MultiPoll);
  Resolve(library, "curl_multi_info_read", curl.MultiInfoRead);
  Resolve(library, "curl_multi_strerror", curl.MultiStrerror);
  Resolve(library, "curl_multi_cleanup", curl.MultiCleanup);
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

// One request on its way, where libcurl's callbacks find it.
struct Transfer {
  std::uint64_t Tag = 0;
  HttpRequest Request;
  HttpResponse Response;
  CURL* Easy = nullptr;
  char Detail[CURL_ERROR_SIZE] = {};
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::string line(data, size * count);
  HttpResponse& response = transfer.Response;
  const HttpRequest& request = transfer.Request;
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (after a 100 Continue) starts the headers afresh.
    response = HttpResponse{};
    const auto blank = line.find(' ');
    if (blank != std::string::npos)
      response.Status = std::atoi(line.c_str() + blank + 1);
  } else if (line == "\r\n" || line == "\n") {
    if (response.Status >= 200 && request.Headers && !request.Headers(response)) {
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
  if (transfer.Request.Body && !transfer.Request.Body(data, bytes)) {
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

void Configure(Transfer& transfer) {
  CURL* curl = transfer.Easy;
  const HttpRequest& request = transfer.Request;
  const auto setopt = Curl().EasySetopt;
  const long timeout = request.TimeoutSeconds;
  // libcurl keeps its own copy of every text it is given.
  const std::string range =
      request.RangeEnd ? "0-" + std::to_string(*request.RangeEnd) : std::string();
  setopt(curl, CURLOPT_PRIVATE, &transfer);
  setopt(curl, CURLOPT_URL, request.Url.c_str());
  setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  setopt(curl, CURLOPT_NOSIGNAL, 1L); // no alarm signals, no changes to SIGPIPE's handling
  setopt(curl, CURLOPT_USERAGENT, "vornel");
  setopt(curl, CURLOPT_ERRORBUFFER, transfer.Detail);
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
}

// The error of a transfer that ended with code, if it failed.
std::exception_ptr Outcome(Transfer& transfer, CURLcode code) {
  try {
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.Response.Stopped)) {
      long systemError = 0;
      Curl().EasyGetinfo(transfer.Easy, CURLINFO_OS_ERRNO, &systemError);
      throw EHttpError(
          Describe(code, transfer.Detail, systemError, transfer.Request, transfer.Response),
          IsTransient(code));
    }
    CheckHttpBodyComplete(transfer.Request, transfer.Response);
    return nullptr;
  } catch (const EHttpError&) {
    return std::current_exception();
  }
}

} // namespace

struct HttpTransfers::Impl {
  CURLM* Multi = nullptr;
  std::vector<std::unique_ptr<Transfer>> Running;
  std::vector<CURL*> Idle; // handles of ended transfers, for the next ones
  std::deque<Finished> Ended;

  void Check(CURLMcode code) const {
    if (code != CURLM_OK)
      throw EHttpError(std::string("libcurl fails: ") + Curl().MultiStrerror(code), false);
  }

  // Moves the transfers libcurl has ended to Ended.
  void Collect() {
    int queued = 0;
    while (CURLMsg* message = Curl().MultiInfoRead(Multi, &queued)) {
      if (message->msg != CURLMSG_DONE)
        continue;
      Transfer* ended = nullptr;
      Curl().EasyGetinfo(message->easy_handle, CURLINFO_PRIVATE, &ended);
      Finished finished;
      finished.Tag = ended->Tag;
      finished.Error = Outcome(*ended, message->data.result);
      finished.Response = std::move(ended->Response);
      Curl().MultiRemove(Multi, ended->Easy);
      Idle.push_back(ended->Easy);
      std::erase_if(Running, [&](const auto& transfer) { return transfer.get() == ended; });
      Ended.push_back(std::move(finished));
    }
  }
};

HttpTransfers::HttpTransfers(int connections) : impl_(std::make_unique<Impl>()) {
  impl_->Multi = Curl().MultiInit();
  if (impl_->Multi == nullptr)
    throw EHttpError("libcurl cannot start", false);
  Curl().MultiSetopt(impl_->Multi, CURLMOPT_MAX_TOTAL_CONNECTIONS,
                     static_cast<long>(std::max(1, connections)));
}

HttpTransfers::~HttpTransfers() {
  for (const auto& transfer : impl_->Running) {
    Curl().MultiRemove(impl_->Multi, transfer->Easy);
    Curl().EasyCleanup(transfer->Easy);
  }
  for (CURL* idle : impl_->Idle)
    Curl().EasyCleanup(idle);
  Curl().MultiCleanup(impl_->Multi);
}

void HttpTransfers::Start(std::uint64_t tag, HttpRequest request) {
  auto transfer = std::make_unique<Transfer>();
  transfer->Tag = tag;
  transfer->Request = std::move(request);
  if (impl_->Idle.empty()) {
    transfer->Easy = Curl().EasyInit();
    if (transfer->Easy == nullptr)
      throw EHttpError("libcurl cannot start", false);
  } else {
    transfer->Easy = impl_->Idle.back();
    impl_->Idle.pop_back();
  }
  Configure(*transfer);
  if (const CURLMcode code = Curl().MultiAdd(impl_->Multi, transfer->Easy); code != CURLM_OK) {
    impl_->Idle.push_back(transfer->Easy);
    impl_->Check(code);
  }
  impl_->Running.push_back(std::move(transfer));
}

std::optional<HttpTransfers::Finished> HttpTransfers::Next(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int active = 0;
    impl_->Check(Curl().MultiPerform(impl_->Multi, &active));
    impl_->Collect();
    if (!impl_->Ended.empty()) {
      Finished finished = std::move(impl_->Ended.front());
      impl_->Ended.pop_front();
      return finished;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (impl_->Running.empty() || left.count() <= 0)
      return std::nullopt;
    impl_->Check(
        Curl().MultiPoll(impl_->Multi, nullptr, 0, static_cast<int>(left.count()), nullptr));
  }
}

std::size_t HttpTransfers::Running() const {
  return impl_->Running.size() + impl_->Ended.size();
}

} // namespace vornel
