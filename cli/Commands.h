#pragma once

// The verbs of the command line. Each Register* function adds its subcommand to the app and
// stores the exit code of the run in `exitCode` when its callback runs.

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vornel::cli {

// Exit codes shared by every verb: the operator can tell "fix what I typed or what I pointed
// at" (1) from "the work failed" (2). A build stopped by a signal exits 128 + its number.
inline constexpr int ExitOk = 0;
// A bad option, setting or input named on the command line, a refusal, problems found; nothing
// was written.
inline constexpr int ExitRefused = 1;
inline constexpr int ExitError = 2; // an error while working (reading or writing failed)

void RegisterListCommand(CLI::App& app, int& exitCode);
void RegisterCommentCommand(CLI::App& app, int& exitCode);
void RegisterRemoveCommand(CLI::App& app, int& exitCode);
void RegisterAddCommand(CLI::App& app, int& exitCode);
void RegisterBuildCommand(CLI::App& app, int& exitCode);
void RegisterVerifyCommand(CLI::App& app, int& exitCode);
void RegisterDiffCommand(CLI::App& app, int& exitCode);

// For a command line whose first word after the options before the verb (arguments[0] is the
// program) is no verb of app: the message naming it and the closest verb. Nothing otherwise.
std::optional<std::string> UnknownVerbText(const CLI::App& app,
                                           const std::vector<std::string>& arguments);

} // namespace vornel::cli
