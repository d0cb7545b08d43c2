#include "cli/ArchiveOptions.h"

#include "cli/Commands.h"

#include "platform/TextCompare.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace vornel::cli {

int RunGuarded(const std::function<int()>& body) {
  try {
    return body();
  } catch (const RefusalError& e) {
    std::cerr << e.what() << '\n';
    return ExitRefused;
  } catch (const EPellumRefused& e) {
    std::cerr << e.what() << '\n';
    return ExitRefused;
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return ExitError;
  } catch (...) {
    std::cerr << "unknown error\n";
    return ExitError;
  }
}

void OpenExistingArchive(TPellum& pellum, const std::string& path) {
  try {
    pellum.OpenArchive(path);
  } catch (const EPellumError& e) {
    // The component raises its plain error only for a path that does not exist.
    throw RefusalError(e.what());
  }
  if (!pellum.GetIsZipFile()) {
    std::string reason;
    try {
      FileStream file(path, FileStream::Mode::OpenRead);
      reason = UnopenableReason(file);
    } catch (const std::exception&) {
      // Not even readable again: plainly no archive this program can use.
    }
    if (!reason.empty())
      throw RefusalError(path + ": " + reason + ": not supported");
    throw RefusalError(path + ": not a zip archive");
  }
}

void RequireChangeable(const TPellum& pellum, const std::string& path) {
  if (!pellum.ChangeRefusal().empty())
    throw RefusalError(path + ": " + pellum.ChangeRefusal() +
                       ": changes are not supported; the archive is left as it is");
}

void AddSaveOptions(CLI::App& verb, SaveOptions& options) {
  verb.add_flag("--rebuild", options.Rebuild,
                "Rewrite the whole archive instead of editing it in place");
  verb.add_flag("--temp-files", options.TempFiles,
                "Stage a rebuild in a temporary file beside the archive instead of in memory "
                "(kept, and named in the error, if copying it back fails)");
}

void ApplySaveOptions(TPellum& pellum, const SaveOptions& options) {
  pellum.SetSaveMethod(options.Rebuild ? TZipSaveMethod::RebuildAll : TZipSaveMethod::FastSave);
  pellum.SetUseTempFiles(options.TempFiles);
}

EntryNames::EntryNames(const std::string& codePage) {
  if (codePage.empty())
    return;
  const auto page = ParseCodePage(codePage);
  if (!page)
    throw RefusalError("Unknown code page \"" + codePage +
                       "\": give a Windows code page number such as 1252, or utf-8");
  converter_ = std::make_unique<NameConverter>(*page);
}

std::string EntryNames::ToEntry(const std::string& name) const {
  if (!converter_)
    return name;
  auto converted = converter_->ToTarget(name);
  if (!converted)
    throw RefusalError("\"" + name + "\" cannot be written in code page " +
                       converter_->Target().Name());
  return *converted;
}

std::string EntryNames::ToShown(const TCentralDirectoryFile& header) const {
  if (!converter_ || (header.GeneralPurposeBitFlag & Utf8NameFlag) != 0)
    return header.FileName;
  return converter_->ToFileSystem(header.FileName).value_or(header.FileName);
}

std::int32_t EntryNames::IndexOf(const TPellumEntries& entries, const std::string& name) const {
  const std::string stored = ToEntry(name);
  if (!converter_ || converter_->Target().IsUtf8())
    return entries.IndexOfName(stored);
  // The component folds letter case beyond ASCII only in names that are UTF-8; here both sides
  // are read as the text they stand for first.
  const std::string wanted = TPellumEntries::ToZipName(name);
  for (std::int32_t i = 0; i < entries.Count(); ++i) {
    const std::string shown = ToShown(entries[i].CentralHeader);
    if (SameTextIgnoreCase(wanted, TPellumEntries::ToZipName(shown)))
      return i;
  }
  return -1;
}

void AddCodePageOption(CLI::App& verb, std::string& codePage) {
  verb.add_option("--codepage", codePage,
                  "Entry names in this code page (a Windows code page number, or utf-8) instead "
                  "of the file system's bytes")
      ->type_name("CP");
}

} // namespace vornel::cli
