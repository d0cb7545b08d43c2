#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
  CLI::App app{"Vornel: prepares the update set (Upload/ and updates.lst) for the client updater"};
  app.set_version_flag("--version", "vornel 0.801a");
  app.require_subcommand(1);

  int exitCode = vornel::cli::ExitOk;
  vornel::cli::RegisterListCommand(app, exitCode);
  vornel::cli::RegisterCommentCommand(app, exitCode);
  vornel::cli::RegisterRemoveCommand(app, exitCode);
  vornel::cli::RegisterAddCommand(app, exitCode);
  vornel::cli::RegisterBuildCommand(app, exitCode);
  vornel::cli::RegisterVerifyCommand(app, exitCode);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return exitCode;
}
