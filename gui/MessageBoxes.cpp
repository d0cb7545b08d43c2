#include "gui/MessageBoxes.h"

#include "platform/Errors.h"

#include <QApplication>
#include <QMessageBox>

namespace vornel {

namespace {

MessageBoxHook& CurrentHook() {
  static MessageBoxHook hook;
  return hook;
}

void ShowModalBox(QWidget* parent, MessageKind kind, const QString& caption, const QString& text,
                  const QString& details) {
  const auto icon = kind == MessageKind::Critical ? QMessageBox::Critical : QMessageBox::NoIcon;
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setDetailedText(details);
  box.exec();
}

} // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  CurrentHook() = std::move(hook);
}

void ShowMessageBox(QWidget* parent, MessageKind kind, const QString& caption, const QString& text,
                    const QString& details) {
  if (CurrentHook())
    CurrentHook()(parent, kind, caption, text, details);
  else
    ShowModalBox(parent, kind, caption, text, details);
}

void ShowErrorBox(QWidget* parent, const std::string& message) {
  ShowMessageBox(parent, MessageKind::Critical, QApplication::applicationName(),
                 QString::fromStdString(ErrorBoxText(message)));
}

} // namespace vornel
