#include "platform/TextCompare.h"

#include <utility>

namespace vornel {

namespace {

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::u32string CaseFoldKey(const std::string& name) {
  if (auto key = LocaleUpperCaseKey(name))
    return std::move(*key);
  // Bytes that are no UTF-8 are kept apart from every character (above U+10FFFF).
  std::u32string key;
  key.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(AsciiUpper(c));
    key.push_back(byte < 0x80 ? char32_t{byte} : char32_t{0x110000} + byte);
  }
  return key;
}

bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
      return false;
  }
  return true;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

} // namespace vornel
