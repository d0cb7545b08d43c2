#pragma once

// The window's message boxes: one OK button and the application's name as caption; no icon for
// outcomes and About, the stop icon for errors.

#include <string>

#include <windows.h>

namespace vornel::win32 {

void ShowPlainBox(HWND owner, const std::string& text);
// The error's message with the full stop rule of ErrorBoxText applied.
void ShowErrorBox(HWND owner, const std::string& message);

// The control of ShowListBox that holds the lines.
inline constexpr int ListBoxLinesId = 100;
// A box for more lines than a message box holds: the heading, then every line in a read-only
// text field that scrolls (its text can be selected and copied), and OK.
void ShowListBox(HWND owner, const std::string& heading, const std::string& lines);

} // namespace vornel::win32
