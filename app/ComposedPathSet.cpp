#include "app/ComposedPathSet.h"

#include <algorithm>

namespace vornel {

namespace {

std::uint64_t HashOf(std::string_view path) {
  return static_cast<std::uint64_t>(std::hash<std::string_view>{}(path));
}

} // namespace

ComposedPathSet::ComposedPathSet(std::size_t count, Compose compose)
    : compose_(std::move(compose)) {
  hashes_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    scratch_.clear();
    compose_(i, scratch_);
    hashes_.emplace_back(HashOf(scratch_), static_cast<std::uint32_t>(i));
  }
  std::sort(hashes_.begin(), hashes_.end());
}

bool ComposedPathSet::Contains(std::string_view path) const {
  const std::uint64_t hash = HashOf(path);
  auto at =
      std::lower_bound(hashes_.begin(), hashes_.end(), std::make_pair(hash, std::uint32_t{0}));
  for (; at != hashes_.end() && at->first == hash; ++at) {
    scratch_.clear();
    compose_(at->second, scratch_);
    if (scratch_ == path)
      return true;
  }
  return false;
}

} // namespace vornel
