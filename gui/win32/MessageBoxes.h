#pragma once

// The window's message boxes: one OK button and the application's name as caption; no icon for
// outcomes and About, the stop icon for errors.

#include <string>

#include <windows.h>

namespace vornel::win32 {

void ShowPlainBox(HWND owner, const std::string& text);
// The error's message with the full stop rule of ErrorBoxText applied.
void ShowErrorBox(HWND owner, const std::string& message);

} // namespace vornel::win32
