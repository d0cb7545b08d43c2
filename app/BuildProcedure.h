#pragma once

// The build: from a clean folder to Upload/ with one archive per file and updates.lst.
// Core code with no user interface; a front end watches it through BuildView.

#include "app/TreeCheck.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornel {

// One archive of a build, finished (packed or kept).
struct ArchiveReport {
  std::string RelativePath; // the file's path, "/"-separated
  std::uint64_t FileBytes = 0;
  std::uint32_t Crc = 0;
  std::int32_t ArchiveSize = 0;
  bool Reused = false;
};

// A build that stopped early. The live folder is as the last whole build left it; what the build
// finished waits in its staging folder for the next build with --reuse.
struct StopReport {
  std::int32_t Finished = 0; // whole archives written or kept, the self file's included
  std::string Live;          // the folder clients read, unchanged; empty when not yet known
};

// "Build stopped: 3 archives finished and kept aside; "/srv/Upload" is as the last whole build
// left it." for every front end.
std::string StoppedText(const StopReport& report);

// Archives and folders in Upload/ that a whole build did not produce.
struct StaleReport {
  std::int32_t Archives = 0;
  std::int32_t Folders = 0;
  bool Pruned = false; // removed (--prune); Archives and Folders then count what went
};

// The settings a build goes by, from the command line or the window and settings.ini together.
struct SettingsReport {
  std::string SelfName;   // the self file's bare name
  std::string Server;     // as "Server=" will carry it
  std::string ModHost;    // as "ModifyHost=" will carry it
  std::string CodePage;   // "1252", "utf-8" or "none"
  std::string Compressor; // "zlib 9", "libdeflate 12", ...
  std::vector<std::string> Exclude;
  bool FollowLinks = false;
  bool Reuse = false; // --reuse or "Reuse=1"
  bool Prune = false; // --prune or "Prune=1"
};

// What a build would do, found by a dry run without writing anything.
struct DryRunReport {
  struct Item {
    std::string RelativePath; // "/"-separated; the self file is its bare name
    std::uint64_t Bytes = 0;
  };
  std::vector<Item> Pack;                 // archives that would be written, the self file's first
  std::vector<Item> Keep;                 // archives of an earlier build that --reuse would keep
  std::vector<std::string> StaleArchives; // in Upload/, produced by no file of the tree
  std::vector<std::string> StaleFolders;
  // Files and folders left out by the exclusion patterns, those below a folder left out too.
  std::int32_t ExcludedFiles = 0;
  std::int32_t ExcludedFolders = 0;
};

// What a front end shows while a build runs. Calls arrive on the thread that runs the build.
class BuildView {
public:
  virtual ~BuildView() = default;
  virtual void SetProgressMax(std::int32_t maximum) = 0;
  // One archive written; relativePath is the file just packed.
  virtual void StepProgress(const std::string& relativePath) = 0;
  virtual void ResetProgress() = 0;
  // The final message ("Done.N files packed.") or a refusal's message.
  virtual void ShowMessage(const std::string& text) = 0;
  // A refused tree: every problem found, before anything was written. The default shows them
  // all, one line each, as the message.
  virtual void ShowProblems(const std::vector<TreeProblem>& problems) {
    ShowMessage(ProblemListText(problems, problems.size()));
  }
  // Something the operator should know about a build that goes on. Front ends that do not show
  // it need not override it.
  virtual void ShowWarning(const std::string& text) { (void)text; }
  // Once before the final message of a finished build: archives kept from an earlier build
  // (--reuse) and archives packed, the self file's included. Front ends that do not show it
  // need not override it.
  virtual void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) {
    (void)reused;
    (void)packed;
  }
  // Once the build goes ahead: the archives it will write (the self file's included) and the
  // bytes of their files, for progress by bytes.
  virtual void ShowPlan(std::int32_t archives, std::uint64_t bytes) {
    (void)archives;
    (void)bytes;
  }
  // Once the settings are read and checked, before the tree is walked.
  virtual void ShowSettings(const SettingsReport& report) { (void)report; }
  // Each finished archive, just before its progress step.
  virtual void ShowArchive(const ArchiveReport& report) { (void)report; }
  // The bytes of the files read so far, those in flight included: before each progress step,
  // and a few times a second while a large file is packed.
  virtual void ShowBytesRead(std::uint64_t bytes) { (void)bytes; }
  // Once, as soon as the build notices a stop request: it stops after the files in flight.
  virtual void ShowStopping(std::size_t filesInFlight) { (void)filesInFlight; }
  // Instead of the final message when a build was stopped.
  virtual void ShowStopped(const StopReport& report) { (void)report; }
  // After a whole build: what the players download to go from the set it replaced to this one
  // ("players download 12 archives, 34.5 MiB (3 new, 9 changed, 2 removed)").
  virtual void ShowUpdateCost(const std::string& text) { (void)text; }
  // After a whole build, when Upload/ holds archives or folders it did not produce.
  virtual void ShowStale(const StaleReport& report) { (void)report; }
  // A dry run's findings, instead of the final message.
  virtual void ShowDryRun(const DryRunReport& report) { (void)report; }
};

