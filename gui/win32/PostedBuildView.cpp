#include "gui/win32/PostedBuildView.h"

namespace vornel::win32 {

void PostedBuildView::SetTreeEnabled(bool enabled) {
  PostMessageW(window_, WM_BUILD_TREE_ENABLED, enabled ? 1 : 0, 0);
}

void PostedBuildView::SetProgressMax(std::int32_t maximum) {
  PostMessageW(window_, WM_BUILD_PROGRESS_MAX, static_cast<WPARAM>(maximum), 0);
}

void PostedBuildView::StepProgress(const std::string& /*relativePath*/) {
  PostMessageW(window_, WM_BUILD_PROGRESS_STEP, 0, 0);
}

void PostedBuildView::ResetProgress() {
  PostMessageW(window_, WM_BUILD_PROGRESS_RESET, 0, 0);
}

} // namespace vornel::win32
