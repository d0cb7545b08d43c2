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

} // namespace vornel