enum class BuildOutcome { Done, Refused, Stopped };

struct BuildOptions {
  // Worker threads packing at once (at most 64); 1 is the serial procedure. Front ends pass
  // DefaultJobs() (app/PackEngine.h), the number of hardware threads.
  int Jobs = 1;
  // Keep archives in Upload/ whose entry unpacks to exactly the current file instead of packing
  // them again (app/ReuseCheck.h lists the checks). Every build records what it wrote for this.
  bool Reuse = false;
  // After a whole build, remove the archives (and then empty folders) in Upload/ that it did not
  // produce: files deleted from the clean tree since an earlier build.
  bool Prune = false;
  // Walk, check and report what a build would do (ShowDryRun), writing nothing at all.
  bool DryRun = false;
  // Patterns of files and folders to leave out (app/Exclusions.h), besides those of the
  // "Exclude" setting.
  std::vector<std::string> Exclude;
  // The client's code page as the operator gave it ("1252", "utf-8"); empty: key "CodePage"
  // of the settings, read at every build, else the platform's own.
  std::string CodePage;
  // Publish what links leading out of the clean folder name; else (and without "FollowLinks=1"
  // in the settings) such a link refuses the tree.
  bool FollowLinks = false;
  // Set from another thread to stop after the files in flight (the window's close).
  const std::atomic<bool>* StopRequested = nullptr;
  // The compressor ("zlib", "libdeflate", "zopfli") and level the front end was told to use;
  // unset, the settings file's keys "Compressor" and "Level" decide (app/Settings.h).
  std::optional<std::string> Compressor;
  std::optional<std::string> Level;
};

// The packer's state for the life of the process: the self-file name read once at start-up and
// the per-build values.
class Packer {
public:
  // An empty name is taken from the settings that the first build reads (a one-build process
  // then opens the settings file once), and kept from then on.
  explicit Packer(std::string customName) : CustomName(std::move(customName)) {}

  // Reads "CustomName" of section "main" from the settings file (default "Teskor.exe").
  static std::string ReadCustomName(const std::string& settingsPath);

  // Runs one build of cleanRoot into workDir + "/Upload", reading workDir + "/settings.ini".
  // Errors propagate as exceptions after the per-build values have been reset, so the next
  // build starts clean.
  BuildOutcome Build(const std::string& cleanRoot, const std::string& workDir, BuildView& view,
                     const BuildOptions& options = {});

  // FileCount 0, SelfFound 0, FileNumber 1: the state between builds.
  void ResetBuildValues();

  std::string CustomName;
  std::int32_t FileCount = 0;
  std::int32_t SelfFound = 0;
  std::int32_t FileNumber = 1;
};

// Every occurrence of search replaced, left to right, non-overlapping; empty search: unchanged.
std::string ReplaceAll(const std::string& source, const std::string& search,
                       const std::string& replacement);
// Low 32 bits of the size of the file at path; -1 when missing or a directory.
std::int32_t FoundFileSize(const std::string& path);

} // namespace vornel
