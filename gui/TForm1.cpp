#include "gui/TForm1.h"

#include "app/PackEngine.h"
#include "gui/MessageBoxes.h"
#include "gui/QueuedBuildView.h"
#include "platform/FileSystem.h"

#include <QApplication>
#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

namespace vornel {

namespace {

const QString kCaption = QStringLiteral("  Vornel v0.801a");
const QString kAboutText = QStringLiteral("Teskor v0.79a.  Vornel developers, 2026");

// Sizes are laid out for 96 dots per inch and follow the screen's logical resolution.
constexpr double kDesignDpi = 96.0;

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(kCaption);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);

  ShellTreeView1 = new FolderTree(this);
  Button1 = new QPushButton(QStringLiteral("Build"), this);
  Button2 = new QPushButton(QStringLiteral("About"), this);
  Button3 = new QPushButton(QStringLiteral("Quit"), this);
  ProgressBar1 = new QProgressBar(this);
  ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2->setObjectName(QStringLiteral("Button2"));
  Button3->setObjectName(QStringLiteral("Button3"));
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  setTabOrder(ShellTreeView1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, ProgressBar1);
  PlaceControls();

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(&watcher_, &QFutureWatcher<BuildResult>::finished, this, &TForm1::BuildEnded);

  FormCreate();
}

TForm1::~TForm1() {
  // The build uses this window's packer and widgets: it must be over before they go.
  StopBuildAndWait();
}

void TForm1::FormCreate() {
  packer_ = std::make_unique<Packer>(
      Packer::ReadCustomName(JoinPath(CurrentDirectory(), "settings.ini")));
  packer_->FileNumber = 1;
}

void TForm1::PlaceControls() {
  const QScreen* shown = screen();
  const double factor = shown ? shown->logicalDotsPerInch() / kDesignDpi : 1.0;
  const auto scaled = [factor](int x, int y, int w, int h) {
    return QRect(
        static_cast<int>(std::lround(x * factor)), static_cast<int>(std::lround(y * factor)),
        static_cast<int>(std::lround(w * factor)), static_cast<int>(std::lround(h * factor)));
  };
  setFixedSize(scaled(0, 0, 305, 315).size());
  ShellTreeView1->setGeometry(scaled(4, 4, 219, 277));
  Button1->setGeometry(scaled(228, 4, 75, 25));
  Button2->setGeometry(scaled(228, 32, 75, 25));
  Button3->setGeometry(scaled(228, 286, 75, 25));
  ProgressBar1->setGeometry(scaled(4, 286, 219, 25));
  if (shown) {
    const QRect desk = shown->availableGeometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
  }
}

void TForm1::Button1Click() {
  if (BuildRunning())
    return;
  try {
    const std::string cleanRoot = ShellTreeView1->SelectedPath();
    const std::string workDir = CurrentDirectory();
    ShellTreeView1->setEnabled(false);
    Button1->setEnabled(false);
    // A failed build leaves the bar where it stopped; the next one counts from the start.
    ProgressBar1->setValue(0);
    stopRequested_ = false;
    view_ = std::make_unique<QueuedBuildView>(ShellTreeView1, ProgressBar1);
    BuildOptions options;
    options.Jobs = DefaultJobs();
    options.StopRequested = &stopRequested_;
    future_ = QtConcurrent::run([this, cleanRoot, workDir, options, view = view_.get()] {
      return RunBuildOnWorker(*packer_, cleanRoot, workDir, *view, options);
    });
    watcher_.setFuture(future_);
  } catch (const std::exception& error) {
    std::string unused;
    FinishBuild(unused);
    ShowErrorBox(this, error.what());
  }
}

BuildResult TForm1::FinishBuild(std::string& message) {
  BuildResult result;
  if (future_.isValid() && future_.isFinished() && future_.resultCount() > 0)
    result = future_.result();
  future_ = {};
  if (view_)
    message = view_->TakeMessage();
  view_.reset();
  ShellTreeView1->setEnabled(true);
  Button1->setEnabled(true);
  return result;
}

void TForm1::BuildEnded() {
  if (!BuildRunning())
    return; // already wound up by a close while it ran
  std::string message;
  const BuildResult result = FinishBuild(message);
  if (result.Failed)
    ShowErrorBox(this, result.Error);
  else if (!message.empty())
    ShowMessageBox(this, MessageKind::Plain, QApplication::applicationName(),
                   QString::fromStdString(message));
  emit buildFinished();
}

void TForm1::StopBuildAndWait() {
  if (!BuildRunning())
    return;
  stopRequested_ = true;
  future_.waitForFinished();
}

void TForm1::Button2Click() {
  ShowMessageBox(this, MessageKind::Plain, QApplication::applicationName(), kAboutText);
}

void TForm1::Button3Click() {
  close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (BuildRunning()) {
    // No question asked: the file being packed is finished, then the build stops. The window
    // takes no input meanwhile because this thread waits.
    StopBuildAndWait();
    std::string message;
    const BuildResult result = FinishBuild(message);
    if (result.Failed)
      ShowErrorBox(this, result.Error);
    else if (!message.empty()) // what clients read is as it was: the operator should know
      ShowMessageBox(this, MessageKind::Plain, QApplication::applicationName(),
                     QString::fromStdString(message));
    emit buildFinished();
  }
  event->accept();
  // Qt does not count a tool window as the application's last window, so closing the main form
  // ends the message loop here.
  QCoreApplication::quit();
}

} // namespace vornel
