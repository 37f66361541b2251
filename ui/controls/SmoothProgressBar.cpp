#include "ui/controls/SmoothProgressBar.h"

#include <cstdio>

#include "ui/controls/Dpi.h"
#include "ui/controls/Shapes.h"
#include "ui/controls/Theme.h"

namespace lk::ui {
namespace {
constexpr wchar_t kClassName[] = L"LkSmoothProgressBar";
}

bool SmoothProgressBar::Create(const CreateArgs& args) {
  args_ = args;
  RegisterWindowClass(kClassName, 0, nullptr);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (args.visible) style |= WS_VISIBLE;
  if (!CreateBound(0, kClassName, L"0 [%]", style, args.place.left, args.place.top,
                   args.place.right - args.place.left, args.place.bottom - args.place.top,
                   args.parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(args.id)))) {
    return false;
  }
  SetDpi(args.dpi);
  return true;
}

void SmoothProgressBar::SetDpi(UINT dpi) {
  args_.dpi = dpi;
  font_ = MakeFont(args_.fontFace, args_.fontPixels, dpi, true);
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void SmoothProgressBar::SetProgress(double position, double maximum) {
  double percent = maximum > 0.0 ? position * 100.0 / maximum : 0.0;
  if (percent < 0.0) percent = 0.0;
  if (percent > 100.0) percent = 100.0;
  percent_ = percent;
  wchar_t text[32];
  std::swprintf(text, 32, L"%.0f [%%]", percent_);
  DefWindowProcW(Hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void SmoothProgressBar::Paint(HDC dc, const RECT& client) {
  const int width = client.right;
  const int height = client.bottom;
  {
    Gdiplus::Graphics graphics(dc);
    // Track, with a soft highlight on its upper half.
    Gdiplus::SolidBrush track(ToColor(args_.track));
    graphics.FillRectangle(&track, 0, 0, width, height);
    const int barWidth = static_cast<int>(static_cast<double>(width) * percent_ / 100.0 + 0.5);
    if (barWidth > 0) {
      Gdiplus::LinearGradientBrush bar(Gdiplus::Rect(-1, 0, width + 2, height),
                                       ToColor(args_.barStart), ToColor(args_.barEnd),
                                       Gdiplus::LinearGradientModeHorizontal);
      graphics.FillRectangle(&bar, 0, 0, barWidth, height);
    }
    // The mirrored gloss: a light upper half fading into a slightly darker lower half.
    const int half = height / 2;
    Gdiplus::LinearGradientBrush gloss(
        Gdiplus::Rect(0, -1, width, half + 2), Gdiplus::Color(150, 255, 255, 255),
        Gdiplus::Color(40, 255, 255, 255), Gdiplus::LinearGradientModeVertical);
    graphics.FillRectangle(&gloss, 0, 0, width, half);
    Gdiplus::LinearGradientBrush shade(Gdiplus::Rect(0, half - 1, width, height - half + 2),
                                       Gdiplus::Color(0, 0, 0, 0), Gdiplus::Color(45, 0, 0, 0),
                                       Gdiplus::LinearGradientModeVertical);
    graphics.FillRectangle(&shade, 0, half, width, height - half);
    Gdiplus::Pen border(Gdiplus::Color(255, 0x7D, 0xA2, 0xCE), 1.0f);
    graphics.DrawRectangle(&border, 0, 0, width - 1, height - 1);
  }
  wchar_t text[32] = {};
  GetWindowTextW(Hwnd(), text, 32);
  ScopedSelect select(dc, font_.Get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, args_.textColor);
  RECT r = client;
  DrawTextW(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace lk::ui
