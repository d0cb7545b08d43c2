#pragma once

// Entry names looked up as IndexOfName compares them (ToZipName on both sides, letter case
// ignored), without converting every name for every lookup: adding tens of thousands of files
// would otherwise compare each with all the others.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vornel {

class NameIndex {
public:
  void Add(const std::string& name, std::int32_t id);
  void Remove(const std::string& name, std::int32_t id);
  // The smallest id whose name is the same, -1 when none is.
  std::int32_t Find(const std::string& name) const;

  struct Named {
    std::string Name; // after ToZipName
    std::int32_t Id;
  };

private:
  // Names of ASCII characters only, by their upper-case form; a name with other bytes may fold
  // onto an ASCII one, so those are kept apart and always compared.
  std::unordered_map<std::string, std::vector<Named>> ascii_;
  std::vector<Named> others_;
};

} // namespace vornel
