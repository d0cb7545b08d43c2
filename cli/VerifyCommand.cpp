#include "cli/Commands.h"
#include "cli/ProgressBar.h"

#include "app/BuildProcedure.h"
#include "app/PackEngine.h"
#include "app/ServedVerify.h"
#include "app/Settings.h"
#include "app/Url.h"
#include "app/Verify.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornel::cli {

namespace {

struct VerifyArguments {
  std::string UploadDir = "Upload";
  bool Quiet = false;
  std::string Against;
  bool Strict = false;
  std::vector<std::string> Exclude;
  std::string CodePage;
  int Jobs = 0; // 0: one per hardware thread
  std::string Url;
  bool Deep = false;
  int Connections = 8;
  int Timeout = 30;
  bool UploadGiven = false; // UPLOAD_DIR named on the command line
};

VerifyResult Check(const VerifyArguments& arguments, const VerifyProgress& progress) {
  const std::string settings = SettingsPathIn(CurrentDirectory());
  if (!arguments.Url.empty()) {
    ServedVerifyOptions options;
    options.Url = arguments.Url;
    options.Deep = arguments.Deep;
    options.Connections = arguments.Connections;
    options.TimeoutSeconds = arguments.Timeout;
    if (arguments.UploadGiven)
      options.LocalUpload = arguments.UploadDir;
    options.Names = ClientCodePage(arguments.CodePage, settings);
    return VerifyServedSet(options, progress);
  }
  VerifyOptions options;
  options.Against = arguments.Against;
  if (!options.Against.empty()) {
    options.CustomName = Packer::ReadCustomName(settings);
    options.Exclude = ReadExcludePatterns(settings);
    options.Exclude.insert(options.Exclude.end(), arguments.Exclude.begin(),
                           arguments.Exclude.end());
  }
  options.Jobs = arguments.Jobs;
  options.Names = ClientCodePage(arguments.CodePage, settings);
  return VerifyUploadSet(arguments.UploadDir, progress, options);
}

int RunVerify(const VerifyArguments& arguments) {
  ProgressBar bar(arguments.Quiet);
  VerifyResult result;
  try {
    VerifyProgress progress;
    progress.SetMax = [&bar](std::int32_t archives) { bar.SetMax(archives); };
    progress.Step = [&bar](const std::string& archive) { bar.Step(archive); };
    result = Check(arguments, progress);
  } catch (const std::invalid_argument& refusal) {
    // An unknown code page, a clean folder that is not there, a URL that cannot be used.
    bar.Clear();
    std::cerr << ErrorBoxText(refusal.what()) << std::endl;
    return ExitRefused;
  } catch (const ESettingsError& refusal) {
    bar.Clear();
    std::cerr << ErrorBoxText(refusal.what()) << std::endl;
    return ExitRefused;
  } catch (const std::exception& error) {
    bar.Clear();
    std::cerr << ErrorBoxText(error.what()) << std::endl;
    return ExitError;
  }
  bar.Clear();
  std::string report;
  for (const std::string& problem : result.Problems)
    report += problem + '\n';
  for (const std::string& warning : result.Warnings)
    report += "warning: " + warning + '\n';
  for (const std::string& archive : result.Unlisted)
    report += archive + ": no line of updates.lst lists it (stale, or left by a stopped build)\n";
  report += result.Summary() + '\n';
  std::cout << report << std::flush;
  if (!std::cout)
    return ExitError;
  return result.AllGood(arguments.Strict) ? ExitOk : ExitRefused;
}

} // namespace

void RegisterVerifyCommand(CLI::App& app, int& exitCode) {
  auto arguments = std::make_shared<VerifyArguments>();
  CLI::App* verb = app.add_subcommand(
      "verify", "Check updates.lst and every archive it lists, as the client updater would");
  verb->add_option("UPLOAD_DIR", arguments->UploadDir,
                   "The upload folder (default ./Upload); with --url, the local set to compare "
                   "the served one with")
      ->type_name("")
      ->each([arguments](const std::string&) { arguments->UploadGiven = true; });
  verb->add_flag("-q,--quiet", arguments->Quiet, "Draw no progress bar");
  verb->add_option("--against", arguments->Against,
                   "Also compare the manifest with this clean folder: files changed, gone or "
                   "new since the build")
      ->type_name("CLEAN_DIR");
  verb->add_option("--exclude", arguments->Exclude,
                   "With --against: files and folders the build left out, besides the "
                   "\"Exclude\" setting; repeatable")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  verb->add_flag("--strict", arguments->Strict,
                 "Fail also on warnings and when the folder holds archives that no line lists");
  verb->add_option("--codepage", arguments->CodePage,
                   "The code page the names were written in, as given to build (default: "
                   "\"CodePage\" in settings.ini)")
      ->type_name("CP");
  verb->add_option("-j,--jobs", arguments->Jobs,
                   "Archives checked at once (default: one per hardware thread); the report "
                   "keeps the manifest's order")
      ->type_name("N")
      ->check(CLI::Range(1, MaxJobs).description(""));
  auto* url = verb->add_option("--url", arguments->Url,
                               "Check the set served under this URL (http:// or https://) "
                               "instead: every archive present at the listed size")
                  ->type_name("URL");
  // The served set has no folder of its own to compare with a clean tree or to look into.
  verb->get_option("--against")->excludes(url);
  verb->get_option("--strict")->excludes(url);
  verb->get_option("--jobs")->excludes(url);
  verb->add_flag("--deep", arguments->Deep,
                 "With --url: download every archive and check it as the client would (nothing "
                 "is written to disk)")
      ->needs(url);
  verb->add_option("--connections", arguments->Connections,
                   "With --url: requests at once (default 8)")
      ->type_name("N")
      ->check(CLI::Range(1, MaxJobs).description(""))
      ->needs(url);
  verb->add_option("--timeout", arguments->Timeout,
                   "With --url: seconds to wait for a connection or for the server's next bytes "
                   "(default 30)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 3600).description(""))
      ->needs(url);
  verb->footer("One line per problem, naming its file, then a summary line.\n"
               "Example:\n"
               "  vornel verify Upload\n"
               "  vornel verify --against /srv/client-clean --strict\n"
               "  vornel verify --url https://updates.example.com/game/ --deep Upload\n"
               "Exit codes: 0 all good; 1 problems found, or a bad option, setting or input (an\n"
               "unknown code page, a missing --against folder, a URL that cannot be used); 2 an\n"
               "error while working (the message names the cause).");
  verb->callback([arguments, &exitCode] { exitCode = RunVerify(*arguments); });
}

} // namespace vornel::cli
