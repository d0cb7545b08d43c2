#include "app/NameTree.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace vornel {

std::uint32_t NameList::Add(std::string_view name) {
  // Offsets are 32-bit to keep the tree small; 4 GiB of names is far beyond any client.
  if (name.size() > std::numeric_limits<std::uint32_t>::max() - text_.size() ||
      ends_.size() >= std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("The tree holds more names than a build can keep");
  text_.append(name);
  ends_.push_back(static_cast<std::uint32_t>(text_.size()));
  return static_cast<std::uint32_t>(ends_.size() - 1);
}

std::string_view NameList::operator[](std::uint32_t number) const {
  const std::uint32_t start = number == 0 ? 0 : ends_[number - 1];
  return std::string_view(text_).substr(start, ends_[number] - start);
}

void SparseNames::Set(std::uint32_t item, std::string_view name) {
  if (!items_.empty() && item <= items_.back())
    throw std::logic_error("names must be set in rising item order");
  names_.Add(name);
  items_.push_back(item);
}

bool SparseNames::Find(std::uint32_t item, std::string_view& name) const {
  const auto found = std::lower_bound(items_.begin(), items_.end(), item);
  if (found == items_.end() || *found != item)
    return false;
  name = names_[static_cast<std::uint32_t>(found - items_.begin())];
  return true;
}

NameTree::NameTree() {
  names_.Add("");
  parents_.push_back(Root);
}

std::uint32_t NameTree::Add(std::uint32_t parent, std::string_view name) {
  const std::uint32_t item = names_.Add(name);
  parents_.push_back(parent);
  return item;
}

} // namespace vornel
