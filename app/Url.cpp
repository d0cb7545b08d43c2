#include "app/Url.h"

#include "platform/TextCompare.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace vornel {

namespace {

int DefaultPort(const std::string& scheme) {
  return scheme == "https" ? 443 : 80;
}

bool Unreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

// Removes "." and ".." segments from an absolute path (query kept apart).
std::string RemoveDotSegments(const std::string& path) {
  const auto query = path.find('?');
  const std::string plain = path.substr(0, query);
  std::vector<std::string> kept;
  std::size_t start = 1;
  bool endsInFolder = false;
  while (start <= plain.size()) {
    const std::size_t end = std::min(plain.find('/', start), plain.size());
    const std::string segment = plain.substr(start, end - start);
    endsInFolder = segment == "." || segment == "..";
    if (segment == "..") {
      if (!kept.empty())
        kept.pop_back();
    } else if (segment != ".") {
      kept.push_back(segment);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& segment : kept)
    result += "/" + segment;
  if (result.empty() || endsInFolder)
    result += "/";
  return result + (query == std::string::npos ? "" : path.substr(query));
}

} // namespace

std::string Url::Text() const {
  std::string text = Scheme + "://" + Host;
  if (Port != DefaultPort(Scheme))
    text += ":" + std::to_string(Port);
  return text + Path;
}

Url ParseUrl(const std::string& text) {
  const auto schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0)
    throw EUrlError("\"" + text + "\" has no scheme: give http://... or https://...");
  Url url;
  url.Scheme = AsciiLower(text.substr(0, schemeEnd));
  if (url.Scheme != "http" && url.Scheme != "https")
    throw EUrlError("\"" + text + "\": the scheme \"" + url.Scheme +
                    "\" is not supported, only http and https");
  if (text.find_first_of(" \t\r\n") != std::string::npos)
    throw EUrlError("\"" + text + "\" holds blanks or line ends");
  if (text.find('#') != std::string::npos)
    throw EUrlError("\"" + text + "\" holds a fragment (#)");
  const std::size_t authorityStart = schemeEnd + 3;
  const std::size_t pathStart = std::min(text.find_first_of("/?", authorityStart), text.size());
  const std::string authority = text.substr(authorityStart, pathStart - authorityStart);
  if (authority.find('@') != std::string::npos)
    throw EUrlError("\"" + text + "\" holds a user name or password, which are not supported");
  std::string host = authority;
  const std::size_t bracket = authority.rfind(']');
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }) ||
        std::stoi(port) < 1 || std::stoi(port) > 65535)
      throw EUrlError("\"" + text + "\": \"" + port + "\" is no port number");
    url.Port = std::stoi(port);
  } else {
    url.Port = DefaultPort(url.Scheme);
  }
  if (host.empty())
    throw EUrlError("\"" + text + "\" names no host");
  url.Host = AsciiLower(host);
  url.Path = text.substr(pathStart);
  if (url.Path.empty() || url.Path[0] == '?')
    url.Path = "/" + url.Path;
  return url;
}

Url ParseBaseUrl(const std::string& text) {
  Url base = ParseUrl(text);
  if (base.Path.find('?') != std::string::npos)
    throw EUrlError("\"" + text + "\" holds a query (?); give the folder the set is served from");
  base.Path = RemoveDotSegments(base.Path);
  if (base.Path.back() != '/')
    base.Path += '/';
  return base;
}

std::string UrlBelow(const Url& base, const std::string& relativePath) {
  static const char* const hex = "0123456789ABCDEF";
  std::string path = base.Path;
  for (const char c : relativePath) {
    const auto byte = static_cast<unsigned char>(c);
    if (Unreserved(byte) || c == '/')
      path += c;
    else
      path.append({'%', hex[byte >> 4], hex[byte & 15]});
  }
  Url url = base;
  url.Path = path;
  return url.Text();
}

std::optional<Url> ResolveRedirect(const Url& from, const std::string& location) {
  try {
    if (location.empty())
      return std::nullopt;
    if (location.find("://") != std::string::npos &&
        location.find("://") < location.find_first_of("/?"))
      return ParseUrl(location);
    Url url = from;
    if (location.rfind("//", 0) == 0)
      return ParseUrl(from.Scheme + ":" + location);
    if (location.find_first_of(" \t\r\n#") != std::string::npos)
      return std::nullopt;
    if (location[0] == '/') {
      url.Path = location;
    } else {
      const std::string folder = from.Path.substr(0, from.Path.find('?'));
      url.Path = folder.substr(0, folder.rfind('/') + 1) + location;
    }
    url.Path = RemoveDotSegments(url.Path);
    return url;
  } catch (const EUrlError&) {
    return std::nullopt;
  }
}

bool IsInside(const Url& base, const Url& url) {
  if (url.Scheme != base.Scheme || url.Host != base.Host || url.Port != base.Port ||
      url.Path.rfind(base.Path, 0) != 0)
    return false;
  const std::string lower = AsciiLower(url.Path);
  for (const char* encoded : {"%2e", "%2f", "%5c", "\\"}) {
    if (lower.find(encoded) != std::string::npos)
      return false;
  }
  return RemoveDotSegments(url.Path) == url.Path;
}

} // namespace vornel
