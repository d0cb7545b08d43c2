#pragma once

// Files and folders of the clean tree that an operator leaves out of the update set (".git/",
// "Thumbs.db", "*.pdb", "logs/**"). Patterns follow the familiar ignore-file rules:
//   - "*", "?" and "[...]" match within one path component, letter case ignored as on the
//     client's file system;
//   - a pattern without "/" matches a name at any depth; one with "/" inside (or a leading "/")
//     matches the path from the clean folder down;
//   - a trailing "/" matches folders only; "**" as a whole component matches any number of
//     folders ("logs/**" is everything below logs, "**/cache" a cache folder at any depth).
// A "\" in a pattern is taken as "/", as an operator on Windows may write it.

#include <optional>
#include <string>
#include <vector>

namespace vornel {

class Exclusions {
public:
  Exclusions() = default;
  // Empty and blank patterns are dropped; whitespace around each is trimmed.
  explicit Exclusions(const std::vector<std::string>& patterns);

  // The patterns of the "Exclude" setting: separated by ";".
  static std::vector<std::string> SplitSetting(const std::string& value);

  bool Empty() const { return patterns_.empty(); }
  // The first pattern (as written) that leaves this path out; relativePath is "/"-separated.
  std::optional<std::string> Match(const std::string& relativePath, bool folder) const;

private:
  struct Pattern {
    std::string Text; // as written, for messages
    std::vector<std::string> Parts;
    bool Anchored = false;
    bool FoldersOnly = false;
  };
  std::vector<Pattern> patterns_;
};

} // namespace vornel
