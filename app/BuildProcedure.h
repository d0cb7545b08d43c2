#pragma once

// The build: from a clean folder to Upload/ with one archive per file and updates.lst.
// Core code with no user interface; a front end watches it through BuildView.

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace vornel {

// What a front end shows while a build runs. Calls arrive on the thread that runs the build.
class BuildView {
public:
  virtual ~BuildView() = default;
  virtual void SetTreeEnabled(bool enabled) = 0;
  virtual void SetProgressMax(std::int32_t maximum) = 0;
  // One archive written; relativePath is the file just packed.
  virtual void StepProgress(const std::string& relativePath) = 0;
  virtual void ResetProgress() = 0;
  // The final message ("Done.N files packed.") or a refusal's message.
  virtual void ShowMessage(const std::string& text) = 0;
  // Once before the final message of a finished build: archives kept from an earlier build
  // (--reuse) and archives packed, the self file's included. Front ends that do not show it
  // need not override it.
  virtual void ShowArchiveCounts(std::int32_t reused, std::int32_t packed) {
    (void)reused;
    (void)packed;
  }
};

enum class BuildOutcome { Done, Refused, Stopped };

struct BuildOptions {
  // Worker threads packing at once (at most 64); 1 is the serial procedure. Front ends pass
  // DefaultJobs() (app/PackEngine.h), the number of hardware threads.
  int Jobs = 1;
  // Keep archives in Upload/ that provably hold the current file instead of packing them again
  // (app/ReuseCheck.h says what proves it). Every build records what it wrote for this.
  bool Reuse = false;
  // Set from another thread to stop after the files in flight (the window's close).
  const std::atomic<bool>* StopRequested = nullptr;
};

// The packer's state for the life of the process: the self-file name read once at start-up and
// the per-build values.
class Packer {
public:
  explicit Packer(std::string customName) : CustomName(std::move(customName)) {}

  // Reads "CustomName" of section "main" from the settings file (default "Teskor.exe").
  static std::string ReadCustomName(const std::string& settingsPath);

  // Runs one build of cleanRoot into workDir + "/Upload", reading workDir + "/settings.ini".
  // Errors propagate as exceptions after the view has been set back (tree enabled) and the
  // per-build values reset, so the next build starts clean.
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
