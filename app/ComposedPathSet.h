#pragma once

// Looks a path up among many that are not kept as strings but composed on demand (a build's
// files, from the walk's tree of names). Holds 16 bytes per path: its hash and its number; a
// match of the hash is confirmed by composing that path again.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vornel {

class ComposedPathSet {
public:
  // Appends path number index to out.
  using Compose = std::function<void(std::size_t index, std::string& out)>;

  ComposedPathSet(std::size_t count, Compose compose);
  bool Contains(std::string_view path) const;

private:
  Compose compose_;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> hashes_; // sorted
  mutable std::string scratch_;
};

} // namespace vornel
