#include "platform/CodePage.h"

#include <cerrno>
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

} // namespace

struct NameConverter::Converters {
  Converters(CodePage page)
      : ToTarget(IconvName(page), FileSystemEncoding),
        ToFileSystem(FileSystemEncoding, IconvName(page)) {}
  Iconv ToTarget;
  Iconv ToFileSystem;
};

bool IsConvertibleCodePage(int number) {
  const CodePage page{number};
  return Iconv(IconvName(page), FileSystemEncoding).Valid() &&
         Iconv(FileSystemEncoding, IconvName(page)).Valid();
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

bool IsValidUtf8(std::string_view text) {
  if (IsPlainAscii(text))
    return true;
  static thread_local const Iconv check("UTF-8", "UTF-8");
  return check.Valid() && check.Convert(text).has_value();
}

std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  const Iconv converter("UTF-8", bigEndian ? "UTF-16BE" : "UTF-16LE");
  if (!converter.Valid() || bytes.size() % 2 != 0)
    return std::nullopt;
  return converter.Convert(bytes);
}

} // namespace vornel
