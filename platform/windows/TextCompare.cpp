#include "platform/TextCompare.h"

#include "platform/windows/WinSupport.h"

#include <optional>

namespace vornel {

namespace {

// Strict: text that is not valid UTF-8 yields nothing.
std::optional<std::wstring> StrictWiden(const std::string& utf8) {
  if (utf8.empty())
    return std::wstring();
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0)
    return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), length);
  return wide;
}

} // namespace

bool SameTextIgnoreCase(const std::string& a, const std::string& b) {
  if (a == b)
    return true;
  const auto wideA = StrictWiden(a);
  const auto wideB = wideA ? StrictWiden(b) : std::nullopt;
  if (!wideA || !wideB)
    return SameAsciiText(a, b);
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wideA->data(),
                          static_cast<int>(wideA->size()), wideB->data(),
                          static_cast<int>(wideB->size())) == CSTR_EQUAL;
}

std::optional<std::u32string> LocaleUpperCaseKey(const std::string& name) {
  std::u32string key;
  if (auto wide = StrictWiden(name)) {
    // Upper case as the file system folds names, so names it would take as one are one here.
    if (!wide->empty())
      ::CharUpperBuffW(wide->data(), static_cast<DWORD>(wide->size()));
    key.reserve(wide->size());
    for (std::size_t i = 0; i < wide->size(); ++i) {
      const char32_t unit = (*wide)[i];
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide->size()) {
        const char32_t low = (*wide)[i + 1];
        if (low >= 0xDC00 && low <= 0xDFFF) {
          key.push_back(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          ++i;
          continue;
        }
      }
      key.push_back(unit);
    }
    return key;
  }
  return std::nullopt;
}

} // namespace vornel
