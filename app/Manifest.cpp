#include "app/Manifest.h"

#include "platform/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel {

namespace {

// One opening of the manifest: writes are checked, and close reports late write errors.
class TextFile {
public:
  TextFile(const std::string& path, int flags)
      : path_(path), fd_(::open(path.c_str(), flags | O_CLOEXEC, 0666)) {
    if (fd_ < 0)
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Open);
  }
  ~TextFile() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  off_t Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Inspect);
    return info.st_size;
  }

  void Write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
      if (wrote < 0 && errno == EINTR)
        continue;
      if (wrote < 0)
        RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
      if (wrote == 0)
        RaiseIoError(io_error::DiskFull, path_, IoOperation::Write);
      done += static_cast<std::size_t>(wrote);
    }
  }

  void CutTo(off_t size) noexcept { (void)::ftruncate(fd_, size); }

  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
      RaiseIoErrorFromErrno(errno, path_, IoOperation::Write);
  }

private:
  std::string path_;
  int fd_;
};

} // namespace

std::string FormatSelfLine(const std::string& name, std::uint32_t crc, std::int32_t size) {
  return "IAM=" + name + "|" + std::to_string(crc) + "|" + std::to_string(size);
}

std::string FormatFileLine(std::int32_t number, const std::string& manifestPath, std::uint32_t crc,
                           std::int32_t size) {
  // Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) about "F" + std::to_string().
  std::string line = "F";
  line += std::to_string(number);
  line += "=" + manifestPath + "|" + std::to_string(crc) + "|" + std::to_string(size) + "|n";
  return line;
}

void ManifestWriter::Start() {
  TextFile file(path_, O_WRONLY | O_CREAT | O_TRUNC);
  try {
    file.Write(std::string("[self]") + ManifestLineEnd);
  } catch (...) {
    file.CutTo(0);
    throw;
  }
  file.Close();
}

void ManifestWriter::AppendSelf(const std::string& name, std::uint32_t crc, std::int32_t size) {
  Append(FormatSelfLine(name, crc, size) + ManifestLineEnd);
}

void ManifestWriter::AppendMisc(const std::string& server, const std::string& modHost,
                                std::int32_t fcount) {
  std::string text;
  for (const std::string& line :
       {std::string("[misc]"), "Server=" + server, "ModifyHost=" + modHost, std::string("[files]"),
        "fcount=" + std::to_string(fcount)}) {
    text += line;
    text += ManifestLineEnd;
  }
  Append(text);
}

void ManifestWriter::AppendFile(std::int32_t number, const std::string& manifestPath,
                                std::uint32_t crc, std::int32_t size) {
  Append(FormatFileLine(number, manifestPath, crc, size) + ManifestLineEnd);
}

void ManifestWriter::Append(const std::string& text) {
  // Opened without creating: a manifest that vanished mid-build is an error, not a fresh file.
  TextFile file(path_, O_WRONLY | O_APPEND);
  const off_t before = file.Size();
  try {
    file.Write(text);
  } catch (...) {
    file.CutTo(before);
    throw;
  }
  file.Close();
}

} // namespace vornel
