#pragma once

// The window's side of a build running on a worker thread: tree and progress changes are posted
// to the window in the order the build makes them; the final message is kept for the window to
// show once the build has ended. Posting never blocks, so a window waiting for its build to stop
// cannot deadlock with it.

#include "app/WorkerBuildView.h"

#include <string>

#include <windows.h>

namespace vornel::win32 {

// Messages the build posts to the window.
inline constexpr UINT WM_BUILD_TREE_ENABLED = WM_APP + 1; // wParam: 1 enabled, 0 disabled
inline constexpr UINT WM_BUILD_PROGRESS_MAX = WM_APP + 2; // wParam: the maximum
inline constexpr UINT WM_BUILD_PROGRESS_STEP = WM_APP + 3;
inline constexpr UINT WM_BUILD_PROGRESS_RESET = WM_APP + 4;
inline constexpr UINT WM_BUILD_ENDED = WM_APP + 5;

class PostedBuildView : public WorkerBuildView {
public:
  explicit PostedBuildView(HWND window) : window_(window) {}

  void SetTreeEnabled(bool enabled) override;
  void SetProgressMax(std::int32_t maximum) override;
  void StepProgress(const std::string& relativePath) override;
  void ResetProgress() override;

private:
  HWND const window_;
};

} // namespace vornel::win32
