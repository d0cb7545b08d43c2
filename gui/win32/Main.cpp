// The Windows front end: the main window of the platform's own controls over the core.

#include "crc/Crc32.h"
#include "gui/win32/MainWindow.h"
#include "gui/win32/MessageBoxes.h"
#include "gui/win32/Screenshot.h"
#include "gui/win32/WideText.h"

#include <commctrl.h>
#include <cstdio>
#include <exception>
#include <memory>
#include <objbase.h>
#include <shellapi.h>
#include <string>

namespace {

constexpr UINT_PTR kScreenshotTimer = 1;
// The window is mapped and painted well within this time, also under an emulator.
constexpr UINT kScreenshotDelayMs = 1500;

// "--screenshot PATH": show the window, save a picture of it to PATH and end.
std::wstring ScreenshotPath() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring path;
  for (int i = 1; arguments && i + 1 < count; ++i)
    if (std::wstring(arguments[i]) == L"--screenshot")
      path = arguments[i + 1];
  LocalFree(arguments);
  return path;
}

// COM for the shell's folders, for as long as the window lives.
struct ComApartment {
  ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE); }
  ~ComApartment() { CoUninitialize(); }
};

} // namespace

int main() {
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  ComApartment com;
  vornel::Crc32Table();

  std::unique_ptr<vornel::win32::TForm1> form;
  try {
    form = std::make_unique<vornel::win32::TForm1>();
  } catch (const std::exception& error) {
    vornel::win32::ShowErrorBox(nullptr, error.what());
    return 1;
  }
  ShowWindow(form->Handle(), SW_SHOWNORMAL);
  UpdateWindow(form->Handle());

  const std::wstring screenshot = ScreenshotPath();
  if (!screenshot.empty())
    SetTimer(form->Handle(), kScreenshotTimer, kScreenshotDelayMs, nullptr);

  MSG message{};
  int status = 0;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == form->Handle() &&
        message.wParam == kScreenshotTimer) {
      KillTimer(form->Handle(), kScreenshotTimer);
      try {
        vornel::win32::SaveWindowPicture(form->Handle(), vornel::win32::Narrow(screenshot));
      } catch (const std::exception& error) {
        // No box: the picture is taken unattended, and a box would wait for ever.
        status = 1;
        std::fprintf(stderr, "%s\n", error.what());
      }
      DestroyWindow(form->Handle());
      continue;
    }
    if (form->TranslateDialogKeys(message))
      continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return status != 0 ? status : static_cast<int>(message.wParam);
}
