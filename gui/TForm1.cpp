#include "gui/TForm1.h"

#include "app/WindowLayout.h"
#include "gui/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <cmath>

namespace vornel {

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(window::Caption));
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  QFont font(QStringLiteral("Sans Serif"), window::FontPoints);
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

  session_ = std::make_unique<BuildSession>(static_cast<SessionWindow&>(*this));
}

TForm1::~TForm1() {
  // The build posts to this window's widgets: it must be over before they go.
  session_.reset();
}

void TForm1::PlaceControls() {
  const QScreen* shown = screen();
  const double factor = shown ? shown->logicalDotsPerInch() / window::DesignDpi : 1.0;
  const auto scaled = [factor](const window::Place& place) {
    const auto s = [factor](int value) { return static_cast<int>(std::lround(value * factor)); };
    return QRect(s(place.X), s(place.Y), s(place.Width), s(place.Height));
  };
  setFixedSize(scaled(window::ClientArea).size());
  ShellTreeView1->setGeometry(scaled(window::TreePlace));
  Button1->setGeometry(scaled(window::BuildButtonPlace));
  Button2->setGeometry(scaled(window::AboutButtonPlace));
  Button3->setGeometry(scaled(window::QuitButtonPlace));
  ProgressBar1->setGeometry(scaled(window::ProgressPlace));
  if (shown) {
    const QRect desk = shown->availableGeometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
  }
}

void TForm1::Button1Click() {
  session_->Start(ShellTreeView1->SelectedPath());
}

void TForm1::Button2Click() {
  ShowPlain(window::AboutText);
}

void TForm1::Button3Click() {
  close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  session_->Close();
  event->accept();
  // Qt does not count a tool window as the application's last window, so closing the main form
  // ends the message loop here.
  QCoreApplication::quit();
}

void TForm1::SetBuilding(bool building) {
  ShellTreeView1->setEnabled(!building);
  Button1->setEnabled(!building);
  if (building)
    ProgressBar1->setValue(0);
}

// Never a blocking call: the window may be waiting for the build to stop.
void TForm1::PostProgressMax(std::int32_t maximum) {
  QProgressBar* bar = ProgressBar1;
  QMetaObject::invokeMethod(
      bar, [bar, maximum] { bar->setMaximum(maximum); }, Qt::QueuedConnection);
}

void TForm1::PostProgressStep() {
  QProgressBar* bar = ProgressBar1;
  QMetaObject::invokeMethod(
      bar, [bar] { bar->setValue(bar->value() + 1); }, Qt::QueuedConnection);
}

void TForm1::PostProgressReset() {
  QProgressBar* bar = ProgressBar1;
  QMetaObject::invokeMethod(
      bar, [bar] { bar->setValue(0); }, Qt::QueuedConnection);
}

void TForm1::PostBuildEnded() {
  QMetaObject::invokeMethod(
      this, [this] { session_->Ended(); }, Qt::QueuedConnection);
}

void TForm1::ShowPlain(const std::string& text) {
  ShowMessageBox(this, MessageKind::Plain, QApplication::applicationName(),
                 QString::fromStdString(text));
}

void TForm1::ShowProblemList(const std::string& excerpt, const std::string& heading,
                             const std::string& all) {
  ShowMessageBox(this, MessageKind::Plain, QApplication::applicationName(),
                 QString::fromStdString(excerpt), QString::fromStdString(heading + "\n" + all));
}

void TForm1::ShowError(const std::string& message) {
  ShowErrorBox(this, message);
}

} // namespace vornel
