#include "app/NameRules.h"

#include "platform/TextCompare.h"

#include <array>
#include <cstdio>

namespace vornel {

namespace {

constexpr std::string_view ForbiddenCharacters = "<>:\"/\\|?*";

// Windows opens the device instead of a file for these, whatever extension follows.
bool IsReservedDeviceName(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find('.'));
  for (const std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
    if (SameAsciiText(stem, device))
      return true;
  }
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
    return SameAsciiText(stem.substr(0, 3), "COM") || SameAsciiText(stem.substr(0, 3), "LPT");
  return false;
}

} // namespace

std::optional<std::string> ClientNameProblem(std::string_view name) {
  std::string forbidden;
  bool control = false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 32)
      control = true;
    else if (ForbiddenCharacters.find(c) != std::string_view::npos &&
             forbidden.find(c) == std::string::npos)
      forbidden += c;
  }
  if (!forbidden.empty())
    return "the name holds " + forbidden + ", which Windows does not allow in names";
  if (control)
    return "the name holds a control character, which Windows does not allow in names";
  if (!name.empty() && (name.back() == '.' || name.back() == ' '))
    return "the name ends in a dot or a blank, which Windows drops";
  if (IsReservedDeviceName(name))
    return "the name is reserved for a device on Windows";
  return std::nullopt;
}

std::string PrintableName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte != 127) {
      shown += c;
      continue;
    }
    std::array<char, 5> escaped{};
    std::snprintf(escaped.data(), escaped.size(), "\\x%02X", byte);
    shown += escaped.data();
  }
  return shown;
}

int InstallFolderRoom(std::size_t clientPathLength, bool folder) {
  constexpr std::size_t longestPath = 259;
  constexpr std::size_t longestFolder = longestPath - 12;
  const std::size_t limit = folder ? longestFolder : longestPath;
  // The install folder, its "\", then the client path.
  if (clientPathLength + 1 >= limit)
    return -1;
  return static_cast<int>(limit - 1 - clientPathLength);
}

} // namespace vornel
