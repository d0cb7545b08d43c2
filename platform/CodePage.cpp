#include "platform/CodePage.h"

#include "platform/TextCompare.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vornel {

std::string CodePage::Name() const {
  if (!IsSet())
    return "none";
  return IsUtf8() ? "utf-8" : std::to_string(Number);
}

std::optional<CodePage> ParseCodePage(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  const std::string lower = AsciiLower(text);
  if (lower == "utf-8" || lower == "utf8")
    return CodePage{CodePage::Utf8Number};
  std::string_view digits = lower;
  if (digits.starts_with("cp"))
    digits.remove_prefix(2);
  int number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      number <= 0 || number > 65535 || !IsConvertibleCodePage(number))
    return std::nullopt;
  return CodePage{number};
}

bool IsPlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace vornel
