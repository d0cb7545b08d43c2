#pragma once

// Small pieces shared by the archive verbs (list, comment, remove, add): how failures become
// exit codes and messages, how an existing archive is opened, and the save options.

#include "platform/CodePage.h"
#include "zip/Pellum.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace vornel::cli {

// A refusal the user can act on (not an archive, a missing file or entry name): exit code 1.
class RefusalError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Runs a verb's body and returns its exit code. An exception's message goes to stderr; a
// RefusalError or the component's EPellumRefused (nothing was written) gives ExitRefused, every
// other exception ExitError.
int RunGuarded(const std::function<int()>& body);

// Opens an existing archive. A missing file is refused with the component's own message, a
// file that is not a zip archive with "PATH: not a zip archive"; other failures pass on.
void OpenExistingArchive(TPellum& pellum, const std::string& path);

// Refuses, naming the archive and the reason, a change to an archive the component cannot
// describe (see TPellum::ChangeRefusal).
void RequireChangeable(const TPellum& pellum, const std::string& path);

// The exit codes of the verbs that change an archive, for their help.
inline constexpr const char* ChangeExitCodes =
    "Exit codes: 0 done; 1 refused, nothing written (a bad option or level, a missing file or\n"
    "name, the 65,536th entry, a source of 2 GiB, a zip64 archive, a directory that does not\n"
    "end where its end record begins); 2 an error while reading or writing.";

// How remove and add write the archive back.
struct SaveOptions {
  bool Rebuild = false;   // RebuildAll instead of FastSave
  bool TempFiles = false; // stage a rebuild in a temporary file instead of memory
};

void AddSaveOptions(CLI::App& verb, SaveOptions& options);
void ApplySaveOptions(TPellum& pellum, const SaveOptions& options);

// Entry names in a code page the user chose with --codepage, or the file system's bytes.
class EntryNames {
public:
  // An empty text chooses no code page; an unknown one is refused.
  explicit EntryNames(const std::string& codePage);

  // The name as the archive stores it; refused when the code page cannot hold it.
  std::string ToEntry(const std::string& name) const;
  // The stored name as the terminal shows it: UTF-8 names (bit 11) as they are, others read in
  // the code page when one was chosen and they are text of it.
  std::string ToShown(const TCentralDirectoryFile& header) const;
  // The index of the entry a name given on the command line denotes, as the component's
  // IndexOfName finds it (letter case ignored), -1 when none; refused when the code page cannot
  // hold the name. Names in a code page other than UTF-8 are compared as the text they stand
  // for, so that letter case beyond ASCII is ignored there too.
  std::int32_t IndexOf(const TPellumEntries& entries, const std::string& name) const;
  // Whether new entries with UTF-8 names get bit 11: unless another code page was chosen.
  bool MarkUtf8() const { return !converter_ || converter_->Target().IsUtf8(); }

private:
  std::unique_ptr<NameConverter> converter_;
};

void AddCodePageOption(CLI::App& verb, std::string& codePage);

} // namespace vornel::cli
