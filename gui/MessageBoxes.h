#pragma once

// Every message box of the window goes through one replaceable hook, so that tests can read
// what would be shown instead of blocking on a modal dialog.

#include <QString>
#include <functional>

class QWidget;

namespace vornel {

enum class MessageKind { Plain, Critical };

using MessageBoxHook = std::function<void(QWidget* parent, MessageKind kind, const QString& caption,
                                          const QString& text, const QString& details)>;

// Replaces the hook; an empty function puts the modal message box back.
void SetMessageBoxHook(MessageBoxHook hook);

// Shows a box with one OK button: no icon for Plain, the stop icon for Critical; details, when
// given, behind the box's "Show Details..." button, where they scroll.
void ShowMessageBox(QWidget* parent, MessageKind kind, const QString& caption, const QString& text,
                    const QString& details = {});

// The error box: the error's text as ErrorBoxText gives it, the application's name as caption.
void ShowErrorBox(QWidget* parent, const std::string& message);

} // namespace vornel
