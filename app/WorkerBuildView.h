#pragma once

// What every window's view of a build on a worker thread shares: the final message is kept for
// the window's own thread, which shows it once the build has ended, and a refusal lists as many
// problems as a message box has room for.

#include "app/BuildProcedure.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace vornel {

class WorkerBuildView : public BuildView {
public:
  static constexpr std::size_t ProblemsShown = 10;

  void ShowMessage(const std::string& text) override;
  void ShowProblems(const std::vector<TreeProblem>& problems) override;

  // The last message the build gave, emptied by the call.
  std::string TakeMessage();

private:
  std::mutex mutex_;
  std::string message_;
};

} // namespace vornel
