#pragma once

// What both windows show, defined once: the application's name (the caption of its message
// boxes), the window's caption, the About text and where each control lies. The Qt window, the
// Win32 window and their tests take them from here.

#include "app/Version.h"

namespace vornel::window {

inline constexpr const char* ApplicationName = "Vornel";
inline constexpr const char* Caption = "  Vornel v" VORNEL_VERSION_TEXT;
inline constexpr const char* AboutText = "Teskor v0.79a.  Vornel developers, 2026";

// Places are laid out for 96 dots per inch; each window scales them to its screen.
inline constexpr int DesignDpi = 96;

struct Place {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
};

inline constexpr Place ClientArea{0, 0, 305, 315};
inline constexpr Place TreePlace{4, 4, 219, 277};
inline constexpr Place BuildButtonPlace{228, 4, 75, 25};
inline constexpr Place AboutButtonPlace{228, 32, 75, 25};
inline constexpr Place QuitButtonPlace{228, 286, 75, 25};
inline constexpr Place ProgressPlace{4, 286, 219, 25};
// The folder tree's indentation per level and the controls' font size, at 96 dots per inch.
inline constexpr int TreeIndent = 19;
inline constexpr int FontPoints = 8;

} // namespace vornel::window
