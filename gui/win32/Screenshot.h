#pragma once

// A picture of a window as the window draws itself, frame included.

#include <string>

#include <windows.h>

namespace vornel::win32 {

// Renders window with PrintWindow and saves it as a PNG; raises when it cannot.
void SaveWindowPicture(HWND window, const std::string& path);

} // namespace vornel::win32
