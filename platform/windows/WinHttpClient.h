#pragma once

// One request at a time over one kept-alive connection, with WinHTTP's blocking calls; the
// threads of HttpTransfers each send with one.

#include "platform/HttpClient.h"

#include <memory>

namespace vornel {

class HttpClient {
public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Raises EHttpError; a body shorter than the declared length is one.
  HttpResponse Send(const HttpRequest& request);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace vornel
