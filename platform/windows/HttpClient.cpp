#include "platform/windows/WinHttpClient.h"

#include "platform/windows/WinSupport.h"

#include <winhttp.h>

#include <vector>

namespace vornel {

namespace {

// A WinHTTP handle, closed on every way out.
class Handle {
public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr)
      WinHttpCloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void Reset(HINTERNET handle) {
    if (handle_ != nullptr)
      WinHttpCloseHandle(handle_);
    handle_ = handle;
  }
  HINTERNET Get() const { return handle_; }

private:
  HINTERNET handle_;
};

// Wine's WinHTTP passes on the sockets' own codes where Windows gives its own.
DWORD AsWinHttpError(DWORD error) {
  switch (error) {
  case WSAETIMEDOUT:
    return ERROR_WINHTTP_TIMEOUT;
  case WSAECONNREFUSED:
    return ERROR_WINHTTP_CANNOT_CONNECT;
  case WSAECONNRESET:
  case WSAECONNABORTED:
    return ERROR_WINHTTP_CONNECTION_ERROR;
  default:
    return error;
  }
}

bool IsTransient(DWORD error) {
  return error == ERROR_WINHTTP_TIMEOUT || error == ERROR_WINHTTP_CONNECTION_ERROR ||
         error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
}

[[noreturn]] void Fail(DWORD code, const HttpRequest& request) {
  const DWORD error = AsWinHttpError(code);
  std::string text;
  switch (error) {
  case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    text = "the host does not resolve";
    break;
  case ERROR_WINHTTP_CANNOT_CONNECT:
    text = "cannot connect (refused)";
    break;
  case ERROR_WINHTTP_TIMEOUT:
    text = "no answer within " + std::to_string(request.TimeoutSeconds) + " s";
    break;
  case ERROR_WINHTTP_SECURE_FAILURE:
    text = "the server's certificate is not trusted";
    break;
  case ERROR_WINHTTP_CONNECTION_ERROR:
    text = "the connection was reset";
    break;
  case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
  case ERROR_WINHTTP_INVALID_URL:
    text = "the URL cannot be used";
    break;
  default:
    text = win::ErrorText(error);
    if (text.empty())
      text = "WinHTTP error " + std::to_string(error);
  }
  throw EHttpError(text, IsTransient(error));
}

void Check(BOOL done, const HttpRequest& request) {
  if (!done)
    Fail(GetLastError(), request);
}

} // namespace

struct HttpClient::Impl {
  Handle Session;
  // The last host's connection handle (WinHTTP keeps its sockets alive beneath it).
  Handle Connection;
  std::wstring Host;
  INTERNET_PORT Port = 0;
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
  impl_->Session.Reset(WinHttpOpen(L"vornel", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (impl_->Session.Get() == nullptr)
    throw EHttpError("WinHTTP cannot start: " + win::ErrorText(GetLastError()), false);
}

HttpClient::~HttpClient() = default;

HttpResponse HttpClient::Send(const HttpRequest& request) {
  const std::wstring url = win::Widen(request.Url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  Check(WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts), request);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  if (impl_->Connection.Get() == nullptr || host != impl_->Host || parts.nPort != impl_->Port) {
    impl_->Connection.Reset(WinHttpConnect(impl_->Session.Get(), host.c_str(), parts.nPort, 0));
    Check(impl_->Connection.Get() != nullptr, request);
    impl_->Host = host;
    impl_->Port = parts.nPort;
  }
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Handle exchange(WinHttpOpenRequest(impl_->Connection.Get(), request.Head ? L"HEAD" : L"GET",
                                     path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
  Check(exchange.Get() != nullptr, request);
  const int timeout = request.TimeoutSeconds * 1000;
  Check(WinHttpSetTimeouts(exchange.Get(), timeout, timeout, timeout, timeout), request);
  // The wait for the answer's headers has a time-out of its own (90 s on Windows, none under
  // wine); a server that holds the request must end it as one that stops sending does.
  DWORD answerTimeout = static_cast<DWORD>(timeout);
  Check(WinHttpSetOption(exchange.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answerTimeout,
                         sizeof answerTimeout),
        request);
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  Check(WinHttpSetOption(exchange.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                         sizeof noRedirects),
        request);
  std::wstring headers;
  if (request.RangeEnd)
    headers = L"Range: bytes=0-" + std::to_wstring(*request.RangeEnd) + L"\r\n";
  Check(WinHttpSendRequest(exchange.Get(),
                           headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                           static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0),
        request);
  Check(WinHttpReceiveResponse(exchange.Get(), nullptr), request);

  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  Check(WinHttpQueryHeaders(exchange.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX),
        request);
  response.Status = static_cast<int>(status);
  size = 0;
  WinHttpQueryHeaders(exchange.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
  if (size > 0 && WinHttpQueryHeaders(exchange.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF,
                                      WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &size,
                                      WINHTTP_NO_HEADER_INDEX)) {
    const std::string text = win::Narrow(raw.substr(0, size / sizeof(wchar_t)));
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find("\r\n", start), text.size());
      TakeHttpHeader(text.substr(start, end - start), response);
      start = end + 2;
    }
  }

  // A body left unread keeps its socket from serving another request; WinHTTP closes it with the
  // request's handle.
  if (request.Headers && !request.Headers(response)) {
    response.Stopped = true;
  } else if (!request.Head) {
    std::vector<char> block(64 * 1024);
    for (;;) {
      DWORD got = 0;
      Check(WinHttpReadData(exchange.Get(), block.data(), static_cast<DWORD>(block.size()), &got),
            request);
      if (got == 0)
        break;
      response.Received += got;
      if (request.Body && !request.Body(block.data(), got)) {
        response.Stopped = true;
        break;
      }
    }
  }
  CheckHttpBodyComplete(request, response);
  return response;
}

} // namespace vornel
