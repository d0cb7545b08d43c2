#include "zip/EntryReader.h"

#include "crc/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>

namespace vornel {

struct EntryReader::Zlib {
  z_stream Z{};
  Zlib() {
    if (inflateInit2(&Z, -MAX_WBITS) != Z_OK)
      throw std::runtime_error("zlib could not start inflating");
  }
  ~Zlib() { inflateEnd(&Z); }
  Zlib(const Zlib&) = delete;
  Zlib& operator=(const Zlib&) = delete;
};

EntryReader::EntryReader(Stream& archive, std::uint16_t method, std::uint64_t compressedSize,
                         std::uint64_t declaredSize)
    : archive_(archive), method_(method), left_(compressedSize), declared_(declaredSize) {
  if (method_ != 0 && method_ != 8)
    throw EEntryDataError("the entry uses compression method " + std::to_string(method_));
  if (method_ == 8) {
    zlib_ = std::make_unique<Zlib>();
    input_ = std::make_unique_for_overwrite<unsigned char[]>(IoBlockSize);
  }
}

EntryReader::~EntryReader() = default;

std::size_t EntryReader::Read(void* buffer, std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count && !ended_) {
    std::size_t got = 0;
    if (method_ == 0) {
      got = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, left_));
      archive_.ReadBuffer(out + done, got);
      left_ -= got;
      ended_ = left_ == 0;
    } else {
      got = Inflate(out + done, count - done);
    }
    Account(out + done, got);
    done += got;
  }
  return done;
}

std::size_t EntryReader::Inflate(unsigned char* out, std::size_t count) {
  z_stream& z = zlib_->Z;
  if (z.avail_in == 0) {
    if (left_ == 0)
      throw EEntryDataError("the deflate data end too early");
    const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(left_, IoBlockSize));
    archive_.ReadBuffer(input_.get(), step);
    left_ -= step;
    z.next_in = input_.get();
    z.avail_in = static_cast<uInt>(step);
  }
  z.next_out = out;
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(count, UINT_MAX));
  const uInt room = z.avail_out;
  const int status = inflate(&z, Z_NO_FLUSH);
  if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
    throw EEntryDataError(std::string("the deflate data are damaged (") +
                          (z.msg ? z.msg : "zlib error " + std::to_string(status)) + ")");
  if (status == Z_STREAM_END) {
    ended_ = true;
    if (z.avail_in != 0 || left_ != 0)
      throw EEntryDataError("bytes follow the end of the deflate data");
  }
  return room - z.avail_out;
}

void EntryReader::Account(const unsigned char* bytes, std::size_t count) {
  crc_ = Crc32Update(crc_, bytes, count);
  produced_ += count;
  if (produced_ > declared_)
    throw EEntryDataError("the data unpack to more than the " + std::to_string(declared_) +
                          " bytes the entry declares");
}

} // namespace vornel
