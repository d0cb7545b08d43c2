#include "gui/win32/PrintWindowContents.h"

namespace vornel::win32 {

namespace {

// Where window's client area starts, measured from its frame's top-left corner.
POINT ClientOrigin(HWND window) {
  RECT frame{};
  GetWindowRect(window, &frame);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  return {origin.x - frame.left, origin.y - frame.top};
}

void PrintFrame(HWND window, HDC dc) {
  RECT frame{};
  GetWindowRect(window, &frame);
  OffsetRect(&frame, -frame.left, -frame.top);
  const POINT client = ClientOrigin(window);
  if (client.x == 0 && client.y == 0)
    return; // no frame to draw

  FillRect(dc, &frame, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &frame, EDGE_RAISED, BF_RECT);
  const int border = client.x;
  RECT caption{border, border, frame.right - border, client.y};
  const bool small = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  DrawCaption(window, dc, &caption,
              DC_ACTIVE | DC_TEXT | DC_GRADIENT | (small ? DC_SMALLCAP : DC_ICON));
  const int button = caption.bottom - caption.top - 4;
  RECT close{caption.right - button - 2, caption.top + 2, caption.right - 2, caption.bottom - 2};
  // The cross is drawn by hand: the symbol font the system would take may be missing.
  DrawFrameControl(dc, &close, DFC_BUTTON, DFCS_BUTTONPUSH);
  HPEN pen = CreatePen(PS_SOLID, 2, GetSysColor(COLOR_BTNTEXT));
  const HGDIOBJ previous = SelectObject(dc, pen);
  const int inset = (close.bottom - close.top) / 4 + 1;
  MoveToEx(dc, close.left + inset, close.top + inset, nullptr);
  LineTo(dc, close.right - inset, close.bottom - inset);
  MoveToEx(dc, close.right - inset, close.top + inset, nullptr);
  LineTo(dc, close.left + inset, close.bottom - inset);
  SelectObject(dc, previous);
  DeleteObject(pen);
}

// Prints a control's client area into a bitmap of its own and copies that to at. Controls
// often clip to their client rectangle in device units, so they are printed without any
// offset of the device context.
void PrintClientArea(HWND control, HDC dc, POINT at) {
  RECT area{};
  GetClientRect(control, &area);
  if (area.right <= 0 || area.bottom <= 0)
    return;
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right, area.bottom);
  if (memory && bitmap) {
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    SendMessageW(control, WM_PRINT, reinterpret_cast<WPARAM>(memory),
                 PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
    BitBlt(dc, at.x, at.y, area.right, area.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  }
  if (bitmap)
    DeleteObject(bitmap);
  if (memory)
    DeleteDC(memory);
}

// A control at "at" (device units): its client-edge border, which its own WM_PRINT leaves out,
// then its client area.
void PrintChild(HWND child, HDC dc, POINT at) {
  RECT box{};
  GetWindowRect(child, &box);
  OffsetRect(&box, at.x - box.left, at.y - box.top);
  if ((GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0)
    DrawEdge(dc, &box, EDGE_SUNKEN, BF_RECT);
  const POINT inner = ClientOrigin(child);
  PrintClientArea(child, dc, {at.x + inner.x, at.y + inner.y});
}

} // namespace

void PrintWindowContents(HWND window, HDC dc, LPARAM flags) {
  if ((flags & PRF_CHECKVISIBLE) != 0 && !IsWindowVisible(window))
    return;
  POINT client{0, 0};
  if ((flags & PRF_NONCLIENT) != 0) {
    PrintFrame(window, dc);
    client = ClientOrigin(window);
  }
  if ((flags & PRF_ERASEBKGND) != 0) {
    RECT area{};
    GetClientRect(window, &area);
    OffsetRect(&area, client.x, client.y);
    const auto brush = reinterpret_cast<HBRUSH>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
    FillRect(dc, &area, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
  }
  if ((flags & PRF_CHILDREN) == 0)
    return;
  // Bottom of the z-order first, so that what lies on top is drawn last.
  for (HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST); child != nullptr;
       child = GetWindow(child, GW_HWNDPREV)) {
    if (!IsWindowVisible(child))
      continue;
    RECT box{};
    GetWindowRect(child, &box);
    POINT at{box.left, box.top};
    ScreenToClient(window, &at);
    PrintChild(child, dc, {client.x + at.x, client.y + at.y});
  }
}

} // namespace vornel::win32
