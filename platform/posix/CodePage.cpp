#include "platform/CodePage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <iconv.h>
#include <stdexcept>

namespace vornel {

namespace {

// File names on POSIX systems are taken as UTF-8, the encoding of every current desktop.
constexpr const char* FileSystemEncoding = "UTF-8";

std::string IconvName(CodePage page) {
  return page.IsUtf8() ? std::string("UTF-8") : "CP" + std::to_string(page.Number);
}

class Iconv {
public:
  Iconv(const std::string& to, const std::string& from)
      : handle_(::iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (Valid())
      ::iconv_close(handle_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // The whole text converted, or nothing at the first byte sequence that has no counterpart.
  std::optional<std::string> Convert(std::string_view text) const {
    ::iconv(handle_, nullptr, nullptr, nullptr, nullptr); // back to the initial shift state
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data()); // iconv's signature; the input is not written
    std::size_t inLeft = text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
      if (::iconv(handle_, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
        continue;
      if (errno != E2BIG)
        return std::nullopt; // EILSEQ or EINVAL: no counterpart, or a cut-off sequence
      const std::size_t used = out.size() - outLeft;
      out.resize(out.size() * 2);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
    }
    if (::iconv(handle_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
      return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
  }

private:
  iconv_t handle_;
};

bool Convertible(CodePage page) {
  return Iconv(IconvName(page), FileSystemEncoding).Valid() &&
         Iconv(FileSystemEncoding, IconvName(page)).Valid();
}

} // namespace

struct NameConverter::Converters {
  Converters(CodePage page)
      : ToTarget(IconvName(page), FileSystemEncoding),
        ToFileSystem(FileSystemEncoding, IconvName(page)) {}
  Iconv ToTarget;
  Iconv ToFileSystem;
};

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
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "utf-8" || lower == "utf8")
    return CodePage{CodePage::Utf8Number};
  std::string_view digits = lower;
  if (digits.starts_with("cp"))
    digits.remove_prefix(2);
  int number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      number <= 0 || number > 65535)
    return std::nullopt;
  const CodePage page{number};
  if (!Convertible(page))
    return std::nullopt;
  return page;
}

CodePage PlatformCodePage() {
  return CodePage{};
}

NameConverter::NameConverter(CodePage target) : target_(target) {
  if (!target.IsSet())
    throw std::invalid_argument("No code page was chosen");
  converters_ = std::make_unique<Converters>(target);
  if (!converters_->ToTarget.Valid() || !converters_->ToFileSystem.Valid())
    throw std::invalid_argument("Code page " + target.Name() + " is not supported here");
}

NameConverter::~NameConverter() = default;

std::optional<std::string> NameConverter::ToTarget(std::string_view fileSystemName) const {
  auto converted = converters_->ToTarget.Convert(fileSystemName);
  if (!converted)
    return std::nullopt;
  const auto back = converters_->ToFileSystem.Convert(*converted);
  if (!back || *back != fileSystemName)
    return std::nullopt;
  return converted;
}

std::optional<std::string> NameConverter::ToFileSystem(std::string_view targetName) const {
  return converters_->ToFileSystem.Convert(targetName);
}

bool IsPlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsValidUtf8(std::string_view text) {
  if (IsPlainAscii(text))
    return true;
  static thread_local const Iconv check("UTF-8", "UTF-8");
  return check.Valid() && check.Convert(text).has_value();
}

} // namespace vornel
