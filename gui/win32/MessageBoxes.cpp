#include "gui/win32/MessageBoxes.h"

#include "app/WindowLayout.h"
#include "gui/win32/WideText.h"
#include "platform/Errors.h"

namespace vornel::win32 {

void ShowPlainBox(HWND owner, const std::string& text) {
  MessageBoxW(owner, Widen(text).c_str(), Widen(window::ApplicationName).c_str(), MB_OK);
}

void ShowErrorBox(HWND owner, const std::string& message) {
  MessageBoxW(owner, Widen(ErrorBoxText(message)).c_str(), Widen(window::ApplicationName).c_str(),
              MB_OK | MB_ICONSTOP);
}

} // namespace vornel::win32
