#include "cli/ArchiveOptions.h"
#include "cli/Commands.h"

#include "platform/StringList.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace vornel::cli {

namespace {

struct CommentOptions {
  std::string Archive;
  std::vector<std::string> Lines;
  bool Clear = false;
};

// The comment is stored with a 16-bit length and read back line by line; refuse what would not
// come back as written or would make the archive unreadable.
void CheckComment(const TStringList& lines) {
  for (const auto& line : lines) {
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      throw RefusalError("a comment line cannot hold a line break or a zero byte");
  }
  const std::string text = StringListText(lines);
  if (text.size() > 0xFFFF)
    throw RefusalError("the comment is " + std::to_string(text.size()) +
                       " bytes long; an archive holds at most 65535");
  // The end record is found by searching backwards for its signature, so a comment holding
  // that signature would hide the real record when the archive is opened again.
  if (text.find("PK\x05\x06") != std::string::npos)
    throw RefusalError("a comment cannot hold the end-of-directory signature PK\\x05\\x06");
}

int RunComment(const CommentOptions& options, bool writing) {
  TPellum pellum;
  OpenExistingArchive(pellum, options.Archive);
  if (!writing) {
    std::string text;
    for (const auto& line : pellum.GetComment())
      text += line + '\n';
    std::cout << text << std::flush;
    return std::cout ? ExitOk : ExitError;
  }
  RequireChangeable(pellum, options.Archive);
  const TStringList wanted = options.Clear ? TStringList{} : options.Lines;
  CheckComment(wanted);
  pellum.SetComment(wanted);
  pellum.CloseArchive();
  return ExitOk;
}

} // namespace

void RegisterCommentCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CommentOptions>();
  CLI::App* verb =
      app.add_subcommand("comment", "Show the archive comment, or replace or clear it");
  verb->add_option("ARCHIVE", options->Archive, "The zip archive")->required();
  CLI::Option* set = verb->add_option("--set", options->Lines,
                                      "Replace the comment; each argument becomes one line");
  set->type_name("LINE")->expected(1, -1);
  CLI::Option* clear = verb->add_flag("--clear", options->Clear, "Remove the comment");
  set->excludes(clear);
  verb->footer("Examples:\n"
               "  vornel comment pack.zip\n"
               "  vornel comment pack.zip --set \"Release 0.801\" \"Built on the CI\"\n"
               "  vornel comment pack.zip --clear\n" +
               std::string(ChangeExitCodes));
  verb->callback([options, set, &exitCode] {
    const bool writing = options->Clear || set->count() > 0;
    exitCode = RunGuarded([&] { return RunComment(*options, writing); });
  });
}

} // namespace vornel::cli
