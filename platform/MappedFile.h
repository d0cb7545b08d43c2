#pragma once

// Read-only views of files mapped into memory rather than copied, for code that needs a whole
// file as one buffer.

#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

namespace vornel {

class MappedFile {
public:
  // Maps length bytes of the open file from offset on. The file must hold them: a mapping that
  // reaches past the end has no pages to read there. Raises the input/output error when the
  // file cannot be mapped.
  MappedFile(FileStream& file, std::int64_t offset, std::size_t length);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const unsigned char* Data() const { return static_cast<const unsigned char*>(base_) + skip_; }
  std::size_t Size() const { return length_; }

private:
  void* base_ = nullptr;
  std::size_t skip_ = 0; // from the page boundary below offset to offset
  std::size_t length_ = 0;
};

// Runs work(context) so that a read of a mapped page that the file no longer backs (it shrank
// after it was mapped) ends the work instead of the process. Returns false when that happened.
// The work is abandoned where it stood, without unwinding: it must own nothing that needs a
// destructor, and whatever it allocated itself is lost.
bool RunOverMappedPages(void (*work)(void* context), void* context);

} // namespace vornel
