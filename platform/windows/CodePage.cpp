#include "platform/CodePage.h"

#include <stdexcept>

#include <windows.h>

namespace vornel {

namespace {

// Paths inside the program are UTF-8; the client's code page is converted through UTF-16.
std::optional<std::wstring> Widen(std::string_view text, UINT page) {
  if (text.empty())
    return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0)
    return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

// No best-fit substitutes and no default character: a character the page lacks fails.
std::optional<std::string> Narrow(const std::wstring& wide, UINT page) {
  if (wide.empty())
    return std::string();
  const int size = static_cast<int>(wide.size());
  const bool utf8 = page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const int length = WideCharToMultiByte(page, flags, wide.data(), size, nullptr, 0, nullptr, used);
  if (length <= 0 || usedDefault)
    return std::nullopt;
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(page, flags, wide.data(), size, narrow.data(), length, nullptr, used);
  return narrow;
}

std::optional<std::string> Convert(std::string_view text, UINT from, UINT to) {
  const auto wide = Widen(text, from);
  if (!wide)
    return std::nullopt;
  return Narrow(*wide, to);
}

UINT PageOf(CodePage page) {
  return page.IsUtf8() ? CP_UTF8 : static_cast<UINT>(page.Number);
}

} // namespace

struct NameConverter::Converters {
  UINT Page;
};

bool IsConvertibleCodePage(int number) {
  return number > 0 && IsValidCodePage(PageOf(CodePage{number}));
}

CodePage PlatformCodePage() {
  const UINT page = GetACP();
  return CodePage{page == CP_UTF8 ? CodePage::Utf8Number : static_cast<int>(page)};
}

NameConverter::NameConverter(CodePage target) : target_(target) {
  if (!target.IsSet())
    throw std::invalid_argument("No code page was chosen");
  if (!IsValidCodePage(PageOf(target)))
    throw std::invalid_argument("Code page " + target.Name() + " is not supported here");
  converters_ = std::make_unique<Converters>(Converters{PageOf(target)});
}

NameConverter::~NameConverter() = default;

std::optional<std::string> NameConverter::ToTarget(std::string_view fileSystemName) const {
  auto converted = Convert(fileSystemName, CP_UTF8, converters_->Page);
  if (!converted)
    return std::nullopt;
  const auto back = Convert(*converted, converters_->Page, CP_UTF8);
  if (!back || *back != fileSystemName)
    return std::nullopt;
  return converted;
}

std::optional<std::string> NameConverter::ToFileSystem(std::string_view targetName) const {
  return Convert(targetName, converters_->Page, CP_UTF8);
}

bool IsValidUtf8(std::string_view text) {
  return IsPlainAscii(text) || Widen(text, CP_UTF8).has_value();
}

std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0)
    return std::nullopt;
  std::wstring wide(bytes.size() / 2, L'\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    wide[i] = static_cast<wchar_t>(bigEndian ? (first << 8 | second) : (second << 8 | first));
  }
  if (wide.empty())
    return std::string();
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0)
    return std::nullopt;
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, text.data(), length,
                      nullptr, nullptr);
  return text;
}

} // namespace vornel
