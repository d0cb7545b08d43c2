#include "app/Version.h"
#include "cli/Commands.h"

#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  const vornel::WideConsoleStreams console;
  CLI::App app{"Vornel: prepares the update set (Upload/ and updates.lst) for the client updater",
               "vornel"};
  // "/tmp/tree" and "/srv/clean" are folders, never options, also on Windows.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", "vornel " VORNEL_VERSION_TEXT);
  app.require_subcommand(1);
  app.footer("Examples:\n"
             "  vornel build /srv/clean-client\n"
             "  vornel -C /srv/release build --reuse --prune /srv/clean-client\n"
             "  vornel verify Upload\n"
             "  vornel diff /srv/www/updates Upload\n"
             "  vornel list Upload/bin/game.exe.zip\n"
             "  vornel add --relative pack.zip data/readme.txt\n"
             "  vornel comment pack.zip --set \"Release 0.801\"\n"
             "  vornel remove pack.zip data/readme.txt\n"
             "Run \"vornel VERB --help\" for the options of a verb.\n"
             "Exit codes, the same for every verb: 0 done; 1 refused, nothing written: a bad\n"
             "option, setting or input named on the command line (an unknown verb or code page,\n"
             "a missing folder, file or name, not an archive, a tree with problems, a change\n"
             "the archive cannot take: the 65,536th entry, a source of 2 GiB, zip64), or\n"
             "problems that verify found; 2 an error while working (reading or writing failed;\n"
             "the message names the cause); 130 a build stopped by Ctrl-C, 143 by a termination\n"
             "request (Upload/ is then as it was).");

  // As make, git and tar do: settings.ini and Upload/ are then found in DIR. Given before the
  // verb; each one is taken from the folder the one before it entered.
  app.add_option("-C", "Run in DIR as if started there")
      ->type_name("DIR")
      ->each([](const std::string& dir) {
        if (!vornel::ChangeDirectory(dir))
          throw CLI::ValidationError("cannot enter the folder \"" + dir + "\"");
      });

  int exitCode = vornel::cli::ExitOk;
  vornel::cli::RegisterListCommand(app, exitCode);
  vornel::cli::RegisterCommentCommand(app, exitCode);
  vornel::cli::RegisterRemoveCommand(app, exitCode);
  vornel::cli::RegisterAddCommand(app, exitCode);
  vornel::cli::RegisterBuildCommand(app, exitCode);
  vornel::cli::RegisterVerifyCommand(app, exitCode);
  vornel::cli::RegisterDiffCommand(app, exitCode);

  // CLI11 takes the arguments last first, without the program's name.
  std::vector<std::string> arguments = vornel::CommandLineArguments(argc, argv);
  if (arguments.size() > 1) {
    // "/?" asks for help as Windows programs take it; a verb no one knows is named as such.
    if (arguments[1] == "/?")
      arguments[1] = "--help";
    if (const auto text = vornel::cli::UnknownVerbText(app, arguments)) {
      std::cerr << *text << std::endl;
      return vornel::cli::ExitRefused;
    }
  }
  std::reverse(arguments.begin(), arguments.end());
  if (!arguments.empty())
    arguments.pop_back();
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& e) {
    // --help and --version end the run successfully; a wrong command line is refused.
    return app.exit(e) == 0 ? vornel::cli::ExitOk : vornel::cli::ExitRefused;
  }
  return exitCode;
}
