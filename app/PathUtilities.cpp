#include "app/BuildProcedure.h"

#include "platform/FindFiles.h"

namespace vornel {

std::string ReplaceAll(const std::string& source, const std::string& search,
                       const std::string& replacement) {
  if (search.empty())
    return source;
  std::string result;
  result.reserve(source.size());
  std::size_t from = 0;
  for (std::size_t at = source.find(search); at != std::string::npos;
       at = source.find(search, from)) {
    result.append(source, from, at - from);
    result += replacement;
    from = at + search.size(); // the replacement is never scanned again
  }
  result.append(source, from, std::string::npos);
  return result;
}

std::int32_t FoundFileSize(const std::string& path) {
  const auto found = FindFile(path);
  if (!found || (found->Attributes & attr::Directory) != 0)
    return -1;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(found->Size & 0xFFFFFFFFu));
}

} // namespace vornel
