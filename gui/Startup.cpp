#include "gui/Startup.h"

#include "app/WindowLayout.h"
#include "crc/Crc32.h"

#include <QApplication>
#include <QIcon>

namespace vornel {

void InitialiseApplication() {
  QApplication::setApplicationName(QString::fromUtf8(window::ApplicationName));
  Crc32Table();
}

} // namespace vornel
