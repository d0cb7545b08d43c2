#include "platform/TextCompare.h"

#include <cstdint>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <vector>
#include <wctype.h>

namespace vornel {

namespace {

// The user's character classification, without touching the process-wide locale. A user
// locale that is not UTF-8 (typically "C" or POSIX) folds only ASCII, so C.UTF-8 stands in for
// it and non-ASCII letters still fold.
locale_t FoldingLocale() {
  static const locale_t chosen = [] {
    locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (user != nullptr) {
      const char* codeset = ::nl_langinfo_l(CODESET, user);
      if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0)
        return user;
    }
    locale_t fallback = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (fallback != nullptr) {
      if (user != nullptr)
        ::freelocale(user);
      return fallback;
    }
    return user; // may be null: then the global locale is used
  }();
  return chosen;
}

// Strict UTF-8 decoding: no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<std::vector<char32_t>> DecodeUtf8(const std::string& text) {
  std::vector<char32_t> points;
  points.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      points.push_back(lead);
      ++i;
      continue;
    }
    std::size_t length;
    char32_t point;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, point = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, point = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, point = lead & 0x07, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (text.size() - i < length)
      return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80)
        return std::nullopt;
      point = point << 6 | (next & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
      return std::nullopt;
    points.push_back(point);
    i += length;
  }
  return points;
}

bool SameLetter(char32_t a, char32_t b, locale_t locale) {
  if (a == b)
    return true;
  const auto wa = static_cast<wint_t>(a);
  const auto wb = static_cast<wint_t>(b);
  if (locale == nullptr)
    return ::towupper(wa) == ::towupper(wb) || ::towlower(wa) == ::towlower(wb);
  return ::towupper_l(wa, locale) == ::towupper_l(wb, locale) ||
         ::towlower_l(wa, locale) == ::towlower_l(wb, locale);
}

} // namespace

bool SameTextIgnoreCase(const std::string& a, const std::string& b) {
  if (a == b)
    return true;
  const auto pointsA = DecodeUtf8(a);
  const auto pointsB = pointsA ? DecodeUtf8(b) : std::nullopt;
  if (!pointsA || !pointsB)
    return SameAsciiText(a, b);
  if (pointsA->size() != pointsB->size())
    return false;
  const locale_t locale = FoldingLocale();
  for (std::size_t i = 0; i < pointsA->size(); ++i) {
    if (!SameLetter((*pointsA)[i], (*pointsB)[i], locale))
      return false;
  }
  return true;
}

std::optional<std::u32string> LocaleUpperCaseKey(const std::string& name) {
  std::u32string key;
  if (const auto points = DecodeUtf8(name)) {
    const locale_t locale = FoldingLocale();
    key.reserve(points->size());
    for (const char32_t point : *points) {
      const auto wide = static_cast<wint_t>(point);
      key.push_back(
          static_cast<char32_t>(locale == nullptr ? ::towupper(wide) : ::towupper_l(wide, locale)));
    }
    return key;
  }
  return std::nullopt;
}

} // namespace vornel
