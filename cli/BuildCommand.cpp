#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "cli/ProgressBar.h"

#include "app/BuildProcedure.h"
#include "app/PackEngine.h"
#include "app/Settings.h"
#include "app/UploadScan.h"
#include "platform/Console.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "zip/Compressor.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vornel::cli {

namespace {

struct BuildArguments {
  std::string CleanDir;
  bool Quiet = false;
  std::string Jobs;
  bool JobsGiven = false; // "--jobs ''" is a mistake, not the default
  bool Reuse = false;
  bool Prune = false;
  bool Json = false;
  bool DryRun = false;
  std::vector<std::string> Exclude;
  std::string CodePage;
  bool FollowLinks = false;
  std::string CompressorText;
  std::string LevelText;
  std::optional<std::string> Compressor;
  std::optional<std::string> Level;
};

std::string Count(std::size_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::uint64_t TotalBytes(const std::vector<DryRunReport::Item>& items) {
  std::uint64_t total = 0;
  for (const DryRunReport::Item& item : items)
    total += item.Bytes;
  return total;
}

// What a dry run found: one line per archive and stale item, then the counts.
// The settings in force, one line, for the dry run.
std::string SettingsText(const SettingsReport& settings) {
  std::string exclude;
  for (const std::string& pattern : settings.Exclude)
    exclude += (exclude.empty() ? "" : ";") + pattern;
  return "settings: self file " + settings.SelfName + ", Server=" + settings.Server +
         ", ModifyHost=" + settings.ModHost + ", code page " + settings.CodePage + ", " +
         settings.Compressor + ", exclude " + (exclude.empty() ? "nothing" : exclude) +
         ", links out of the tree " + (settings.FollowLinks ? "followed" : "refused") +
         (settings.Reuse ? ", reuse" : "") + (settings.Prune ? ", prune" : "") + "\n";
}

std::string DryRunSummary(const DryRunReport& report);

std::string DryRunText(const DryRunReport& report, const SettingsReport& settings) {
  std::string text = SettingsText(settings);
  for (const DryRunReport::Item& item : report.Pack)
    text += "pack " + item.RelativePath + " (" + ShortBytes(item.Bytes) + ")\n";
  for (const DryRunReport::Item& item : report.Keep)
    text += "keep " + item.RelativePath + " (" + ShortBytes(item.Bytes) + ")\n";
  for (const std::string& archive : report.StaleArchives)
    text += "stale " + archive + "\n";
  for (const std::string& folder : report.StaleFolders)
    text += "stale " + folder + "/\n";
  return text + DryRunSummary(report);
}

// The dry run's last line, all that --quiet prints.
std::string DryRunSummary(const DryRunReport& report) {
  return "dry run: " + Count(report.Pack.size(), "archive") + " to pack (" +
         ShortBytes(TotalBytes(report.Pack)) + "), " + std::to_string(report.Keep.size()) +
         " to keep (" + ShortBytes(TotalBytes(report.Keep)) + "), " +
         DescribeStale(static_cast<std::int32_t>(report.StaleArchives.size()),
                       static_cast<std::int32_t>(report.StaleFolders.size())) +
         " stale, " + Count(static_cast<std::size_t>(report.ExcludedFiles), "file") + " and " +
         Count(static_cast<std::size_t>(report.ExcludedFolders), "folder") +
         " excluded; nothing was written\n";
}

// Events for build pipelines: one JSON object per line on standard output.
class EventStream {
public:
  explicit EventStream(bool enabled) : enabled_(enabled) {}
  bool Enabled() const { return enabled_; }
  void Emit(const JsonLine& line) {
    if (enabled_)
      std::cout << line.Text() << '\n' << std::flush;
  }

private:
  bool enabled_;
};

// The terminal's stand-in for the window: the progress bar on stderr, the message kept for the
// end.
class TerminalBuildView final : public BuildView {
public:
  TerminalBuildView(ProgressBar& bar, EventStream& events, bool quiet)
      : bar_(bar), events_(events), quiet_(quiet) {}
  void SetProgressMax(std::int32_t maximum) override { bar_.SetMax(maximum); }
  void StepProgress(const std::string& relativePath) override { bar_.Step(relativePath); }
  void ResetProgress() override { bar_.Clear(); }
  void ShowBytesRead(std::uint64_t bytes) override { bar_.SetBytesDone(bytes); }
  void ShowStopping(std::size_t filesInFlight) override {
    const std::string text = "stopping after " + Count(filesInFlight, "file") + " in flight...";
    bar_.Clear();
    std::cerr << "vornel build: " << text << std::endl;
    events_.Emit(JsonLine().Add("event", "warning").Add("message", text));
  }
  void ShowMessage(const std::string& text) override { message_ = text; }
  void ShowWarning(const std::string& text) override {
    bar_.Clear();
    std::cerr << "warning: " << text << std::endl;
    events_.Emit(JsonLine().Add("event", "warning").Add("message", text));
  }
  void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) override {
    counts_ = "reused " + Count(static_cast<std::size_t>(reused), "archive") + ", packed " +
              std::to_string(packed);
    reused_ = reused;
    packed_ = packed;
  }
  void ShowSettings(const SettingsReport& report) override { settings_ = report; }
  void ShowUpdateCost(const std::string& text) override {
    bar_.Clear();
    std::cerr << text << std::endl;
    events_.Emit(JsonLine().Add("event", "cost").Add("message", text));
  }
  void ShowPlan(std::int32_t archives, std::uint64_t bytes) override {
    bar_.SetBytes(bytes);
    std::string exclude;
    for (const std::string& pattern : settings_.Exclude)
      exclude += (exclude.empty() ? "" : ";") + pattern;
    events_.Emit(JsonLine()
                     .Add("event", "start")
                     .Add("archives", archives)
                     .Add("bytes", bytes)
                     .Add("self", settings_.SelfName)
                     .Add("server", settings_.Server)
                     .Add("modifyHost", settings_.ModHost)
                     .Add("codePage", settings_.CodePage)
                     .Add("compressor", settings_.Compressor)
                     .Add("exclude", exclude)
                     .Add("followLinks", settings_.FollowLinks)
                     .Add("reuse", settings_.Reuse)
                     .Add("prune", settings_.Prune));
  }
  void ShowArchive(const ArchiveReport& report) override {
    ++finished_;
    events_.Emit(JsonLine()
                     .Add("event", "archive")
                     .Add("path", report.RelativePath)
                     .Add("crc", report.Crc)
                     .Add("size", report.ArchiveSize)
                     .Add("bytes", report.FileBytes)
                     .Add("reused", report.Reused));
  }
  void ShowStopped(const StopReport& report) override { stop_ = report; }
  void ShowDryRun(const DryRunReport& report) override {
    dryRun_ = quiet_ ? DryRunSummary(report) : DryRunText(report, settings_);
    events_.Emit(JsonLine()
                     .Add("event", "plan")
                     .Add("pack", report.Pack.size())
                     .Add("packBytes", TotalBytes(report.Pack))
                     .Add("keep", report.Keep.size())
                     .Add("keepBytes", TotalBytes(report.Keep))
                     .Add("staleArchives", report.StaleArchives.size())
                     .Add("staleFolders", report.StaleFolders.size())
                     .Add("excludedFiles", report.ExcludedFiles)
                     .Add("excludedFolders", report.ExcludedFolders));
  }
  const std::string& DryRun() const { return dryRun_; }
  void ShowStale(const StaleReport& report) override {
    const std::string what = DescribeStale(report.Archives, report.Folders);
    stale_ = report.Pruned ? "removed " + what + " from Upload/ that this build did not produce"
                           : "Upload/ holds " + what +
                                 " that this build did not produce (files deleted from the clean "
                                 "folder); --prune removes them";
  }

  const std::string& Message() const { return message_; }
  const std::string& Counts() const { return counts_; }
  const SettingsReport& Settings() const { return settings_; }
  const std::string& Stale() const { return stale_; }
  const StopReport& Stop() const { return stop_; }
  std::int32_t Finished() const { return finished_; }
  std::int32_t Reused() const { return reused_; }
  std::int32_t Packed() const { return packed_; }

private:
  ProgressBar& bar_;
  EventStream& events_;
  bool quiet_; // a dry run prints its summary only
  std::string message_;
  std::string counts_;
  std::string stale_;
  std::string dryRun_;
  SettingsReport settings_;
  StopReport stop_;
  std::int32_t finished_ = 0;
  std::int32_t reused_ = 0;
  std::int32_t packed_ = 0;
};

// Ctrl-C or a termination request lets the archives in flight finish, so every archive that
// updates.lst lists is whole; a second Ctrl-C ends the process at once.
std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

// Shells report a process ended by signal N as 128 + N; a build stopped by one says the same.
int StoppedExitCode() {
  const int signal = stopSignal.load();
  return signal > 0 ? 128 + signal : ExitError;
}

std::string StopMessage(const StopReport& stop, const std::string& cleanDir) {
  const bool plain = cleanDir.find_first_of(" \t\"'$&;|<>()*?`\\") == std::string::npos;
  return StoppedText(stop) + " Run 'vornel build --reuse " +
         (plain ? cleanDir : "\"" + cleanDir + "\"") +
         "' to finish: it keeps the finished archives.";
}

// "--jobs" as a whole number in range, or a one-line message.
bool ParseJobs(const std::string& text, bool given, int& jobs) {
  if (!given) {
    jobs = DefaultJobs();
    return true;
  }
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  jobs = std::stoi(text);
  return jobs >= 1 && jobs <= MaxJobs;
}

int Finish(EventStream& events, const std::string& outcome, int code, const JsonLine& extra) {
  JsonLine line = extra;
  events.Emit(line.Add("outcome", outcome).Add("exit", code));
  return code;
}

int RunBuild(const BuildArguments& arguments) {
  int jobs = 1;
  if (!ParseJobs(arguments.Jobs, arguments.JobsGiven, jobs)) {
    std::cerr << "vornel build: --jobs takes a whole number from 1 to " << MaxJobs << ", not \""
              << arguments.Jobs << "\"" << std::endl;
    return ExitRefused;
  }
  EventStream events(arguments.Json);
  ProgressBar bar(arguments.Quiet || arguments.Json);
  TerminalBuildView view(bar, events, arguments.Quiet);
  BuildOutcome outcome;
  try {
    const std::string workDir = CurrentDirectory();
    // No name yet: the build reads settings.ini once, the self file's name with the rest.
    Packer packer("");
    BuildOptions options;
    options.Jobs = jobs;
    options.Reuse = arguments.Reuse;
    options.Compressor = arguments.Compressor;
    options.Level = arguments.Level;
    options.Prune = arguments.Prune;
    options.DryRun = arguments.DryRun;
    options.Exclude = arguments.Exclude;
    options.CodePage = arguments.CodePage;
    options.FollowLinks = arguments.FollowLinks;
    options.StopRequested = &stopRequested;
    StopRequestHandler stopHandler(stopRequested, stopSignal);
    outcome = packer.Build(arguments.CleanDir, workDir, view, options);
  } catch (const std::exception& error) {
    bar.Clear();
    const std::string message = ErrorBoxText(error.what());
    std::cerr << message << std::endl;
    return Finish(
        events, "error", ExitError,
        JsonLine().Add("event", "end").Add("message", message).Add("archives", view.Finished()));
  }
  bar.Clear();
  JsonLine end;
  end.Add("event", "end").Add("archives", view.Finished());
  switch (outcome) {
  case BuildOutcome::Done: {
    if (arguments.DryRun) {
      if (!events.Enabled())
        std::cout << view.DryRun() << std::flush;
      return Finish(events, "dry-run", std::cout ? ExitOk : ExitError, end);
    }
    if (!view.Stale().empty()) {
      std::cerr << view.Stale() << std::endl;
      events.Emit(JsonLine().Add("event", "warning").Add("message", view.Stale()));
    }
    // The final message stays the one line it always was; the counts go beside it.
    if (view.Settings().Reuse && !view.Counts().empty())
      std::cerr << view.Counts() << std::endl;
    if (events.Enabled())
      return Finish(events, "done", ExitOk,
                    end.Add("listed", view.Finished())
                        .Add("reused", view.Reused())
                        .Add("packed", view.Packed())
                        .Add("message", view.Message()));
    std::cout << view.Message() << std::endl;
    return std::cout ? ExitOk : ExitError;
  }
  case BuildOutcome::Refused:
    std::cerr << view.Message() << std::endl;
    // A refused tree names each of its problems on a line of its own.
    for (std::size_t start = 0; start < view.Message().size();) {
      const std::size_t end = std::min(view.Message().find('\n', start), view.Message().size());
      events.Emit(JsonLine()
                      .Add("event", "problem")
                      .Add("message", view.Message().substr(start, end - start)));
      start = end + 1;
    }
    return Finish(events, "refused", ExitRefused, end.Add("message", view.Message()));
  case BuildOutcome::Stopped:
    break;
  }
  const std::string message = StopMessage(view.Stop(), arguments.CleanDir);
  std::cerr << message << std::endl;
  return Finish(events, "stopped", StoppedExitCode(), end.Add("listed", 0).Add("message", message));
}

std::string BuiltInCompressors() {
  std::string text = "built in here: zlib";
  for (const CompressorKind kind : {CompressorKind::Libdeflate, CompressorKind::Zopfli})
    if (CompressorBuiltIn(kind))
      text += std::string(", ") + CompressorName(kind);
  return text;
}

} // namespace

