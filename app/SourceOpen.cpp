#include "app/SourceOpen.h"

#include "app/PackFile.h"
#include "platform/Errors.h"

#include <memory>

namespace vornel {

std::unique_ptr<SourceFile> OpenCheckedSource(const std::string& realPath,
                                              const std::string& shownPath,
                                              std::uint64_t sizeSeen) {
  SourceFile::Refusal why = SourceFile::Refusal::None;
  auto source = SourceFile::Open(realPath, why);
  switch (why) {
  case SourceFile::Refusal::None:
    break;
  case SourceFile::Refusal::Missing:
    RaiseIoError(io_error::FileNotFound, shownPath, IoOperation::Open);
  case SourceFile::Refusal::Link:
    throw EFileChanged("\"" + shownPath +
                       "\" changed while it was packed: it is a symbolic link now");
  case SourceFile::Refusal::NotFile:
    throw EFileChanged("\"" + shownPath +
                       "\" changed while it was packed: it is no regular file now");
  }
  if (source->Info().Size != sizeSeen)
    throw EFileChanged("\"" + shownPath + "\" changed while it was packed (" +
                       std::to_string(sizeSeen) + " bytes when the tree was checked, " +
                       std::to_string(source->Info().Size) + " now)");
  return source;
}

} // namespace vornel
