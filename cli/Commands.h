#pragma once

// The verbs of the command line. Each Register* function adds its subcommand to the app and
// stores the exit code of the run in `exitCode` when its callback runs.

namespace CLI {
class App;
}

namespace vornel::cli {

// Exit codes shared by every verb.
inline constexpr int ExitOk = 0;
inline constexpr int ExitRefused = 1; // not an archive, missing file, refusal, problems found
inline constexpr int ExitError = 2;   // any other error

void RegisterListCommand(CLI::App& app, int& exitCode);
void RegisterCommentCommand(CLI::App& app, int& exitCode);
void RegisterRemoveCommand(CLI::App& app, int& exitCode);
void RegisterAddCommand(CLI::App& app, int& exitCode);
void RegisterBuildCommand(CLI::App& app, int& exitCode);
void RegisterVerifyCommand(CLI::App& app, int& exitCode);
void RegisterDiffCommand(CLI::App& app, int& exitCode);

} // namespace vornel::cli
