#pragma once

// Draws a top-level window with its frame, caption and child controls into a device context,
// for WM_PRINT. Some window managers (wine's among them) print only the client area and leave
// children and frame out, so a picture of the window would show an empty rectangle.

#include <windows.h>

namespace vornel::win32 {

// flags are WM_PRINT's PRF_ flags.
void PrintWindowContents(HWND window, HDC dc, LPARAM flags);

} // namespace vornel::win32
