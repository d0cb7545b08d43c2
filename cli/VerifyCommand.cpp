#include "cli/Commands.h"
#include "cli/ProgressBar.h"

#include "app/Verify.h"
#include "platform/Errors.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

namespace vornel::cli {

namespace {

struct VerifyArguments {
  std::string UploadDir = "Upload";
  bool Quiet = false;
};

int RunVerify(const VerifyArguments& arguments) {
  ProgressBar bar(arguments.Quiet);
  VerifyResult result;
  try {
    VerifyProgress progress;
    progress.SetMax = [&bar](std::int32_t archives) { bar.SetMax(archives); };
    progress.Step = [&bar](const std::string& archive) { bar.Step(archive); };
    result = VerifyUploadSet(arguments.UploadDir, progress);
  } catch (const std::exception& error) {
    bar.Clear();
    std::cerr << ErrorBoxText(error.what()) << std::endl;
    return ExitError;
  }
  bar.Clear();
  std::string report;
  for (const std::string& problem : result.Problems)
    report += problem + '\n';
  report += result.Summary() + '\n';
  std::cout << report << std::flush;
  if (!std::cout)
    return ExitError;
  return result.AllGood() ? ExitOk : ExitRefused;
}

} // namespace

void RegisterVerifyCommand(CLI::App& app, int& exitCode) {
  auto arguments = std::make_shared<VerifyArguments>();
  CLI::App* verb = app.add_subcommand(
      "verify", "Check updates.lst and every archive it lists, as the client updater would");
  verb->add_option("UPLOAD_DIR", arguments->UploadDir, "The upload folder (default ./Upload)");
  verb->add_flag("-q,--quiet", arguments->Quiet, "Draw no progress bar");
  verb->footer("One line per problem, naming its file, then a summary line.\n"
               "Example:\n"
               "  vornel verify Upload\n"
               "Exit codes: 0 all good, 1 problems found, 2 error.");
  verb->callback([arguments, &exitCode] { exitCode = RunVerify(*arguments); });
}

} // namespace vornel::cli
