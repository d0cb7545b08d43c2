#pragma once

// The window's side of a build running on a worker thread: progress and tree changes are posted
// to the window's thread in the order the build makes them; the final message is kept for the
// window to show once the build has ended.

#include "app/WorkerBuildView.h"

#include <string>

class QProgressBar;
class QWidget;

namespace vornel {

class QueuedBuildView : public WorkerBuildView {
public:
  // Both widgets must outlive the build (the window waits for its build before going away).
  QueuedBuildView(QWidget* tree, QProgressBar* progress) : tree_(tree), progress_(progress) {}

  void SetTreeEnabled(bool enabled) override;
  void SetProgressMax(std::int32_t maximum) override;
  void StepProgress(const std::string& relativePath) override;
  void ResetProgress() override;

private:
  QWidget* const tree_;
  QProgressBar* const progress_;
};

} // namespace vornel
