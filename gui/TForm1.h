#pragma once

// The main window: the folder tree, Build, About, Quit and the progress bar. Its builds run
// through the core's BuildSession; the window holds the widgets and shows what the session says.

#include "app/BuildSession.h"
#include "gui/FolderTree.h"

#include <QWidget>
#include <memory>

class QProgressBar;
class QPushButton;

namespace vornel {

class TForm1 : public QWidget, private SessionWindow {
  Q_OBJECT

public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  bool BuildRunning() const { return session_->Running(); }
  bool StopRequested() const { return session_->StopRequested(); }
  const Packer& PackerState() const { return session_->PackerState(); }

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
  void PlaceControls();

  void SetBuilding(bool building) override;
  void PostProgressMax(std::int32_t maximum) override;
  void PostProgressStep() override;
  void PostProgressReset() override;
  void PostBuildEnded() override;
  void ShowPlain(const std::string& text) override;
  void ShowProblemList(const std::string& excerpt, const std::string& heading,
                       const std::string& all) override;
  void ShowError(const std::string& message) override;
  void BuildFinished() override { emit buildFinished(); }

  std::unique_ptr<BuildSession> session_;
};

} // namespace vornel
