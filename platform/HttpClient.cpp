#include "platform/HttpClient.h"

#include "platform/TextCompare.h"

#include <algorithm>
#include <cctype>

namespace vornel {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A plain decimal, as lengths are sent; nothing for anything else (a sign, blanks, 20 digits).
std::optional<std::int64_t> Decimal(const std::string& text) {
  if (text.empty() || text.size() > 18 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return std::nullopt;
  return std::stoll(text);
}

} // namespace

void TakeHttpHeader(const std::string& line, HttpResponse& response) {
  const auto colon = line.find(':');
  if (colon == std::string::npos)
    return;
  const std::string name = AsciiLower(Trim(line.substr(0, colon)));
  const std::string value = Trim(line.substr(colon + 1));
  if (name == "content-length")
    response.ContentLength = Decimal(value);
  else if (name == "content-type")
    response.ContentType = value;
  else if (name == "location")
    response.Location = value;
  else if (name == "content-range") {
    const auto slash = value.rfind('/');
    if (slash != std::string::npos)
      response.RangeTotal = Decimal(value.substr(slash + 1));
  }
}

void CheckHttpBodyComplete(const HttpRequest& request, const HttpResponse& response) {
  if (request.Head || response.Stopped || !response.ContentLength ||
      response.Received >= *response.ContentLength || response.Status == 204 ||
      response.Status == 304)
    return;
  throw EHttpError("the connection closed after " + std::to_string(response.Received) + " of " +
                       std::to_string(*response.ContentLength) + " bytes",
                   true);
}

} // namespace vornel
