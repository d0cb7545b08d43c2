#include "cli/Commands.h"
#include "cli/JsonLine.h"

#include "app/BuildPaths.h"
#include "app/ManifestFile.h"
#include "app/Settings.h"
#include "app/UpdateDiff.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

namespace vornel::cli {

namespace {

struct DiffArguments {
  std::string Old;
  std::string New;
  bool Json = false;
  bool NamesOnly = false;
  std::string CodePage;
};

const char* KindName(ArchiveChangeKind kind) {
  switch (kind) {
  case ArchiveChangeKind::New:
    return "new";
  case ArchiveChangeKind::Changed:
    return "changed";
  case ArchiveChangeKind::Repacked:
    return "repacked";
  default:
    return "removed";
  }
}

// What rsync --files-from takes: the archives to upload, the manifest last.
std::string NamesOnly(const UpdateDiff& diff) {
  std::string text;
  for (const ArchiveChange& change : diff.Changes) {
    if (change.Kind != ArchiveChangeKind::Removed)
      text += change.Path + ".zip\n";
  }
  return text + ManifestFileName + "\n";
}

std::string Json(const UpdateDiff& diff) {
  std::string text;
  for (const ArchiveChange& change : diff.Changes) {
    JsonLine line;
    line.Add("type", "file").Add("path", change.Path + ".zip").Add("change", KindName(change.Kind));
    line.Add("size", change.Size).Add("crc", change.Crc);
    if (change.Kind == ArchiveChangeKind::Changed || change.Kind == ArchiveChangeKind::Repacked)
      line.Add("old_size", change.OldSize).Add("old_crc", change.OldCrc);
    text += line.Text() + "\n";
  }
  JsonLine summary;
  summary.Add("type", "summary")
      .Add("archives", diff.Downloads())
      .Add("bytes", diff.DownloadBytes)
      .Add("new", diff.New)
      .Add("changed", diff.Changed)
      .Add("repacked", diff.Repacked)
      .Add("removed", diff.Removed)
      .Add("text", DownloadSummary(diff));
  return text + summary.Text() + "\n";
}

std::string Text(const UpdateDiff& diff) {
  std::string text;
  for (const ArchiveChange& change : diff.Changes) {
    std::string kind = KindName(change.Kind);
    kind.resize(9, ' ');
    text += kind + change.Path + ".zip  " + std::to_string(change.Size) + " bytes";
    if (change.Kind == ArchiveChangeKind::Changed || change.Kind == ArchiveChangeKind::Repacked)
      text += " (was " + std::to_string(change.OldSize) + ")";
    text += "\n";
  }
  if (diff.Repacked > 0)
    text += "upload " + std::to_string(diff.Repacked) +
            " repacked archives too: their content is the same, their size is not\n";
  return text + DownloadSummary(diff) + "\n";
}

int RunDiff(const DiffArguments& arguments) {
  std::string output;
  try {
    const CodePage names = ClientCodePage(arguments.CodePage, SettingsPathIn(CurrentDirectory()));
    const UpdateDiff diff =
        CompareManifests(LoadManifest(arguments.Old, names), LoadManifest(arguments.New, names));
    output = arguments.NamesOnly ? NamesOnly(diff) : arguments.Json ? Json(diff) : Text(diff);
  } catch (const EManifestUnusable& refused) {
    std::cerr << refused.what() << std::endl;
    return ExitRefused;
  } catch (const std::exception& error) {
    std::cerr << ErrorBoxText(error.what()) << std::endl;
    return ExitError;
  }
  std::cout << output << std::flush;
  return std::cout ? ExitOk : ExitError;
}

} // namespace

void RegisterDiffCommand(CLI::App& app, int& exitCode) {
  auto arguments = std::make_shared<DiffArguments>();
  CLI::App* verb = app.add_subcommand(
      "diff", "What players download to go from one update set to another, and what to upload");
  verb->add_option("OLD", arguments->Old, "The set players have: an upload folder or its manifest")
      ->required();
  verb->add_option("NEW", arguments->New, "The set to publish: an upload folder or its manifest")
      ->required();
  auto* json = verb->add_flag("--json", arguments->Json,
                              "One JSON object a line per archive, then the summary");
  verb->add_flag("--names-only", arguments->NamesOnly,
                 "Only the archives to upload (new, changed, repacked) relative to the upload "
                 "folder, updates.lst last, for rsync --files-from")
      ->excludes(json);
  verb->add_option("--codepage", arguments->CodePage,
                   "The code page the names were written in, as given to build (default: "
                   "\"CodePage\" in settings.ini)");
  verb->footer("Archives match by path; a changed CRC is a download for every player.\n"
               "Example:\n"
               "  vornel diff /srv/www/updates Upload\n"
               "  vornel diff --names-only old/updates.lst Upload > upload.txt\n"
               "Exit codes: 0 compared; 1 a manifest missing or unreadable, or a bad option; 2 an\n"
               "error while working.");
  verb->callback([arguments, &exitCode] { exitCode = RunDiff(*arguments); });
}

} // namespace vornel::cli
