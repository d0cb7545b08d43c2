#include "cli/ArchiveOptions.h"
#include "cli/Commands.h"

#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "zip/Compressor.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vornel::cli {

namespace {

struct AddOptions {
  SaveOptions Save;
  bool Relative = false;
  bool Folders = false;
  std::string Level = "maximum";
  std::string Archive;
  std::vector<std::string> Files;
  std::string CodePage;
};

// The name an entry is stored under. Bare: the file name alone. Relative: the path as given,
// without a leading "/" or "./" parts, and refused when it climbs out with "..": an archive must
// never carry names that unpack outside the folder it is unpacked into.
std::string StoredName(const std::string& path, bool relative) {
  if (!relative)
    return BareName(path);
  std::string name;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..")
      throw RefusalError(path + ": a relative name cannot hold \"..\"");
    if (!part.empty() && part != ".")
      name += (name.empty() ? "" : "/") + part;
    start = end + 1;
  }
  return name;
}

// A level word is the component's compression type as it always was; a number (0-9) is zlib's
// level itself, as "build --level" takes it.
struct AddLevel {
  TZipCompressionType Type = TZipCompressionType::ctMaximum;
  std::optional<CompressorChoice> Choice;
};

AddLevel ParseLevel(const std::string& text) {
  static const std::map<std::string, TZipCompressionType> types{
      {"normal", TZipCompressionType::ctNormal},
      {"maximum", TZipCompressionType::ctMaximum},
      {"fast", TZipCompressionType::ctFast},
      {"superfast", TZipCompressionType::ctSuperFast},
      {"none", TZipCompressionType::ctNone}};
  std::string lower = text;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (const auto type = types.find(lower); type != types.end())
    return {type->second, std::nullopt};
  try {
    return {TZipCompressionType::ctMaximum, ParseCompressorChoice("zlib", text)};
  } catch (const ECompressorChoice& error) {
    throw RefusalError(error.what());
  }
}

// Every file is checked before the archive is created or touched.
std::vector<std::string> CheckFiles(const AddOptions& options, const EntryNames& entryNames) {
  std::vector<std::string> names;
  for (const auto& path : options.Files) {
    const auto found = FindFile(path);
    if (!found)
      throw RefusalError(path + ": no such file");
    if (found->Attributes & attr::Directory)
      throw RefusalError(path + ": is a folder; name the files to add");
    // By identity, not by name: "t.zip", "./t.zip" and a link to it are all the archive.
    if (SameFile(path, options.Archive))
      throw RefusalError(path + ": is the archive itself; an archive cannot hold itself");
    names.push_back(entryNames.ToEntry(StoredName(path, options.Relative)));
    if (names.back().empty())
      throw RefusalError(path + ": gives an empty entry name");
  }
  return names;
}

int RunAdd(const AddOptions& options) {
  const AddLevel level = ParseLevel(options.Level);
  const EntryNames entryNames(options.CodePage);
  const std::vector<std::string> names = CheckFiles(options, entryNames);

  const bool created = !FindFile(options.Archive).has_value();
  TPellum pellum;
  if (created)
    pellum.CreateArchiveFile(options.Archive);
  try {
    OpenExistingArchive(pellum, options.Archive);
    RequireChangeable(pellum, options.Archive);
    ApplySaveOptions(pellum, options.Save);
    pellum.SetStoreRelativePath(options.Relative);
    pellum.SetStoreFolders(options.Folders);
    pellum.SetCompressionType(level.Type);
    pellum.SetCompressor(level.Choice);
    pellum.SetMarkUtf8Names(entryNames.MarkUtf8());
    // The names are passed explicitly so that they are the cleaned ones, not the raw paths.
    std::vector<TBatchFile> batch;
    for (std::size_t i = 0; i < options.Files.size(); ++i)
      batch.push_back({options.Files[i], names[i]});
    pellum.Entries().AddFiles(batch);
    pellum.CloseArchive();
  } catch (...) {
    // An archive this run created is not left behind half-written.
    if (created) {
      pellum.CloseArchive();
      DeleteFileAt(options.Archive);
    }
    throw;
  }
  return ExitOk;
}

} // namespace

void RegisterAddCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<AddOptions>();
  CLI::App* verb = app.add_subcommand(
      "add", "Add files to an archive (created when missing), replacing same-named entries");
  AddSaveOptions(*verb, options->Save);
  verb->add_flag("--relative", options->Relative,
                 "Store the path as given instead of the bare file name");
  verb->add_flag("--folders", options->Folders, "Also store an entry for every folder of the path")
      ->needs("--relative");
  verb->add_option("--level", options->Level,
                   std::string("Compression level: zlib's 0-9, or ") + LevelWords +
                       " (default maximum)")
      ->type_name("LEVEL");
  AddCodePageOption(*verb, options->CodePage);
  verb->add_option("ARCHIVE", options->Archive, "The zip archive")->required();
  verb->add_option("FILE", options->Files, "Files to add")->required();
  verb->footer("If any FILE does not exist, nothing is added.\n"
               "All files are one change. In place (the default) the new entries are written\n"
               "behind the others and the directory once, at the end; replacing same-named\n"
               "entries, and --rebuild, write the archive anew beside itself and rename it over\n"
               "the old one. Interrupted at any point (Ctrl-C, a signal, the process killed, a\n"
               "failed write), the archive is left as it was or with every file added, and a\n"
               "replaced entry stays readable until its replacement is whole.\n"
               "Examples:\n"
               "  vornel add pack.zip game.exe readme.txt\n"
               "  vornel add --relative --folders --level fast pack.zip data/maps/town.map\n"
               "  vornel add --rebuild --temp-files pack.zip game.exe\n" +
               std::string(ChangeExitCodes));
  verb->callback([options, &exitCode] { exitCode = RunGuarded([&] { return RunAdd(*options); }); });
}

} // namespace vornel::cli