void RegisterBuildCommand(CLI::App& app, int& exitCode) {
  auto arguments = std::make_shared<BuildArguments>();
  CLI::App* verb = app.add_subcommand(
      "build", "Pack every file of a clean client tree into ./Upload and write updates.lst");
  verb->add_option("CLEAN_DIR", arguments->CleanDir, "The clean copy of the client installation")
      ->type_name("")
      ->required();
  verb->add_flag("-q,--quiet", arguments->Quiet,
                 "Draw no progress bar; with --dry-run, print only the summary line");
  auto* jobs = verb->add_option("-j,--jobs", arguments->Jobs,
                                "Files packed at once, 1 to " + std::to_string(MaxJobs) +
                                    " (default: the hardware threads)")
                   ->type_name("N");
  verb->add_flag("--reuse", arguments->Reuse,
                 "Keep an archive of an earlier build when its entry unpacks to exactly the "
                 "file's bytes (compared as both are read) and its records and bytes are those "
                 "packing it now writes; print how many were kept and packed (default: "
                 "\"Reuse=1\" in settings.ini)");
  verb->add_flag("--prune", arguments->Prune,
                 "After a whole build, remove the archives in Upload/ that it did not produce "
                 "(and folders left empty; default: \"Prune=1\" in settings.ini)");
  verb->add_flag("--dry-run", arguments->DryRun,
                 "Check the tree and print what a build would pack, keep (with --reuse) and "
                 "leave stale, with counts and bytes; write nothing");
  verb->add_option("--exclude", arguments->Exclude,
                   "Leave out files and folders matching PATTERN (\"*.pdb\", \".git/\", "
                   "\"logs/**\"); repeatable, added to the \"Exclude\" setting")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  verb->add_flag("--json", arguments->Json,
                 "Write one JSON object per line to standard output for each event");
  verb->add_option("--codepage", arguments->CodePage,
                   "The client's code page for the names in updates.lst and the archives: a "
                   "Windows code page number (1252, 1251, 932, ...) or utf-8 (default: "
                   "\"CodePage\" in settings.ini)")
      ->type_name("CP");
  verb->add_flag("--follow-links", arguments->FollowLinks,
                 "Publish what symbolic links leading out of the clean folder name (default: "
                 "\"FollowLinks=1\" in settings.ini; otherwise such a link refuses the tree)");
  auto* compressor =
      verb->add_option("--compressor", arguments->CompressorText,
                       "Deflate with zlib (the default), libdeflate or zopfli: smaller archives "
                       "that every unzip reads, for more time (" +
                           BuiltInCompressors() + "; default: \"Compressor\" in settings.ini)")
          ->type_name("NAME");
  auto* level = verb->add_option("--level", arguments->LevelText,
                                 "zlib 0-9 (default 9), libdeflate 1-12 (default 12), zopfli "
                                 "iterations 1-1000 (default 15); zlib and libdeflate also take "
                                 "none, superfast, fast, normal (6) and maximum; default: "
                                 "\"Level\" in settings.ini")
                    ->type_name("LEVEL");
  verb->footer("Reads settings.ini in the current folder once, section \"main\" (the window\n"
               "reads the same keys at every build; an option given here wins):\n"
               "  CustomName   the self file's name (default Teskor.exe)\n"
               "  Server       the manifest's Server= line (default 127.0.0.1)\n"
               "  ModHost      the manifest's ModifyHost= line (default 0)\n"
               "  CodePage     the client's code page for names (--codepage)\n"
               "  Compressor   zlib, libdeflate or zopfli (--compressor)\n"
               "  Level        the compressor's level or zopfli's iterations (--level)\n"
               "  Exclude      patterns left out, separated by \";\" (--exclude)\n"
               "  FollowLinks  publish what links out of the tree name (--follow-links)\n"
               "  Reuse        keep the archives of unchanged files (--reuse)\n"
               "  Prune        remove stale archives after a whole build (--prune)\n"
               "The last three take 1/0, yes/no or true/false (default no).\n"
               "Writes Upload/ in the current folder: into Upload.staging while it runs, and\n"
               "into Upload/ in one last step when whole. Names that are not plain ASCII need a\n"
               "code page; a tree with names Windows cannot hold, or with links leading out of\n"
               "it, is refused before anything is written. Nothing is written through a\n"
               "symbolic link in Upload/.\n"
               "Example:\n"
               "  vornel build /srv/client-clean\n"
               "Exit codes: 0 built; 1 refused (a bad option or setting, no self file, no usable\n"
               "clean folder or settings file, problems of the tree, one line each); 2 an error\n"
               "while working (the message names the cause); 130 stopped by Ctrl-C, 143 by a\n"
               "termination request; whenever it is not 0, Upload/ is as the last whole build\n"
               "left it.");
  verb->callback([arguments, jobs, compressor, level, &exitCode] {
    arguments->JobsGiven = jobs->count() > 0;
    if (compressor->count() > 0)
      arguments->Compressor = arguments->CompressorText;
    if (level->count() > 0)
      arguments->Level = arguments->LevelText;
    exitCode = RunBuild(*arguments);
  });
}

} // namespace vornel::cli
