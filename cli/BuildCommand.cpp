#include "cli/Commands.h"
#include "cli/ProgressBar.h"

#include "app/BuildProcedure.h"
#include "app/PackEngine.h"
#include "app/Settings.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>

namespace vornel::cli {

namespace {

struct BuildArguments {
  std::string CleanDir;
  bool Quiet = false;
  int Jobs = DefaultJobs();
  bool Reuse = false;
};

// The terminal's stand-in for the window: the progress bar on stderr, the message kept for the
// end (a terminal has no folder tree to disable).
class TerminalBuildView final : public BuildView {
public:
  explicit TerminalBuildView(ProgressBar& bar) : bar_(bar) {}
  void SetTreeEnabled(bool) override {}
  void SetProgressMax(std::int32_t maximum) override { bar_.SetMax(maximum); }
  void StepProgress(const std::string& relativePath) override { bar_.Step(relativePath); }
  void ResetProgress() override { bar_.Clear(); }
  void ShowMessage(const std::string& text) override { message_ = text; }
  void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) override {
    counts_ = "reused " + std::to_string(reused) + " archives, packed " + std::to_string(packed);
  }
  const std::string& Message() const { return message_; }
  const std::string& Counts() const { return counts_; }

private:
  ProgressBar& bar_;
  std::string message_;
  std::string counts_;
};

// Ctrl-C or a termination request lets the archive in flight finish, so every archive that
// updates.lst lists is whole; a second Ctrl-C ends the process at once.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void RequestStop(int) {
  stopRequested.store(true);
}

class StopSignals {
public:
  StopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~StopSignals() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

int RunBuild(const BuildArguments& arguments) {
  ProgressBar bar(arguments.Quiet);
  TerminalBuildView view(bar);
  BuildOutcome outcome;
  try {
    const std::string workDir = CurrentDirectory();
    Packer packer(Packer::ReadCustomName(SettingsPathIn(workDir)));
    BuildOptions options;
    options.Jobs = arguments.Jobs;
    options.Reuse = arguments.Reuse;
    options.StopRequested = &stopRequested;
    StopSignals signals;
    outcome = packer.Build(arguments.CleanDir, workDir, view, options);
  } catch (const std::exception& error) {
    bar.Clear();
    std::cerr << ErrorBoxText(error.what()) << std::endl;
    return ExitError;
  }
  bar.Clear();
  switch (outcome) {
  case BuildOutcome::Done:
    // The final message stays the one line it always was; the counts go beside it.
    if (arguments.Reuse && !view.Counts().empty())
      std::cerr << view.Counts() << std::endl;
    std::cout << view.Message() << std::endl;
    return std::cout ? ExitOk : ExitError;
  case BuildOutcome::Refused:
    std::cerr << view.Message() << std::endl;
    return ExitRefused;
  case BuildOutcome::Stopped:
    break;
  }
  std::cerr << "Build stopped; updates.lst lists the archives finished so far" << std::endl;
  return ExitError;
}

} // namespace

void RegisterBuildCommand(CLI::App& app, int& exitCode) {
  auto arguments = std::make_shared<BuildArguments>();
  CLI::App* verb = app.add_subcommand(
      "build", "Pack every file of a clean client tree into ./Upload and write updates.lst");
  verb->add_option("CLEAN_DIR", arguments->CleanDir, "The clean copy of the client installation")
      ->required();
  verb->add_flag("-q,--quiet", arguments->Quiet, "Draw no progress bar");
  verb->add_option("-j,--jobs", arguments->Jobs,
                   "Files packed at once (default: the hardware threads; at most " +
                       std::to_string(MaxJobs) + ")")
      ->check(CLI::PositiveNumber);
  verb->add_flag("--reuse", arguments->Reuse,
                 "Keep an archive of an earlier build when its entry unpacks to exactly the "
                 "file's bytes (compared as both are read) and its records and bytes are those "
                 "packing it now writes; print how many were kept and packed");
  verb->footer("Reads settings.ini (section \"main\": CustomName, Server, ModHost) and writes\n"
               "Upload/ in the current folder.\n"
               "Example:\n"
               "  vornel build /srv/client-clean\n"
               "Exit codes: 0 built, 1 refused (no self file, no usable clean folder),\n"
               "2 error (the message names the cause).");
  verb->callback([arguments, &exitCode] { exitCode = RunBuild(*arguments); });
}

} // namespace vornel::cli
