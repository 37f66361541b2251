#include "ui/controls/Gdi.h"

#include <utility>

#include "ui/controls/Msimg32Library.h"

namespace lk::ui {

BufferedPaint::BufferedPaint(HWND window) noexcept {
  PaintTraits::Type paint{window, {}};
  BeginPaint(window, &paint.paint);
  paint_.Reset(paint);
  GetClientRect(window, &client_);
  const int width = client_.right - client_.left;
  const int height = client_.bottom - client_.top;
  if (width <= 0 || height <= 0) return;
  const HDC windowDc = paint_.Get().paint.hdc;
  UniqueMemoryDc memory(CreateCompatibleDC(windowDc));
  UniqueBitmap bitmap(CreateCompatibleBitmap(windowDc, width, height));
  if (!memory || !bitmap) return;
  memory_ = std::move(memory);
  bitmap_ = std::move(bitmap);
  selectBitmap_.emplace(memory_.Get(), bitmap_.Get());
}

BufferedPaint::~BufferedPaint() {
  if (memory_) {
    BitBlt(paint_.Get().paint.hdc, 0, 0, client_.right, client_.bottom, memory_.Get(), 0, 0,
           SRCCOPY);
  }
  // The members then undo the rest in reverse order: selection, bitmap, memory DC, EndPaint.
}

MemoryCanvas::MemoryCanvas(HDC reference, int width, int height) noexcept
    : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.Reset(CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  dc_.Reset(CreateCompatibleDC(reference));
  if (bitmap_ && dc_) {
    pixels_ = static_cast<std::uint32_t*>(bits);
    selectBitmap_.emplace(dc_.Get(), bitmap_.Get());
  }
}

void FillGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical) {
  TRIVERTEX vertices[2] = {};
  vertices[0].x = rect.left;
  vertices[0].y = rect.top;
  vertices[0].Red = static_cast<COLOR16>(GetRValue(first) << 8);
  vertices[0].Green = static_cast<COLOR16>(GetGValue(first) << 8);
  vertices[0].Blue = static_cast<COLOR16>(GetBValue(first) << 8);
  vertices[1].x = rect.right;
  vertices[1].y = rect.bottom;
  vertices[1].Red = static_cast<COLOR16>(GetRValue(second) << 8);
  vertices[1].Green = static_cast<COLOR16>(GetGValue(second) << 8);
  vertices[1].Blue = static_cast<COLOR16>(GetBValue(second) << 8);
  GRADIENT_RECT gradient{0, 1};
  // Without the library (the program reports that at start-up) the rectangle stays as it is.
  const Msimg32Library& msimg32 = Msimg32Library::Shared();
  if (!msimg32) return;
  msimg32->GradientFill(dc, vertices, 2, &gradient, 1,
                        vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
  const COLORREF previous = SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  SetBkColor(dc, previous);
}

void PaintParentBackground(HWND child, HDC dc) {
  HWND parent = GetParent(child);
  if (parent == nullptr) return;
  POINT origin{0, 0};
  MapWindowPoints(child, parent, &origin, 1);
  POINT previous{};
  OffsetViewportOrgEx(dc, -origin.x, -origin.y, &previous);
  SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
}

}  // namespace lk::ui
