#include "gui/Startup.h"

#include "crc/Crc32.h"

#include <QApplication>
#include <QIcon>

namespace vornel {

void InitialiseApplication() {
  QApplication::setApplicationName(QStringLiteral("Vornel"));
  Crc32Table();
}

} // namespace vornel
