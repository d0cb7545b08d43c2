#pragma once

// The main window: the folder tree, Build, About, Quit and the progress bar. The build itself
// is the core's Packer::Build, run on a worker thread while the window shows its progress.

#include "app/BuildProcedure.h"
#include "app/WorkerBuildView.h"
#include "gui/FolderTree.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>

class QProgressBar;
class QPushButton;

namespace vornel {

class QueuedBuildView;

// What a build on the worker thread came back with.
class TForm1 : public QWidget {
  Q_OBJECT

public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  bool BuildRunning() const { return view_ != nullptr; }
  const Packer& PackerState() const { return *packer_; }

  FolderTree* ShellTreeView1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QProgressBar* ProgressBar1;

signals:
  // The build started by Build has ended and its outcome has been shown.
  void buildFinished();

public slots:
  void Button1Click();
  void Button2Click();
  void Button3Click();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void FormCreate();
  void PlaceControls();
  void BuildEnded();
  // Puts the window back to idle and returns what the build left to show.
  BuildResult FinishBuild(std::string& message);
  void StopBuildAndWait();

  std::unique_ptr<Packer> packer_;
  std::unique_ptr<QueuedBuildView> view_;
  std::atomic<bool> stopRequested_{false};
  QFuture<BuildResult> future_;
  QFutureWatcher<BuildResult> watcher_;
};

} // namespace vornel
