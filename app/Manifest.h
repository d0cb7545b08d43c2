#pragma once

// updates.lst: the list the client updater reads. Lines end in CR LF. The file stays open for the
// build, which writes it where no client reads it until the build is whole: the sections before
// the file lines go out at once, the file lines in blocks of 64 KiB (one write per line cost a
// system call per file), and Finish writes the rest.

#include <cstdint>
#include <memory>
#include <string>

namespace vornel {

class RawFile;

inline constexpr const char* ManifestLineEnd = "\r\n";

// "IAM=" name "|" crc "|" size (no line end).
std::string FormatSelfLine(const std::string& name, std::uint32_t crc, std::int32_t size);
// "F" number "=" path "|" crc "|" size "|n" (no line end); path uses "\" separators.
std::string FormatFileLine(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                           std::int32_t size);

class ManifestWriter {
public:
  explicit ManifestWriter(std::string path);
  ~ManifestWriter();
  ManifestWriter(const ManifestWriter&) = delete;
  ManifestWriter& operator=(const ManifestWriter&) = delete;

  // Creates the file (replacing an old one) holding "[self]".
  void Start();
  // Without Start, the first step opens an existing manifest to append to; a missing one is an
  // error, not a fresh file.
  void AppendSelf(const std::string& name, std::uint32_t crc, std::int32_t size);
  // "[misc]", "Server=", "ModifyHost=", "[files]" and "fcount=".
  void AppendMisc(const std::string& server, const std::string& modHost, std::int32_t fcount);
  void AppendFile(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                  std::int32_t size);
  // Closes the file, raising what only the closing reveals, and raises when the path no longer
  // holds what was written (the manifest was moved away or replaced while the build ran).
  void Finish();

  const std::string& Path() const { return path_; }

private:
  // Appends the text; a failed write is cut off again, so no partial line stays behind.
  void Append(const std::string& text);
  void WritePending();

  std::string path_;
  std::string pending_; // file lines not written yet
  std::unique_ptr<RawFile> file_;
  std::int64_t size_ = 0; // bytes in the file
};

} // namespace vornel
