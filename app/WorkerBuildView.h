#pragma once

// What every window needs for a build on a worker thread: a result that carries an error back to
// the window's thread, and a view that keeps the final message for that thread to show once the
// build has ended and lists as many problems of a refused tree as a message box has room for.

#include "app/BuildProcedure.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace vornel {

// How a build on a worker thread ended, for the window's thread.
struct BuildResult {
  BuildOutcome Outcome = BuildOutcome::Stopped;
  bool Failed = false;
  std::string Error; // the exception's message when Failed
};

// Runs the build; an error it raises is caught and returned, for no exception may leave a
// worker thread.
BuildResult RunBuildOnWorker(Packer& packer, const std::string& cleanRoot,
                             const std::string& workDir, BuildView& view,
                             const BuildOptions& options);

class WorkerBuildView : public BuildView {
public:
  static constexpr std::size_t ProblemsShown = 10;

  void ShowMessage(const std::string& text) override;
  void ShowProblems(const std::vector<TreeProblem>& problems) override;
  // A stopped build (the window's close) says that what clients read is unchanged.
  void ShowStopped(const StopReport& report) override;

  // The last message the build gave, emptied by the call.
  std::string TakeMessage();

private:
  std::mutex mutex_;
  std::string message_;
};

} // namespace vornel
