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
    const std::int32_t index = entryNames.IndexOf(entries, name);
    if (index < 0)
      throw RefusalError(options.Archive + ": no entry named \"" + name + "\"");
    targets.insert(index);
  }
  // All of them go in one change: the archive is rewritten once.
  entries.RemoveEntries(std::vector<std::int32_t>(targets.begin(), targets.end()));
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
               "The archive is written anew beside itself (in memory first unless --temp-files)\n"
               "and renamed over the old one: interrupted at any point, it is left as it was\n"
               "or without the entries.\n"
               "Examples:\n"
               "  vornel remove pack.zip readme.txt\n"
               "  vornel remove --rebuild --temp-files pack.zip data/old.bin data/older.bin\n" +
               std::string(ChangeExitCodes));
  verb->callback(
      [options, &exitCode] { exitCode = RunGuarded([&] { return RunRemove(*options); }); });
}

} // namespace vornel::cli
