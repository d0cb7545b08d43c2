#include "gui/win32/MainWindow.h"

#include "app/WindowLayout.h"
#include "gui/win32/MessageBoxes.h"
#include "gui/win32/PrintWindowContents.h"
#include "gui/win32/WideText.h"

#include <commctrl.h>
#include <stdexcept>

namespace vornel::win32 {

namespace {

// Messages the build's thread posts to the window; posting never blocks, so a window waiting for
// its build to stop cannot deadlock with it.
constexpr UINT WM_BUILD_PROGRESS_MAX = WM_APP + 2; // wParam: the maximum
constexpr UINT WM_BUILD_PROGRESS_STEP = WM_APP + 3;
constexpr UINT WM_BUILD_PROGRESS_RESET = WM_APP + 4;
constexpr UINT WM_BUILD_ENDED = WM_APP + 5;

constexpr const wchar_t* kWindowClass = L"VornelTForm1";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : window::DesignDpi;
  if (screen)
    ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : window::DesignDpi;
}

// Sizes are laid out for 96 dots per inch and follow the screen's resolution.
int Scale(int value, int dpi) {
  return MulDiv(value, dpi, window::DesignDpi);
}

void RegisterWindowClass(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = procedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    type.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    type.lpszClassName = kWindowClass;
    return RegisterClassExW(&type) != 0;
  }();
  if (!registered)
    throw std::runtime_error("The main window's class could not be registered");
}

