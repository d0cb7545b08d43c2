#include "GuiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <iostream>

namespace vornel::test {

MessageRecorder::MessageRecorder() {
  SetMessageBoxHook([this](QWidget*, MessageKind kind, const QString& caption, const QString& text,
                           const QString& details) {
    Messages.push_back({kind, caption, text, details});
  });
}

MessageRecorder::~MessageRecorder() {
  SetMessageBoxHook({});
}

WorkingDirectory::WorkingDirectory() : previous_(QDir::currentPath()) {
  if (!dir_.isValid() || !QDir::setCurrent(dir_.path())) {
    std::cerr << "cannot enter a temporary working directory\n";
    std::abort();
  }
}

WorkingDirectory::~WorkingDirectory() {
  QDir::setCurrent(previous_);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    std::cerr << "cannot write " << path.toStdString() << "\n";
    std::abort();
  }
}

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\n"));
  for (QString& line : lines)
    if (line.endsWith(QLatin1Char('\r')))
      line.chop(1);
  if (!lines.isEmpty() && lines.last().isEmpty())
    lines.removeLast();
  return lines;
}

} // namespace vornel::test
