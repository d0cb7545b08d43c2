#pragma once

// The window's side of a build running on a worker thread: progress and tree changes are posted
// to the window's thread in the order the build makes them; the final message is kept for the
// window to show once the build has ended.

#include "app/BuildProcedure.h"

#include <mutex>
#include <string>
#include <utility>

class QProgressBar;
class QWidget;

namespace vornel {

class QueuedBuildView : public BuildView {
public:
  // Both widgets must outlive the build (the window waits for its build before going away).
  QueuedBuildView(QWidget* tree, QProgressBar* progress) : tree_(tree), progress_(progress) {}

  void SetTreeEnabled(bool enabled) override;
  void SetProgressMax(std::int32_t maximum) override;
  void StepProgress(const std::string& relativePath) override;
  void ResetProgress() override;
  void ShowMessage(const std::string& text) override;
  // A message box has room for the first ten problems; the rest are counted.
  void ShowProblems(const std::vector<TreeProblem>& problems) override;
  static constexpr std::size_t ProblemsShown = 10;

  // The last message the build gave, emptied by the call.
  std::string TakeMessage();

private:
  QWidget* const tree_;
  QProgressBar* const progress_;
  std::mutex mutex_;
  std::string message_;
};

} // namespace vornel
