#include "app/WorkerBuildView.h"

#include <exception>
#include <utility>

namespace vornel {

BuildResult RunBuildOnWorker(Packer& packer, const std::string& cleanRoot,
                             const std::string& workDir, BuildView& view,
                             const BuildOptions& options) {
  BuildResult result;
  try {
    result.Outcome = packer.Build(cleanRoot, workDir, view, options);
  } catch (const std::exception& error) {
    result.Failed = true;
    result.Error = error.what();
  } catch (...) {
    result.Failed = true;
    result.Error = "Unknown error";
  }
  return result;
}

void WorkerBuildView::ShowMessage(const std::string& text) {
  std::lock_guard lock(mutex_);
  message_ = text;
}

void WorkerBuildView::ShowProblems(const std::vector<TreeProblem>& problems) {
  ShowMessage(ProblemListText(problems, ProblemsShown));
}

void WorkerBuildView::ShowStopped(const StopReport& report) {
  ShowMessage(StoppedText(report));
}

std::string WorkerBuildView::TakeMessage() {
  std::lock_guard lock(mutex_);
  return std::exchange(message_, {});
}

} // namespace vornel
