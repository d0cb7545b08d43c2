#include "cli/Commands.h"

#include "app/ClosestWord.h"

#include <CLI/CLI.hpp>

namespace vornel::cli {

std::optional<std::string> UnknownVerbText(const CLI::App& app,
                                           const std::vector<std::string>& arguments) {
  std::vector<std::string> verbs;
  for (const CLI::App* verb : app.get_subcommands({}))
    verbs.push_back(verb->get_name());
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word == "-C") {
      ++i; // its folder
      continue;
    }
    if (word.empty() || word[0] == '-' || verbs.empty())
      return std::nullopt; // an option: the parser has its own words for what is wrong
    for (const std::string& verb : verbs)
      if (verb == word)
        return std::nullopt;
    return "vornel: \"" + word + "\" is no command; did you mean \"" + ClosestWord(word, verbs) +
           "\"? (\"vornel --help\" lists them)";
  }
  return std::nullopt;
}

} // namespace vornel::cli