HWND CreateControl(HWND parent, const wchar_t* type, const wchar_t* text, DWORD style, int id) {
  return CreateWindowExW(0, type, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

} // namespace

TForm1::TForm1() {
  RegisterWindowClass(&TForm1::WindowProc);
  window_ =
      CreateWindowExW(kExStyle, kWindowClass, Widen(window::Caption).c_str(), kStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window_ == nullptr)
    throw std::runtime_error("The main window could not be created");
  try {
    CreateControls();
    PlaceControls();
    session_ = std::make_unique<BuildSession>(static_cast<SessionWindow&>(*this));
  } catch (...) {
    quitOnDestroy_ = false;
    DestroyWindow(window_);
    throw;
  }
}

TForm1::~TForm1() {
  // The build posts to this window: it must be over before the window goes.
  session_.reset();
  quitOnDestroy_ = false;
  if (IsWindow(window_))
    DestroyWindow(window_);
  if (font_)
    DeleteObject(font_);
}

void TForm1::CreateControls() {
  // Created in tab order, which is the order Tab walks them.
  ShellTreeView1 = std::make_unique<ShellFolderTree>(window_, ShellTreeView1Id);
  Button1 = CreateControl(window_, WC_BUTTONW, L"Build", WS_TABSTOP | BS_PUSHBUTTON, Button1Id);
  Button2 = CreateControl(window_, WC_BUTTONW, L"About", WS_TABSTOP | BS_PUSHBUTTON, Button2Id);
  Button3 = CreateControl(window_, WC_BUTTONW, L"Quit", WS_TABSTOP | BS_PUSHBUTTON, Button3Id);
  ProgressBar1 = CreateControl(window_, PROGRESS_CLASSW, L"", 0, ProgressBar1Id);
  if (!ShellTreeView1->Handle() || !Button1 || !Button2 || !Button3 || !ProgressBar1)
    throw std::runtime_error("The main window's controls could not be created");
  SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
  SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
}

void TForm1::PlaceControls() {
  const int dpi = ScreenDpi();
  const auto place = [dpi](HWND control, const window::Place& at) {
    SetWindowPos(control, nullptr, Scale(at.X, dpi), Scale(at.Y, dpi), Scale(at.Width, dpi),
                 Scale(at.Height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(ShellTreeView1->Handle(), window::TreePlace);
  place(Button1, window::BuildButtonPlace);
  place(Button2, window::AboutButtonPlace);
  place(Button3, window::QuitButtonPlace);
  place(ProgressBar1, window::ProgressPlace);
  SendMessageW(ShellTreeView1->Handle(), TVM_SETINDENT, Scale(window::TreeIndent, dpi), 0);

  // "MS Sans Serif", 8 point: height -11 at 96 dpi.
  font_ = CreateFontW(-MulDiv(window::FontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  for (HWND control : {ShellTreeView1->Handle(), Button1, Button2, Button3, ProgressBar1})
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  RECT frame{0, 0, Scale(window::ClientArea.Width, dpi), Scale(window::ClientArea.Height, dpi)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT desk{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &desk, 0);
  SetWindowPos(window_, nullptr, desk.left + (desk.right - desk.left - width) / 2,
               desk.top + (desk.bottom - desk.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TForm1::TranslateDialogKeys(MSG& msg) {
  return IsWindow(window_) && IsDialogMessageW(window_, &msg);
}

void TForm1::Button1Click() {
  session_->Start(ShellTreeView1->SelectedPath());
}

void TForm1::Button2Click() {
  ShowPlain(window::AboutText);
}

void TForm1::Button3Click() {
  SendMessageW(window_, WM_CLOSE, 0, 0);
}

void TForm1::OnClose() {
  session_->Close();
  DestroyWindow(window_);
}

void TForm1::SetBuilding(bool building) {
  EnableWindow(ShellTreeView1->Handle(), building ? FALSE : TRUE);
  EnableWindow(Button1, building ? FALSE : TRUE);
  if (building)
    SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
}

void TForm1::PostProgressMax(std::int32_t maximum) {
  PostMessageW(window_, WM_BUILD_PROGRESS_MAX, static_cast<WPARAM>(maximum), 0);
}

void TForm1::PostProgressStep() {
  PostMessageW(window_, WM_BUILD_PROGRESS_STEP, 0, 0);
}

void TForm1::PostProgressReset() {
  PostMessageW(window_, WM_BUILD_PROGRESS_RESET, 0, 0);
}

void TForm1::PostBuildEnded() {
  PostMessageW(window_, WM_BUILD_ENDED, 0, 0);
}

void TForm1::ShowPlain(const std::string& text) {
  ShowPlainBox(window_, text);
}

// The heading and every problem in a list that scrolls; the excerpt is for boxes without one.
void TForm1::ShowProblemList(const std::string& /*excerpt*/, const std::string& heading,
                             const std::string& all) {
  ShowListBox(window_, heading, all);
}

void TForm1::ShowError(const std::string& message) {
  ShowErrorBox(window_, message);
}

void TForm1::BuildFinished() {
  if (OnBuildFinished)
    OnBuildFinished();
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* form = static_cast<TForm1*>(create->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr)
    return DefWindowProcW(window, message, wParam, lParam);
  return form->OnMessage(message, wParam, lParam);
}

LRESULT TForm1::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
    if (HIWORD(wParam) == BN_CLICKED) {
      switch (LOWORD(wParam)) {
      case Button1Id:
        Button1Click();
        return 0;
      case Button2Id:
        Button2Click();
        return 0;
      case Button3Id:
        Button3Click();
        return 0;
      default:
        break;
      }
    }
    break;
  case WM_NOTIFY: {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (ShellTreeView1 && header->hwndFrom == ShellTreeView1->Handle())
      return ShellTreeView1->OnNotify(*header);
    break;
  }
  case WM_BUILD_PROGRESS_MAX:
    SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, static_cast<LPARAM>(wParam));
    return 0;
  case WM_BUILD_PROGRESS_STEP:
    SendMessageW(ProgressBar1, PBM_DELTAPOS, 1, 0);
    return 0;
  case WM_BUILD_PROGRESS_RESET:
    SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
    return 0;
  case WM_BUILD_ENDED:
    session_->Ended();
    return 0;
  case WM_PRINT:
    PrintWindowContents(window_, reinterpret_cast<HDC>(wParam), lParam);
    return 0;
  case WM_CLOSE:
    OnClose();
    return 0;
  case WM_DESTROY:
    if (ShellTreeView1) {
      ShellTreeView1->Clear(); // the tree control goes now; its items' data must not leak
      ShellTreeView1.reset();
    }
    if (quitOnDestroy_)
      PostQuitMessage(0);
    return 0;
  case WM_NCDESTROY:
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    break;
  default:
    break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace vornel::win32
