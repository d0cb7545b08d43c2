#include "cli/ArchiveOptions.h"
#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vornel::cli {

namespace {

struct RemoveOptions {
  SaveOptions Save;
  std::string Archive;
  std::vector<std::string> Names;
  std::string CodePage;
};

// The index of the entry stored under exactly this name, -1 if none.
std::int32_t IndexOfStoredName(TPellumEntries& entries, const std::string& stored) {
  for (std::int32_t i = 0; i < entries.Count(); ++i) {
    if (entries[i].CentralHeader.FileName == stored)
      return i;
  }
  return -1;
}

int RunRemove(const RemoveOptions& options) {
  const EntryNames entryNames(options.CodePage);
  TPellum pellum;
  OpenExistingArchive(pellum, options.Archive);
  RequireChangeable(pellum, options.Archive);
  ApplySaveOptions(pellum, options.Save);
  TPellumEntries& entries = pellum.Entries();

  // Every name is resolved before anything is removed, so that a wrong name leaves the archive
  // untouched. Names that denote the same entry (repeated, or differing in letter case) remove
  // it once.
  std::set<std::int32_t> targets;
  for (const auto& name : options.Names) {
    const std::int32_t index = entries.IndexOfName(entryNames.ToEntry(name));
    if (index < 0)
      throw RefusalError(options.Archive + ": no entry named \"" + name + "\"");
    targets.insert(index);
  }
  std::vector<std::string> stored;
  for (std::int32_t index : targets)
    stored.push_back(entries[index].CentralHeader.FileName);

  // Indices shift with every removal (and a rebuild reloads the directory), so each entry is
  // looked up again by the name it is stored under.
  for (const auto& name : stored) {
    const std::int32_t index = IndexOfStoredName(entries, name);
    if (index < 0)
      throw std::runtime_error(options.Archive + ": entry \"" + name +
                               "\" vanished while removing");
    entries.RemoveEntry(index);
  }
  pellum.CloseArchive();
  return ExitOk;
}

} // namespace

void RegisterRemoveCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<RemoveOptions>();
  CLI::App* verb = app.add_subcommand("remove", "Remove entries from an archive by name");
  AddSaveOptions(*verb, options->Save);
  AddCodePageOption(*verb, options->CodePage);
  verb->add_option("ARCHIVE", options->Archive, "The zip archive")->required();
  verb->add_option("NAME", options->Names,
                   "Entry names (letter case ignored; \\ and / are the same)")
      ->required();
  verb->footer("If any NAME is not in the archive, nothing is removed.\n"
               "Examples:\n"
               "  vornel remove pack.zip readme.txt\n"
               "  vornel remove --rebuild --temp-files pack.zip data/old.bin data/older.bin\n" +
               std::string(ChangeExitCodes));
  verb->callback(
      [options, &exitCode] { exitCode = RunGuarded([&] { return RunRemove(*options); }); });
}

} // namespace vornel::cli
