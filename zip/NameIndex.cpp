#include "zip/NameIndex.h"

#include "platform/TextCompare.h"
#include "zip/Pellum.h"

#include <algorithm>

namespace vornel {

namespace {

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string AsciiKey(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void Erase(std::vector<NameIndex::Named>& list, std::int32_t id) {
  list.erase(std::remove_if(list.begin(), list.end(), [id](const auto& n) { return n.Id == id; }),
             list.end());
}

} // namespace

void NameIndex::Add(const std::string& name, std::int32_t id) {
  std::string zipName = TPellumEntries::ToZipName(name);
  if (IsAscii(zipName))
    ascii_[AsciiKey(zipName)].push_back({std::move(zipName), id});
  else
    others_.push_back({std::move(zipName), id});
}

void NameIndex::Remove(const std::string& name, std::int32_t id) {
  const std::string zipName = TPellumEntries::ToZipName(name);
  if (!IsAscii(zipName)) {
    Erase(others_, id);
    return;
  }
  const auto found = ascii_.find(AsciiKey(zipName));
  if (found != ascii_.end())
    Erase(found->second, id);
}

std::int32_t NameIndex::Find(const std::string& name) const {
  const std::string wanted = TPellumEntries::ToZipName(name);
  std::int32_t best = -1;
  const auto consider = [&](const std::vector<Named>& list) {
    for (const Named& n : list) {
      if ((best < 0 || n.Id < best) && SameTextIgnoreCase(wanted, n.Name))
        best = n.Id;
    }
  };
  consider(others_);
  if (IsAscii(wanted)) {
    const auto found = ascii_.find(AsciiKey(wanted));
    if (found != ascii_.end())
      consider(found->second);
  } else {
    for (const auto& [key, list] : ascii_)
      consider(list);
  }
  return best;
}

} // namespace vornel
