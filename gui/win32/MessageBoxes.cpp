#include "gui/win32/MessageBoxes.h"

#include "app/WindowLayout.h"
#include "gui/win32/WideText.h"
#include "platform/Errors.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace vornel::win32 {

namespace {

// A dialog described in memory, so that the dialog manager gives it the keys of a message box
// (Enter, Esc, Tab) without a resource script.
class DialogTemplate {
public:
  DialogTemplate(short width, short height, const std::wstring& caption) {
    const DLGTEMPLATE dialog{DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION |
                                 WS_SYSMENU,
                             0,
                             0,
                             0,
                             0,
                             width,
                             height};
    Append(&dialog, sizeof dialog);
    Word(0); // no menu
    Word(0); // the dialog class
    Text(caption);
    Word(8);
    Text(L"MS Shell Dlg");
  }

  // A control of a predefined class (0x80 button, 0x81 edit, 0x82 static), in dialog units.
  void Add(WORD classAtom, DWORD style, short x, short y, short width, short height, WORD id,
           const std::wstring& text) {
    while (bytes_.size() % 4 != 0)
      bytes_.push_back(std::byte{0});
    const DLGITEMTEMPLATE item{style | WS_CHILD | WS_VISIBLE, 0, x, y, width, height, id};
    Append(&item, sizeof item);
    Word(0xFFFF);
    Word(classAtom);
    Text(text);
    Word(0); // no creation data
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(bytes_.data());
    ++dialog->cdit;
  }

  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
  void Append(const void* data, std::size_t size) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + size);
    std::memcpy(bytes_.data() + at, data, size);
  }
  void Word(WORD value) { Append(&value, sizeof value); }
  void Text(const std::wstring& text) { Append(text.c_str(), (text.size() + 1) * sizeof(wchar_t)); }

  std::vector<std::byte> bytes_;
};

INT_PTR CALLBACK ListBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG: {
    // Set here rather than in the template: a template's text is capped far below a long list.
    const HWND lines = GetDlgItem(dialog, ListBoxLinesId);
    SendMessageW(lines, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(lines, reinterpret_cast<const wchar_t*>(lParam));
    SetFocus(GetDlgItem(dialog, IDOK));
    return FALSE;
  }
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
      EndDialog(dialog, IDOK);
      return TRUE;
    }
    return FALSE;
  default:
    return FALSE;
  }
}

} // namespace

void ShowPlainBox(HWND owner, const std::string& text) {
  MessageBoxW(owner, Widen(text).c_str(), Widen(window::ApplicationName).c_str(), MB_OK);
}

void ShowErrorBox(HWND owner, const std::string& message) {
  MessageBoxW(owner, Widen(ErrorBoxText(message)).c_str(), Widen(window::ApplicationName).c_str(),
              MB_OK | MB_ICONSTOP);
}

void ShowListBox(HWND owner, const std::string& heading, const std::string& lines) {
  std::wstring text;
  for (const wchar_t c : Widen(lines)) {
    if (c == L'\n')
      text += L'\r';
    text += c;
  }
  DialogTemplate dialog(320, 200, Widen(window::ApplicationName));
  // The heading has the id a message box gives its text.
  dialog.Add(0x82, SS_LEFT, 7, 7, 306, 18, 0xFFFF, Widen(heading));
  dialog.Add(0x81,
             ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                 WS_HSCROLL | WS_BORDER | WS_TABSTOP,
             7, 28, 306, 144, ListBoxLinesId, L"");
  dialog.Add(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 263, 179, 50, 14, IDOK, L"OK");
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, ListBoxProc,
                          reinterpret_cast<LPARAM>(text.c_str()));
}

} // namespace vornel::win32
