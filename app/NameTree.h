#pragma once

// Names of a folder tree kept for a whole build at a few bytes each: every name is stored once,
// back to back in one buffer, and an item is only its parent and the end of its name. Paths are
// composed when they are needed, into the caller's buffer, so a tree of a million files holds
// no string per file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornel {

// Names in one buffer, each found by its number; numbers are given in the order of adding.
class NameList {
public:
  std::uint32_t Add(std::string_view name);
  std::string_view operator[](std::uint32_t number) const;
  std::size_t Size() const { return ends_.size(); }

private:
  std::string text_;
  std::vector<std::uint32_t> ends_;
};

// Names that stand in for the tree's own names for a few items: added in rising item order,
// looked up by halving.
class SparseNames {
public:
  void Set(std::uint32_t item, std::string_view name);
  // False when the item has no name here.
  bool Find(std::uint32_t item, std::string_view& name) const;
  bool Empty() const { return items_.empty(); }

private:
  std::vector<std::uint32_t> items_;
  NameList names_;
};

class NameTree {
public:
  static constexpr std::uint32_t Root = 0; // the tree's top, with an empty name

  NameTree();
  // A new item below parent; items are numbered in the order they are added.
  std::uint32_t Add(std::uint32_t parent, std::string_view name);
  std::string_view Name(std::uint32_t item) const { return names_[item]; }
  std::uint32_t Parent(std::uint32_t item) const { return parents_[item]; }

  // Appends the path from just below top down to item, the names joined by separator; nothing
  // when item is top. nameOf gives each item's name (Name, or a name standing in for it).
  template <typename NameOf>
  void AppendPath(std::uint32_t top, std::uint32_t item, char separator, std::string& out,
                  const NameOf& nameOf) const {
    std::size_t length = 0;
    for (std::uint32_t at = item; at != top; at = parents_[at])
      length += nameOf(at).size() + 1;
    if (length == 0)
      return;
    const std::size_t start = out.size();
    out.resize(start + length - 1);
    std::size_t end = out.size();
    // Written from the end backwards, as the parents are met.
    for (std::uint32_t at = item; at != top; at = parents_[at]) {
      const std::string_view name = nameOf(at);
      end -= name.size();
      out.replace(end, name.size(), name);
      if (end > start)
        out[--end] = separator;
    }
  }

  void AppendPath(std::uint32_t top, std::uint32_t item, char separator, std::string& out) const {
    AppendPath(top, item, separator, out, [this](std::uint32_t at) { return Name(at); });
  }

private:
  NameList names_;
  std::vector<std::uint32_t> parents_;
};

} // namespace vornel
