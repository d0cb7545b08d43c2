#pragma once

// updates.lst: the list the client updater reads. Lines end in CR LF; the file is written in
// steps, each closing the file again, so that whatever was packed before a failure is recorded.

#include <cstdint>
#include <string>

namespace vornel {

inline constexpr const char* ManifestLineEnd = "\r\n";

// "IAM=" name "|" crc "|" size (no line end).
std::string FormatSelfLine(const std::string& name, std::uint32_t crc, std::int32_t size);
// "F" number "=" path "|" crc "|" size "|n" (no line end); path uses "\" separators.
std::string FormatFileLine(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                           std::int32_t size);

class ManifestWriter {
public:
  explicit ManifestWriter(std::string path) : path_(std::move(path)) {}

  // Creates the file (replacing an old one) holding "[self]".
  void Start();
  void AppendSelf(const std::string& name, std::uint32_t crc, std::int32_t size);
  // "[misc]", "Server=", "ModifyHost=", "[files]" and "fcount=".
  void AppendMisc(const std::string& server, const std::string& modHost, std::int32_t fcount);
  void AppendFile(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                  std::int32_t size);

  const std::string& Path() const { return path_; }

private:
  // Appends the text; a failed write is cut off again, so no partial line stays behind.
  void Append(const std::string& text);

  std::string path_;
};

} // namespace vornel
