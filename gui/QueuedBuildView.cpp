#include "gui/QueuedBuildView.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QWidget>

namespace vornel {

// Never a blocking call: the window may be waiting for the build to stop.
void QueuedBuildView::SetTreeEnabled(bool enabled) {
  QWidget* tree = tree_;
  QMetaObject::invokeMethod(
      tree, [tree, enabled] { tree->setEnabled(enabled); }, Qt::QueuedConnection);
}

void QueuedBuildView::SetProgressMax(std::int32_t maximum) {
  QProgressBar* bar = progress_;
  QMetaObject::invokeMethod(
      bar, [bar, maximum] { bar->setMaximum(maximum); }, Qt::QueuedConnection);
}

void QueuedBuildView::StepProgress(const std::string& /*relativePath*/) {
  QProgressBar* bar = progress_;
  QMetaObject::invokeMethod(
      bar, [bar] { bar->setValue(bar->value() + 1); }, Qt::QueuedConnection);
}

void QueuedBuildView::ResetProgress() {
  QProgressBar* bar = progress_;
  QMetaObject::invokeMethod(
      bar, [bar] { bar->setValue(0); }, Qt::QueuedConnection);
}

} // namespace vornel
