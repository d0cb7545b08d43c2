#pragma once

// The few URL operations the served-set check needs: reading the base the operator gives,
// composing archive URLs below it, and deciding whether a redirect stays inside it.

#include <optional>
#include <stdexcept>
#include <string>

namespace vornel {

// A URL that cannot be used, with the reason.
class EUrlError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

struct Url {
  std::string Scheme; // "http" or "https", lower case
  std::string Host;   // lower case; an IPv6 address keeps its brackets
  int Port = 0;       // the scheme's own when not given
  std::string Path;   // from the first "/", query included

  // scheme://host[:port]path, the port left out when it is the scheme's own.
  std::string Text() const;
};

// Reads an absolute http:// or https:// URL. Raises EUrlError naming what is wrong: no scheme,
// another scheme, no host, a bad port, user names or passwords, a fragment.
Url ParseUrl(const std::string& text);

// The base under which an upload folder's contents are served: a path ending in "/", without a
// query. Raises EUrlError as ParseUrl does.
Url ParseBaseUrl(const std::string& text);

// The URL of a file below the base: each byte of the "/"-separated relative path that is not
// unreserved is percent-encoded.
std::string UrlBelow(const Url& base, const std::string& relativePath);

// Where a redirect's Location leads from the URL that gave it (a relative reference resolved,
// dot segments removed); nothing when it cannot be read.
std::optional<Url> ResolveRedirect(const Url& from, const std::string& location);

// True when url lies below base: the same scheme, host and port, and a path that starts with the
// base's and holds no encoded dot, slash or backslash that a server might decode into another
// folder.
bool IsInside(const Url& base, const Url& url);

} // namespace vornel
