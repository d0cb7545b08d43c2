#include "gui/win32/Screenshot.h"

#include "gui/win32/PngFile.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace vornel::win32 {

namespace {

// Releases the drawing objects on every way out.
struct PictureSurface {
  HDC Screen = nullptr;
  HDC Memory = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ Previous = nullptr;

  ~PictureSurface() {
    if (Memory && Previous)
      SelectObject(Memory, Previous);
    if (Bitmap)
      DeleteObject(Bitmap);
    if (Memory)
      DeleteDC(Memory);
    if (Screen)
      ReleaseDC(nullptr, Screen);
  }
};

} // namespace

void SaveWindowPicture(HWND window, const std::string& path) {
  RECT frame{};
  if (!GetWindowRect(window, &frame))
    throw std::runtime_error("The window has no size to picture");
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;

  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height; // top row first
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;

  PictureSurface surface;
  void* bits = nullptr;
  surface.Screen = GetDC(nullptr);
  surface.Memory = CreateCompatibleDC(surface.Screen);
  surface.Bitmap = CreateDIBSection(surface.Screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!surface.Memory || !surface.Bitmap || !bits)
    throw std::runtime_error("No room to picture the window");
  surface.Previous = SelectObject(surface.Memory, surface.Bitmap);
  if (!PrintWindow(window, surface.Memory, 0))
    throw std::runtime_error("The window could not be pictured");
  GdiFlush();

  // The bitmap holds blue, green, red and an unused byte per pixel.
  const auto* pixels = static_cast<const std::uint8_t*>(bits);
  std::vector<std::uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (std::size_t at = 0; at < static_cast<std::size_t>(width) * height * 4; at += 4)
    rgb.insert(rgb.end(), {pixels[at + 2], pixels[at + 1], pixels[at]});
  WritePng(path, width, height, rgb);
}

} // namespace vornel::win32
