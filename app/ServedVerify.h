#pragma once

// Checks the copy of an update set that players download: updates.lst read from a web server and
// every archive it lists looked up there (present, of the listed size) or, deeply, downloaded
// and checked as the client would, never written to disk. Requests never leave the base URL.

#include "app/Verify.h"
#include "platform/CodePage.h"

#include <string>

namespace vornel {

struct ServedVerifyOptions {
  // The base under which the upload folder's contents are served.
  std::string Url{};
  // Download every archive and check its content, not only its size.
  bool Deep = false;
  // Requests at once, each over a connection of its own.
  int Connections = 8;
  // The longest wait to connect, and the longest silence of a server while it answers.
  int TimeoutSeconds = 30;
  // Tries of a request that failed in a way that may pass (a time-out, a cut connection, 5xx).
  int Attempts = 3;
  // An upload folder to compare the served set with; empty: none. Its manifest then gives the
  // archives to look for, so one the server does not have yet is named.
  std::string LocalUpload{};
  // The code page of the manifest's names (see VerifyOptions).
  CodePage Names{};
};

// Raises EUrlError for a URL that cannot be used; everything the server does is a problem of the
// result. Warnings name what may be meant (a host other than the manifest's Server= value).
VerifyResult VerifyServedSet(const ServedVerifyOptions& options,
                             const VerifyProgress& progress = {});

} // namespace vornel
