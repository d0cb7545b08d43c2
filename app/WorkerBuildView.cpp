#include "app/WorkerBuildView.h"

#include <utility>

namespace vornel {

void WorkerBuildView::ShowMessage(const std::string& text) {
  std::lock_guard lock(mutex_);
  message_ = text;
}

void WorkerBuildView::ShowProblems(const std::vector<TreeProblem>& problems) {
  ShowMessage(ProblemListText(problems, ProblemsShown));
}

std::string WorkerBuildView::TakeMessage() {
  std::lock_guard lock(mutex_);
  return std::exchange(message_, {});
}

} // namespace vornel
