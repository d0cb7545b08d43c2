#pragma once

// Helpers for the window's tests: message boxes read through the hook, files written and read
// with Qt, and the working directory moved into a temporary folder for one test.

#include "gui/MessageBoxes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace vornel::test {

struct ShownMessage {
  MessageKind Kind;
  QString Caption;
  QString Text;
  QString Details;
};

// Installs the hook for its lifetime: every box is recorded instead of shown.
class MessageRecorder {
public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  std::vector<ShownMessage> Messages;
};

// Enters a fresh temporary folder as the working directory; goes back and removes it at the end.
class WorkingDirectory {
public:
  WorkingDirectory();
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

  QString Path() const { return dir_.path(); }
  QString operator/(const QString& relative) const { return dir_.filePath(relative); }

private:
  QString previous_;
  QTemporaryDir dir_;
};

// Writes bytes to path, creating parent folders; fails the process when it cannot.
void WriteFile(const QString& path, const QByteArray& bytes);
// The lines of a text file without their line ends; empty when the file is missing.
QStringList ReadLines(const QString& path);

} // namespace vornel::test
