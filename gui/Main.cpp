#include "gui/MessageBoxes.h"
#include "gui/Startup.h"
#include "gui/TForm1.h"

#include <QApplication>
#include <QTimer>
#include <exception>
#include <memory>

namespace {

// "--screenshot PATH": show the window, save a picture of it to PATH and end.
QString ScreenshotPath(const QStringList& arguments) {
  const qsizetype at = arguments.indexOf(QStringLiteral("--screenshot"));
  return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
}

} // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  vornel::InitialiseApplication();

  std::unique_ptr<vornel::TForm1> form;
  try {
    form = std::make_unique<vornel::TForm1>();
  } catch (const std::exception& error) {
    vornel::ShowErrorBox(nullptr, error.what());
    return 1;
  }
  form->show();

  const QString screenshot = ScreenshotPath(QApplication::arguments());
  if (!screenshot.isEmpty()) {
    // The folder tree fills in on a background thread; give it a moment before the picture.
    QTimer::singleShot(1500, form.get(), [&] {
      const bool saved = form->grab().save(screenshot);
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
