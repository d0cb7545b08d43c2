#pragma once

// The 8-bit code page in which the Windows client reads names, and conversion of file-system
// names into it and back. The conversion itself is the operating system's (iconv on POSIX).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vornel {

// A Windows code page number (1252, 932, ...) or UTF-8. Number 0 means none is chosen.
struct CodePage {
  static constexpr int Utf8Number = 65001;
  int Number = 0;

  bool IsSet() const { return Number != 0; }
  bool IsUtf8() const { return Number == Utf8Number; }
  // "1252", "utf-8", or "none".
  std::string Name() const;
  bool operator==(const CodePage&) const = default;
};

// Reads "1251", "cp1251", "utf-8", "utf8" or "65001" (any letter case, blanks around ignored).
// Nothing when the text is no code page this system can convert to.
std::optional<CodePage> ParseCodePage(std::string_view text);

// True when names can be converted to and from the code page with this number here (65001 is
// UTF-8). Each system answers with its own converter.
bool IsConvertibleCodePage(int number);

// The code page the client uses when nothing else is chosen: the system's ANSI code page where
// that is the client's own system, none elsewhere.
CodePage PlatformCodePage();

// Converts names between the file system's encoding and one code page. Not thread-safe: each
// thread needs its own.
class NameConverter {
public:
  // Raises std::invalid_argument when the code page cannot be converted to.
  explicit NameConverter(CodePage target);
  ~NameConverter();
  NameConverter(const NameConverter&) = delete;
  NameConverter& operator=(const NameConverter&) = delete;

  CodePage Target() const { return target_; }
  // The name in the target code page; nothing when some character has no place in it (or the
  // name is no valid text in the file system's encoding). A name must convert back to exactly
  // itself, so a best-fit substitution never passes.
  std::optional<std::string> ToTarget(std::string_view fileSystemName) const;
  // The name in the file system's encoding; nothing when the bytes are no text of the code page.
  std::optional<std::string> ToFileSystem(std::string_view targetName) const;

private:
  struct Converters;
  CodePage target_;
  std::unique_ptr<Converters> converters_;
};

// UTF-16 text (little- or big-endian, no byte-order mark) as UTF-8; nothing when it is no valid
// UTF-16.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool bigEndian);

// True when every byte is below 128.
bool IsPlainAscii(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

} // namespace vornel
